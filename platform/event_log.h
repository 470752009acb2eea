// The event log: the operator's log. Numbered events written to the
// machine's Application log under the program's own event source.
//
// Threads: any number of threads and processes may report at once; each
// report is one record appended whole. A log object may be shared by
// reporting threads once its source and message file are set, and its
// LastError() is that of the latest failed call of any of them. The rate
// limits of ReportLimited are the process's, shared by every object and
// guarded by a lock of their own.
#pragma once

#include <atomic>
#include <cstdint>
#include <exception>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "platform/event_store.h"
#include "platform/types.h"

namespace platform {

inline constexpr const char* kEventSourceKeyPath =
    "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\";

// One event source: registration of the source and plain reports.
class CEventLog {
 public:
  // `sourceName` empty: the program's module name without extension.
  explicit CEventLog(std::string sourceName = {}, std::string messageFile = {});
  virtual ~CEventLog();

  // Writes the source's registration key (0 gives 15 types and 100 categories).
  virtual bool Register(DWORD typesSupported, DWORD categoryCount);
  virtual bool Deregister();
  virtual bool IsRegistered();
  // At most 15 insertion strings are written; more are cut.
  virtual bool Report(WORD type, WORD category, DWORD eventId,
                      std::initializer_list<std::string_view> strings);
  virtual bool ReportArray(WORD type, WORD category, DWORD eventId,
                           const std::vector<std::string>& strings);
  // The exception's message is the insertion string ("Unknown Error (%d)"
  // with `code` when it has none).
  virtual bool ReportException(const std::exception* exception, int code, WORD category,
                               DWORD eventId);

  const std::string& SourceName() const { return source_; }
  const std::string& MessageFile() const { return message_file_; }
  void SetMessageFile(std::string path) { message_file_ = std::move(path); }
  DWORD LastError() const { return last_error_.load(); }

 protected:
  std::string source_;
  std::string message_file_;
  std::atomic<DWORD> last_error_{0};
};

// Reports filtered by the event view mask, and reports limited to `count`
// per window of seconds.
class CMaskedEventLog : public CEventLog {
 public:
  explicit CMaskedEventLog(std::string sourceName = {}, DWORD viewMask = 0xFFFFFFFF);

  virtual bool ReportArray(DWORD viewBits, WORD type, WORD category, DWORD eventId,
                           const std::vector<std::string>& strings);
  virtual bool Report(DWORD viewBits, WORD type, WORD category, DWORD eventId,
                      std::initializer_list<std::string_view> strings);
  // Written only while fewer than `count` reports with the same id, type,
  // string count, source and first string were written in this window.
  virtual bool ReportLimited(DWORD windowSeconds, WORD count, DWORD viewBits, WORD type,
                             WORD category, DWORD eventId,
                             std::initializer_list<std::string_view> strings);
  virtual bool ReportException(DWORD viewBits, const std::exception* exception, int code,
                               WORD category, DWORD eventId);
  static void ClearLimits();
  static void ClearLimitsOfType(WORD type);
  static void ClearLimit(WORD type, DWORD eventId);

  DWORD ViewMask() const { return view_mask_; }

 private:
  using CEventLog::Report;
  using CEventLog::ReportArray;
  using CEventLog::ReportException;
  DWORD view_mask_;
};

// The server's report helper: reads value EventViewMask at every call and
// writes the event when viewBits & mask is non-zero.
bool ReportEvent(WORD type, WORD category, DWORD eventId, DWORD viewBits,
                 std::initializer_list<std::string_view> strings);
// The same through the process-wide rate-limited log (its mask is read once,
// when first used).
bool ReportEventLimited(DWORD windowSeconds, WORD count, WORD type, WORD category,
                        DWORD eventId, DWORD viewBits,
                        std::initializer_list<std::string_view> strings);

}  // namespace platform
