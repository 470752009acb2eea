// The trace log: the developer's log. One line per call, written when the
// call's level bits meet the mask in value TraceMask, to the debugger output
// and, while value TraceFilename exists, to the file named by it followed by
// "." and the module's name.
//
// Each module (the server, the registry library, ...) has its own trace state
// and file: it defines its `trace` function with ZONDREL_TRACE_MODULE once.
#pragma once

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <string>

#include "platform/types.h"

namespace platform {

// The key whose values configure tracing and the whole server.
inline constexpr const char* kZondrelKeyPath = "SOFTWARE\\Orrinvale\\Zondrel";
inline constexpr DWORD kDefaultTraceMask = 0x1FBFFE;

class TraceLog {
 public:
  explicit TraceLog(const char* moduleName);
  ~TraceLog();  // flushes and closes the file
  TraceLog(const TraceLog&) = delete;
  TraceLog& operator=(const TraceLog&) = delete;

  void Write(DWORD levelBits, const char* format, va_list args);
  // The mask in force (read on the first use).
  DWORD Mask();
  // Forces the settings to be read again on the next line (tests).
  void Reload();
  // Writes out what the file holds so far (before the process ends).
  void Flush();

 private:
  void CheckFileSetting();

  std::string module_;
  std::atomic<bool> mask_read_{false};
  std::atomic<DWORD> mask_{kDefaultTraceMask};
  std::atomic<int> check_counter_{-1};
  std::mutex file_lock_;
  std::FILE* file_ = nullptr;
  // Whether file_ is open, read without the lock: a line with no file and no
  // debugger output to go to is not even formatted.
  std::atomic<bool> has_file_{false};
};

}  // namespace platform

// The module's trace function. Hidden, so that every shared library and
// program binds to its own.
__attribute__((visibility("hidden"), format(printf, 2, 3))) void trace(platform::DWORD levelBits,
                                                                         const char* format, ...);
// The module's trace state (for tests and for reading the mask).
__attribute__((visibility("hidden"))) platform::TraceLog& ModuleTraceLog();

#define ZONDREL_TRACE_MODULE(name)                                     \
  platform::TraceLog& ModuleTraceLog() {                               \
    static platform::TraceLog log(name);                               \
    return log;                                                        \
  }                                                                    \
  void trace(platform::DWORD levelBits, const char* format, ...) {     \
    va_list args;                                                      \
    va_start(args, format);                                            \
    ModuleTraceLog().Write(levelBits, format, args);                   \
    va_end(args);                                                      \
  }
