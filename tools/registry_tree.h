// What the command line tool does to the machine's registry: whole keys and
// their values read, written and removed by path.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/registry.h"
#include "tools/reg_file.h"
#include "tools/reg_key_path.h"
#include "tools/reg_value_text.h"

namespace zondrelctl {

// A key handle closed when it goes out of scope.
class OpenedKey {
 public:
  OpenedKey() = default;
  explicit OpenedKey(platform::HKEY key) : key_(key) {}
  OpenedKey(OpenedKey&& other) noexcept : key_(other.key_) { other.key_ = nullptr; }
  OpenedKey& operator=(OpenedKey&& other) noexcept;
  OpenedKey(const OpenedKey&) = delete;
  OpenedKey& operator=(const OpenedKey&) = delete;
  ~OpenedKey();

  platform::HKEY get() const { return key_; }
  explicit operator bool() const { return key_ != nullptr; }

 private:
  platform::HKEY key_ = nullptr;
};

platform::HKEY RootKey(RegRoot root);

// Registry error codes; *key stays empty on failure.
platform::LONG OpenKey(const RegKeyPath& path, OpenedKey* key);
platform::LONG CreateKey(const RegKeyPath& path, OpenedKey* key);

// Every value of the key, in the registry's order.
platform::LONG ReadValues(platform::HKEY key, std::vector<RegValue>* values);
// The names of the key's subkeys, in name order.
platform::LONG ReadSubkeyNames(platform::HKEY key, std::vector<std::string>* names);
// Reads one value; kErrorFileNotFound when it is missing.
platform::LONG ReadValue(platform::HKEY key, const std::string& name, RegValue* value);

// Deletes the key with everything below it.
platform::LONG DeleteKeyTree(const RegKeyPath& path);

// Applies parsed .reg entries in order. On failure *failedLine names the entry.
platform::LONG ApplyRegFile(const std::vector<RegFileEntry>& entries, std::size_t* failedLine);

// Calls `visit` for the key and then, depth first in name order, every key
// below it; stops at the first non-zero result and returns it.
platform::LONG WalkKeyTree(const RegKeyPath& path,
                           const std::function<platform::LONG(const RegKeyPath&, platform::HKEY)>& visit);

// A short text for a registry error code.
std::string RegistryErrorText(platform::LONG code);

}  // namespace zondrelctl
