// The machine's Application event log: numbered records appended by any
// process, kept across restarts, read back oldest first.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/types.h"

namespace platform {

constexpr WORD EVENTLOG_ERROR_TYPE = 1;
constexpr WORD EVENTLOG_WARNING_TYPE = 2;
constexpr WORD EVENTLOG_INFORMATION_TYPE = 4;
constexpr std::size_t kMaxEventStrings = 15;
// Insertion strings longer than this are cut.
constexpr std::size_t kMaxEventStringLength = 31839;

struct EventRecord {
  std::uint64_t record = 0;
  std::int64_t time = 0;  // seconds since 1970
  std::string source;
  WORD type = 0;
  WORD category = 0;
  DWORD id = 0;
  std::vector<std::string> strings;
};

// Appends one record. At most kMaxEventStrings strings are kept. False with
// the last error set when the log cannot be written.
bool AppendEventRecord(const std::string& source, WORD type, WORD category, DWORD id,
                       const std::vector<std::string>& strings);

// Every record, oldest first (at most `limit`, the newest ones).
std::vector<EventRecord> ReadEventRecords(std::size_t limit = SIZE_MAX);

// A message file: lines "0xC00005F0 The %1 service was installed." (blank lines
// and lines starting with ';' are ignored). Returns the text of `id` with %1..%n
// replaced by the insertion strings, or an empty string when the id is unknown.
std::string FormatEventMessage(const std::string& messageFilePath, DWORD id,
                               const std::vector<std::string>& strings);

}  // namespace platform
