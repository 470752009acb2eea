#include "platform/event_log.h"

#include <cstdio>
#include <cstring>
#include <ctime>
#include <list>

#include "platform/registry.h"
#include "platform/sync.h"
#include "platform/system.h"
#include "platform/trace.h"

namespace platform {

namespace {

std::string SourceKeyPath(const std::string& source) { return kEventSourceKeyPath + source; }

LONG SetDword(HKEY key, const char* name, DWORD value) {
  return RegSetValueEx(key, name, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
}

LONG SetText(HKEY key, const char* name, const std::string& text) {
  return RegSetValueEx(key, name, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                       static_cast<DWORD>(text.size() + 1));
}

// Deletes a key and everything below it.
LONG DeleteTree(HKEY parent, const std::string& path) {
  HKEY key = nullptr;
  LONG result = RegOpenKeyEx(parent, path.c_str(), KEY_ALL_ACCESS, &key);
  if (result != 0) return result;
  std::string child;
  while (RegEnumKey(key, 0, &child) == 0) {
    if (DeleteTree(key, child) != 0) break;
  }
  RegCloseKey(key);
  return RegDeleteKey(parent, path.c_str());
}

DWORD ReadViewMask() {
  HKEY key = nullptr;
  DWORD mask = 0xFFFFFFFF;
  if (RegOpenKeyEx(HKEY_LOCAL_MACHINE, kZondrelKeyPath, KEY_READ, &key) != 0) return mask;
  BYTE data[64] = {};
  DWORD size = sizeof(data) - 1;
  DWORD type = 0;
  if (RegQueryValueEx(key, "EventViewMask", &type, data, &size) == 0) {
    if ((type == REG_DWORD || type == REG_BINARY) && size >= 4) {
      std::memcpy(&mask, data, 4);
    } else if (type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ) {
      mask = static_cast<DWORD>(std::strtoul(reinterpret_cast<char*>(data), nullptr, 10));
    }
  }
  RegCloseKey(key);
  return mask;
}

}  // namespace

// --- CEventLog -------------------------------------------------------------------

CEventLog::CEventLog(std::string sourceName, std::string messageFile)
    : source_(sourceName.empty() ? GetModuleBaseName() : std::move(sourceName)),
      message_file_(std::move(messageFile)) {}

CEventLog::~CEventLog() = default;

bool CEventLog::Register(DWORD typesSupported, DWORD categoryCount) {
  HKEY key = nullptr;
  DWORD disposition = 0;
  LONG result = RegCreateKeyEx(HKEY_LOCAL_MACHINE, SourceKeyPath(source_).c_str(), KEY_ALL_ACCESS,
                               &key, &disposition);
  if (result != 0) {
    last_error_ = static_cast<DWORD>(result);
    return false;
  }
  LONG writes[] = {
      SetDword(key, "TypesSupported", typesSupported == 0 ? 15 : typesSupported),
      SetDword(key, "CategoryCount", categoryCount == 0 ? 100 : categoryCount),
      SetText(key, "EventMessageFile", message_file_),
      SetText(key, "CategoryMessageFile", message_file_),
      SetText(key, "ParameterMessageFile", message_file_),
  };
  RegCloseKey(key);
  for (LONG w : writes) {
    if (w != 0) {
      last_error_ = static_cast<DWORD>(w);
      return false;
    }
  }
  return true;
}

bool CEventLog::Deregister() {
  LONG result = DeleteTree(HKEY_LOCAL_MACHINE, SourceKeyPath(source_));
  last_error_ = static_cast<DWORD>(result);
  return result == 0;
}

bool CEventLog::IsRegistered() {
  HKEY key = nullptr;
  if (RegOpenKeyEx(HKEY_LOCAL_MACHINE, SourceKeyPath(source_).c_str(), KEY_READ, &key) != 0) return false;
  DWORD types = 0, size = sizeof(types), type = 0;
  bool ok = RegQueryValueEx(key, "TypesSupported", &type, reinterpret_cast<BYTE*>(&types), &size) == 0 &&
            types != 0;
  if (ok) {
    DWORD length = 0;
    ok = RegQueryValueEx(key, "EventMessageFile", &type, nullptr, &length) == 0;
    std::string file(length, '\0');
    ok = ok && RegQueryValueEx(key, "EventMessageFile", &type, reinterpret_cast<BYTE*>(file.data()),
                               &length) == 0;
    file.resize(std::strlen(file.c_str()));
    ok = ok && file == message_file_;
  }
  RegCloseKey(key);
  return ok;
}

bool CEventLog::Report(WORD type, WORD category, DWORD eventId,
                       std::initializer_list<std::string_view> strings) {
  std::vector<std::string> list;
  for (std::string_view s : strings) list.emplace_back(s);
  return ReportArray(type, category, eventId, list);
}

bool CEventLog::ReportArray(WORD type, WORD category, DWORD eventId,
                            const std::vector<std::string>& strings) {
  if (AppendEventRecord(source_, type, category, eventId, strings)) return true;
  last_error_ = GetLastError();
  return false;
}

bool CEventLog::ReportException(const std::exception* exception, int code, WORD category,
                                DWORD eventId) {
  std::string message;
  if (exception != nullptr && exception->what() != nullptr && exception->what()[0] != '\0') {
    message.assign(exception->what(), std::min<std::size_t>(std::strlen(exception->what()), 1024));
  } else {
    char buffer[64];
    std::snprintf(buffer, sizeof(buffer), "Unknown Error (%d)", code);
    message = buffer;
  }
  return ReportArray(EVENTLOG_ERROR_TYPE, category, eventId, {message});
}

// --- CMaskedEventLog -----------------------------------------------------------

namespace {

struct LimitEntry {
  std::int64_t expiry = 0;  // 0: no window
  WORD remaining = 0;
  DWORD id = 0;
  WORD type = 0;
  WORD string_count = 0;
  std::string source;
  std::string first_string;
};

Lock g_limits_lock;
std::list<LimitEntry> g_limits GUARDED_BY(g_limits_lock);

}  // namespace

CMaskedEventLog::CMaskedEventLog(std::string sourceName, DWORD viewMask)
    : CEventLog(std::move(sourceName)), view_mask_(viewMask) {}

bool CMaskedEventLog::ReportArray(DWORD viewBits, WORD type, WORD category, DWORD eventId,
                                  const std::vector<std::string>& strings) {
  if ((viewBits & view_mask_) == 0) return true;
  return CEventLog::ReportArray(type, category, eventId, strings);
}

bool CMaskedEventLog::Report(DWORD viewBits, WORD type, WORD category, DWORD eventId,
                             std::initializer_list<std::string_view> strings) {
  std::vector<std::string> list;
  for (std::string_view s : strings) list.emplace_back(s);
  return ReportArray(viewBits, type, category, eventId, list);
}

bool CMaskedEventLog::ReportLimited(DWORD windowSeconds, WORD count, DWORD viewBits, WORD type,
                                    WORD category, DWORD eventId,
                                    std::initializer_list<std::string_view> strings) {
  std::vector<std::string> list;
  for (std::string_view s : strings) list.emplace_back(s);
  const std::string first = list.empty() ? std::string() : list.front();
  const WORD string_count = static_cast<WORD>(list.size());
  const std::int64_t now = std::time(nullptr);
  bool write = false;
  {
    Locked hold(g_limits_lock);
    LimitEntry* found = nullptr;
    for (LimitEntry& entry : g_limits) {
      if (entry.id == eventId && entry.type == type && entry.string_count == string_count &&
          entry.source == source_ && entry.first_string == first) {
        found = &entry;
        break;
      }
    }
    if (found != nullptr) {
      if (found->expiry != 0 && found->expiry < now) {
        found->expiry = now + windowSeconds;
        found->remaining = count;
      }
      if (found->remaining > 0) {
        --found->remaining;
        write = true;
      }
    } else {
      LimitEntry entry;
      entry.expiry = windowSeconds == 0 ? 0 : now + windowSeconds;
      entry.remaining = count > 0 ? static_cast<WORD>(count - 1) : 0;
      entry.id = eventId;
      entry.type = type;
      entry.string_count = string_count;
      entry.source = source_;
      entry.first_string = first;
      g_limits.push_back(std::move(entry));
      write = true;
    }
  }
  if (!write) return true;
  return ReportArray(viewBits, type, category, eventId, list);
}

bool CMaskedEventLog::ReportException(DWORD viewBits, const std::exception* exception, int code,
                                      WORD category, DWORD eventId) {
  if ((viewBits & view_mask_) == 0) return true;
  return CEventLog::ReportException(exception, code, category, eventId);
}

void CMaskedEventLog::ClearLimits() {
  Locked hold(g_limits_lock);
  g_limits.clear();
}

void CMaskedEventLog::ClearLimitsOfType(WORD type) {
  Locked hold(g_limits_lock);
  g_limits.remove_if([type](const LimitEntry& e) { return e.type == type; });
}

void CMaskedEventLog::ClearLimit(WORD type, DWORD eventId) {
  Locked hold(g_limits_lock);
  g_limits.remove_if([type, eventId](const LimitEntry& e) { return e.type == type && e.id == eventId; });
}

// --- the server's helpers ----------------------------------------------------------

bool ReportEvent(WORD type, WORD category, DWORD eventId, DWORD viewBits,
                 std::initializer_list<std::string_view> strings) {
  CMaskedEventLog log({}, ReadViewMask());
  return log.Report(viewBits, type, category, eventId, strings);
}

bool ReportEventLimited(DWORD windowSeconds, WORD count, WORD type, WORD category, DWORD eventId,
                        DWORD viewBits, std::initializer_list<std::string_view> strings) {
  static CMaskedEventLog log({}, ReadViewMask());
  return log.ReportLimited(windowSeconds, count, viewBits, type, category, eventId, strings);
}

}  // namespace platform
