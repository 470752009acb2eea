#include "tools/eventlog_command.h"

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <iostream>
#include <map>

#include "platform/event_log.h"
#include "platform/event_store.h"
#include "platform/system.h"
#include "base/json_text.h"
#include "tools/registry_tree.h"

namespace zondrelctl {

namespace {

// Finds a record's message text: the source's registered message files, then
// the message file shipped beside this program, then the bare strings.
class MessageTexts {
 public:
  std::string TextOf(const platform::EventRecord& record) {
    for (const auto& path : FilesOf(record.source)) {
      std::string text = Format(path, record);
      if (!text.empty()) return text;
    }
    std::string text = Format(platform::GetModuleDirectory() + "evtmsgs.msg", record);
    if (!text.empty()) return text;
    text = "(no message text) ";
    for (std::size_t i = 0; i < record.strings.size(); ++i) {
      if (i > 0) text += ", ";
      text += record.strings[i];
    }
    return text;
  }

 private:
  static std::string Format(const std::string& path, const platform::EventRecord& record) {
    // Only plain files: a registered path might name a device or directory.
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) return {};
    std::string text = platform::FormatEventMessage(path, record.id, record.strings);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return text;
  }

  // EventMessageFile may list several files separated by ';'.
  const std::vector<std::string>& FilesOf(const std::string& source) {
    auto known = files_.find(source);
    if (known != files_.end()) return known->second;
    std::vector<std::string>& files = files_[source];
    // A source name is one key name; anything else cannot be registered.
    if (source.empty() || source.find('\\') != std::string::npos) return files;
    OpenedKey key;
    RegKeyPath path{RegRoot::kLocalMachine, std::string(platform::kEventSourceKeyPath) + source};
    RegValue value;
    if (OpenKey(path, &key) != 0 || ReadValue(key.get(), "EventMessageFile", &value) != 0) return files;
    if (value.type != platform::REG_SZ && value.type != platform::REG_EXPAND_SZ) return files;
    std::string list = FormatValueData(value.type, value.data);
    if (value.type == platform::REG_EXPAND_SZ) list = platform::ExpandEnvironmentStrings(list);
    std::size_t start = 0;
    while (start <= list.size()) {
      std::size_t end = list.find(';', start);
      if (end == std::string::npos) end = list.size();
      if (end > start) files.push_back(list.substr(start, end - start));
      start = end + 1;
    }
    return files;
  }

  std::map<std::string, std::vector<std::string>> files_;
};

std::string TypeName(platform::WORD type) {
  switch (type) {
    case 0: return "Success";
    case platform::EVENTLOG_ERROR_TYPE: return "Error";
    case platform::EVENTLOG_WARNING_TYPE: return "Warning";
    case platform::EVENTLOG_INFORMATION_TYPE: return "Information";
    case 8: return "Audit Success";
    case 16: return "Audit Failure";
    default: return "Type " + std::to_string(type);
  }
}

// Log records come from any process: in the one-line form, line breaks and
// other control characters must not forge lines of their own.
std::string OneLine(std::string text) {
  for (char& c : text) {
    if (c == '\n' || c == '\r' || c == '\t') {
      c = ' ';
    } else if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
      c = '?';
    }
  }
  return text;
}

std::string LocalTime(std::int64_t seconds) {
  std::time_t time = static_cast<std::time_t>(seconds);
  std::tm parts{};
  char buffer[32] = "";
  if (::localtime_r(&time, &parts) == nullptr ||
      std::strftime(buffer, sizeof(buffer), "%Y-%m-%d %H:%M:%S", &parts) == 0) {
    return std::to_string(seconds);
  }
  return buffer;
}

std::string TextLine(const platform::EventRecord& record, const std::string& message) {
  char id[16];
  std::snprintf(id, sizeof(id), "0x%08X", record.id);
  return "#" + std::to_string(record.record) + " " + LocalTime(record.time) + " " +
         OneLine(record.source) + " " + TypeName(record.type) + " (category " +
         std::to_string(record.category) + ", id " + id + "): " + OneLine(message);
}

std::string JsonLine(const platform::EventRecord& record, const std::string& message) {
  std::string line = "{\"record\":" + std::to_string(record.record) +
                     ",\"time\":" + std::to_string(record.time) +
                     ",\"source\":" + json::JsonQuote(record.source) +
                     ",\"type\":" + std::to_string(record.type) +
                     ",\"category\":" + std::to_string(record.category) +
                     ",\"id\":" + std::to_string(record.id) + ",\"strings\":[";
  for (std::size_t i = 0; i < record.strings.size(); ++i) {
    if (i > 0) line += ',';
    line += json::JsonQuote(record.strings[i]);
  }
  return line + "],\"message\":" + json::JsonQuote(message) + "}";
}

}  // namespace

int RunEventLogCommand(const std::vector<std::string>& args) {
  bool json = false;
  for (const auto& arg : args) {
    if (arg == "--json") {
      json = true;
    } else {
      std::cerr << "ERROR: Invalid syntax: zondrelctl eventlog [--json]\n";
      return 1;
    }
  }
  MessageTexts texts;
  for (const auto& record : platform::ReadEventRecords()) {
    std::string message = texts.TextOf(record);
    std::cout << (json ? JsonLine(record, message) : TextLine(record, message)) << "\n";
  }
  return 0;
}

}  // namespace zondrelctl
