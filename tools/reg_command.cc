#include "tools/reg_command.h"

#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <optional>
#include <set>
#include <strings.h>

#include "platform/file.h"
#include "tools/reg_file.h"
#include "tools/reg_key_path.h"
#include "tools/reg_value_text.h"
#include "tools/registry_tree.h"

namespace zondrelctl {

namespace {

using platform::LONG;

constexpr const char* kSuccess = "The operation completed successfully.";
constexpr const char* kNotFound = "The system was unable to find the specified registry key or value.";

int Fail(const std::string& message) {
  std::cerr << "ERROR: " << message << "\n";
  return 1;
}

int Succeed() {
  std::cout << kSuccess << "\n";
  return 0;
}

// Switches are "/x" or "-x", any case. Those in `withArgument` take the next
// word. A word such as "/tmp/x.reg" that names no switch is an argument.
struct Switches {
  std::vector<std::string> positional;
  std::map<std::string, std::string> given;  // lower-case name without its sign

  bool Has(const std::string& name) const { return given.count(name) != 0; }
  const std::string& Get(const std::string& name) const { return given.at(name); }
};

std::optional<Switches> ParseSwitches(const std::vector<std::string>& args, std::size_t from,
                                      const std::set<std::string>& flags,
                                      const std::set<std::string>& withArgument, std::string* error) {
  Switches result;
  for (std::size_t i = from; i < args.size(); ++i) {
    const std::string& word = args[i];
    if (word.size() < 2 || (word[0] != '/' && word[0] != '-')) {
      result.positional.push_back(word);
      continue;
    }
    std::string name = word.substr(1);
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    bool takesArgument = withArgument.count(name) != 0;
    if (!takesArgument && flags.count(name) == 0) {
      if (word[0] == '/' && name.find('/') != std::string::npos) {
        result.positional.push_back(word);
        continue;
      }
      *error = "Invalid syntax: unknown switch " + word + ".";
      return std::nullopt;
    }
    if (result.Has(name)) {
      *error = "Invalid syntax: " + word + " is given twice.";
      return std::nullopt;
    }
    if (takesArgument) {
      if (i + 1 >= args.size()) {
        *error = "Invalid syntax: " + word + " needs an argument.";
        return std::nullopt;
      }
      result.given[name] = args[++i];
    } else {
      result.given[name] = "";
    }
  }
  return result;
}

std::optional<RegKeyPath> KeyArgument(const Switches& switches, std::size_t positionals,
                                      std::string* error) {
  if (switches.positional.size() != positionals) {
    *error = "Invalid syntax: wrong number of arguments. Type \"zondrelctl --help\" for usage.";
    return std::nullopt;
  }
  return ParseRegKeyPath(switches.positional[0], error);
}

// The value name chosen by /v NAME or /ve; nullopt when neither is given.
std::optional<std::string> ValueNameArgument(const Switches& switches, std::string* error) {
  if (switches.Has("v") && switches.Has("ve")) {
    *error = "Invalid syntax: /v and /ve exclude each other.";
    return std::nullopt;
  }
  if (switches.Has("ve")) return std::string();
  if (switches.Has("v")) return switches.Get("v");
  return std::nullopt;
}

std::string DisplayName(const std::string& name) { return name.empty() ? "(Default)" : name; }

void PrintValue(const RegValue& value) {
  std::cout << "    " << DisplayName(value.name) << "    " << RegTypeName(value.type) << "    "
            << FormatValueData(value.type, value.data) << "\n";
}

int Add(const std::vector<std::string>& args) {
  std::string error;
  auto switches = ParseSwitches(args, 1, {"ve", "f"}, {"v", "t", "s", "d"}, &error);
  if (!switches) return Fail(error);
  auto key = KeyArgument(*switches, 1, &error);
  if (!key) return Fail(error);
  auto name = ValueNameArgument(*switches, &error);
  if (!error.empty()) return Fail(error);
  if (!name && (switches->Has("t") || switches->Has("d") || switches->Has("s"))) {
    return Fail("Invalid syntax: /t, /d and /s need /v NAME or /ve.");
  }
  DWORD type = platform::REG_SZ;
  if (switches->Has("t")) {
    auto parsed = ParseRegTypeName(switches->Get("t"));
    if (!parsed) {
      return Fail("Invalid type \"" + switches->Get("t") +
                  "\": use REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ, REG_DWORD, REG_QWORD, REG_BINARY or REG_NONE.");
    }
    type = *parsed;
  }
  std::string_view separator = kDefaultMultiSeparator;
  if (switches->Has("s")) {
    if (type != platform::REG_MULTI_SZ) return Fail("Invalid syntax: /s applies to REG_MULTI_SZ only.");
    if (switches->Get("s").size() != 1) return Fail("Invalid separator: /s takes exactly one character.");
    separator = switches->Get("s");
  }
  RegValue value;
  value.type = type;
  if (name) {
    value.name = *name;
    std::string text = switches->Has("d") ? switches->Get("d") : std::string();
    if (!EncodeValueData(type, text, separator, &value.data, &error)) return Fail(error);
    if (!CheckValueLimits(value.name, value.data.size(), &error)) return Fail(error);
  }
  OpenedKey opened;
  LONG result = CreateKey(*key, &opened);
  if (result != 0) return Fail(RegistryErrorText(result));
  if (name) {
    result = platform::RegSetValueEx(opened.get(), value.name.c_str(), value.type, value.data.data(),
                                     static_cast<DWORD>(value.data.size()));
    if (result != 0) return Fail(RegistryErrorText(result));
  }
  return Succeed();
}

int Query(const std::vector<std::string>& args) {
  std::string error;
  auto switches = ParseSwitches(args, 1, {"ve", "s"}, {"v"}, &error);
  if (!switches) return Fail(error);
  auto key = KeyArgument(*switches, 1, &error);
  if (!key) return Fail(error);
  auto name = ValueNameArgument(*switches, &error);
  if (!error.empty()) return Fail(error);
  bool recursive = switches->Has("s");

  if (!recursive) {
    OpenedKey opened;
    LONG result = OpenKey(*key, &opened);
    if (result != 0) return Fail(RegistryErrorText(result));
    if (name) {
      RegValue value;
      result = ReadValue(opened.get(), *name, &value);
      if (result != 0) return Fail(RegistryErrorText(result));
      std::cout << key->Format() << "\n";
      PrintValue(value);
      std::cout << "\n";
      return 0;
    }
    std::vector<RegValue> values;
    std::vector<std::string> subkeys;
    result = ReadValues(opened.get(), &values);
    if (result == 0) result = ReadSubkeyNames(opened.get(), &subkeys);
    if (result != 0) return Fail(RegistryErrorText(result));
    std::cout << key->Format() << "\n";
    for (const auto& value : values) PrintValue(value);
    if (!subkeys.empty()) std::cout << "\n";
    for (const auto& subkey : subkeys) std::cout << key->Format() << "\\" << subkey << "\n";
    return 0;
  }

  // With /s every key below is shown; with /s and /v only the keys that hold the value.
  std::size_t found = 0;
  LONG result = WalkKeyTree(*key, [&](const RegKeyPath& path, platform::HKEY opened) -> LONG {
    if (name) {
      RegValue value;
      LONG read = ReadValue(opened, *name, &value);
      if (read == static_cast<LONG>(platform::kErrorFileNotFound)) return 0;
      if (read != 0) return read;
      std::cout << path.Format() << "\n";
      PrintValue(value);
      std::cout << "\n";
      ++found;
      return 0;
    }
    std::vector<RegValue> values;
    LONG read = ReadValues(opened, &values);
    if (read != 0) return read;
    std::cout << path.Format() << "\n";
    for (const auto& value : values) PrintValue(value);
    std::cout << "\n";
    ++found;
    return 0;
  });
  if (result != 0) return Fail(RegistryErrorText(result));
  if (found == 0) return Fail(kNotFound);
  return 0;
}

int Delete(const std::vector<std::string>& args) {
  std::string error;
  auto switches = ParseSwitches(args, 1, {"ve", "va", "f"}, {"v"}, &error);
  if (!switches) return Fail(error);
  auto key = KeyArgument(*switches, 1, &error);
  if (!key) return Fail(error);
  auto name = ValueNameArgument(*switches, &error);
  if (!error.empty()) return Fail(error);
  if (name && switches->Has("va")) return Fail("Invalid syntax: /va excludes /v and /ve.");
  // No prompt is ever shown (standard input is not read), so a deletion must be forced.
  if (!switches->Has("f")) return Fail("Deletion needs /f: zondrelctl does not ask for confirmation.");

  if (!name && !switches->Has("va")) {
    if (key->subKey.empty()) return Fail("A root key cannot be deleted.");
    LONG result = DeleteKeyTree(*key);
    if (result != 0) return Fail(RegistryErrorText(result));
    return Succeed();
  }
  OpenedKey opened;
  LONG result = OpenKey(*key, &opened);
  if (result != 0) return Fail(RegistryErrorText(result));
  if (name) {
    result = platform::RegDeleteValue(opened.get(), name->c_str());
    if (result != 0) return Fail(RegistryErrorText(result));
    return Succeed();
  }
  std::vector<RegValue> values;
  result = ReadValues(opened.get(), &values);
  for (std::size_t i = 0; result == 0 && i < values.size(); ++i) {
    result = platform::RegDeleteValue(opened.get(), values[i].name.c_str());
  }
  if (result != 0) return Fail(RegistryErrorText(result));
  return Succeed();
}

int Import(const std::vector<std::string>& args) {
  if (args.size() != 2) return Fail("Invalid syntax: zondrelctl reg import FILE");
  const std::string& path = args[1];
  std::error_code ec;
  auto size = std::filesystem::file_size(path, ec);
  if (ec) return Fail("Cannot read \"" + path + "\": " + ec.message() + ".");
  if (size > kMaxRegFileSize) {
    return Fail("\"" + path + "\" is larger than " + std::to_string(kMaxRegFileSize) + " bytes.");
  }
  std::ifstream file(path, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  if (!file && !file.eof()) return Fail("Cannot read \"" + path + "\".");
  // Everything is checked before the first change is made.
  RegFileContents contents = ParseRegFile(bytes);
  if (!contents.ok()) {
    return Fail(path + " line " + std::to_string(contents.errorLine) + ": " + contents.error +
                ". Nothing was imported.");
  }
  std::size_t failedLine = 0;
  LONG result = ApplyRegFile(contents.entries, &failedLine);
  if (result != 0) {
    return Fail(path + " line " + std::to_string(failedLine) + ": " + RegistryErrorText(result) +
                " The entries before this line were imported.");
  }
  return Succeed();
}

bool HasLineBreak(std::string_view text) { return text.find_first_of("\r\n") != std::string_view::npos; }

int Export(const std::vector<std::string>& args) {
  std::string error;
  auto switches = ParseSwitches(args, 1, {"y"}, {}, &error);
  if (!switches) return Fail(error);
  auto key = KeyArgument(*switches, 2, &error);
  if (!key) return Fail(error);
  const std::string& path = switches->positional[1];
  if (!switches->Has("y") && std::filesystem::exists(path)) {
    return Fail("\"" + path + "\" exists: add /y to overwrite it.");
  }
  std::string text(kRegFileHeader);
  LONG result = WalkKeyTree(*key, [&](const RegKeyPath& keyPath, platform::HKEY opened) -> LONG {
    std::vector<RegValue> values;
    LONG read = ReadValues(opened, &values);
    if (read != 0) return read;
    // The file format has no way to write a line break inside a name.
    if (HasLineBreak(keyPath.subKey)) {
      error = "The key \"" + keyPath.Format() + "\" has a line break in its name; it cannot be exported.";
      return static_cast<LONG>(platform::kErrorInvalidName);
    }
    for (const auto& value : values) {
      if (HasLineBreak(value.name)) {
        error = "A value of \"" + keyPath.Format() + "\" has a line break in its name; it cannot be exported.";
        return static_cast<LONG>(platform::kErrorInvalidName);
      }
    }
    text += FormatRegSection(keyPath, values);
    return 0;
  });
  if (!error.empty()) return Fail(error);
  if (result != 0) return Fail(RegistryErrorText(result));

  // A failed export leaves no half file.
  if (!platform::ReplaceFileContents(path, text)) return Fail("Cannot write \"" + path + "\".");
  return Succeed();
}

}  // namespace

int RunRegCommand(const std::vector<std::string>& args) {
  if (args.empty()) return Fail("Invalid syntax: zondrelctl reg add|query|delete|import|export ...");
  std::string operation = args[0];
  for (char& c : operation) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (operation == "add") return Add(args);
  if (operation == "query") return Query(args);
  if (operation == "delete") return Delete(args);
  if (operation == "import") return Import(args);
  if (operation == "export") return Export(args);
  return Fail("Invalid operation \"" + args[0] + "\": use add, query, delete, import or export.");
}

}  // namespace zondrelctl
