#include <ctime>
#include <cstdio>
#include <cstring>

#include "platform/registry.h"
#include "platform/sync.h"
#include "platform/system.h"
#include "platform/trace.h"

namespace platform {

namespace {

constexpr std::size_t kMessageLimit = 832;
// The file settings are looked at on the first line and then every 1002 lines.
constexpr int kCheckEvery = 1000;

bool ReadTraceValue(const char* name, DWORD* type, std::string* data) {
  HKEY key = nullptr;
  if (RegOpenKeyEx(HKEY_LOCAL_MACHINE, kZondrelKeyPath, KEY_READ, &key) != 0) return false;
  DWORD size = 0;
  bool ok = RegQueryValueEx(key, name, type, nullptr, &size) == 0;
  if (ok && data != nullptr) {
    data->assign(size, '\0');
    ok = RegQueryValueEx(key, name, type, reinterpret_cast<BYTE*>(data->data()), &size) == 0;
    data->resize(ok ? size : 0);
    // Text ends at its NUL; numbers keep all their bytes.
    if (*type != REG_DWORD && *type != REG_BINARY) {
      while (!data->empty() && data->back() == '\0') data->pop_back();
    }
  }
  RegCloseKey(key);
  return ok;
}

DWORD ReadMask() {
  DWORD type = 0;
  std::string data;
  if (!ReadTraceValue("TraceMask", &type, &data)) return kDefaultTraceMask;
  if (type == REG_DWORD || type == REG_BINARY) {
    if (data.size() < 4) return kDefaultTraceMask;
    DWORD value;
    std::memcpy(&value, data.data(), 4);
    return value;
  }
  return static_cast<DWORD>(std::strtoul(data.c_str(), nullptr, 0));
}

}  // namespace

TraceLog::TraceLog(const char* moduleName) : module_(moduleName) {}

TraceLog::~TraceLog() {
  std::lock_guard<std::mutex> hold(file_lock_);
  if (file_ != nullptr) {
    std::fclose(file_);
    file_ = nullptr;
  }
}

DWORD TraceLog::Mask() {
  if (!mask_read_.load(std::memory_order_acquire)) {
    mask_.store(ReadMask(), std::memory_order_relaxed);
    mask_read_.store(true, std::memory_order_release);
  }
  return mask_.load(std::memory_order_relaxed);
}

void TraceLog::Reload() {
  mask_read_.store(false, std::memory_order_release);
  check_counter_.store(-1);
}

void TraceLog::Flush() {
  std::lock_guard<std::mutex> hold(file_lock_);
  if (file_ != nullptr) std::fflush(file_);
}

void TraceLog::CheckFileSetting() {
  std::string name;
  DWORD type = 0;
  bool exists = ReadTraceValue("TraceFilename", &type, &name);
  std::lock_guard<std::mutex> hold(file_lock_);
  if (file_ != nullptr) std::fflush(file_);
  if (!exists && file_ != nullptr) {
    std::fclose(file_);
    file_ = nullptr;
  } else if (exists && file_ == nullptr && !name.empty()) {
    std::string path = name + "." + module_;
    file_ = std::fopen(path.c_str(), "w+");
  }
  has_file_.store(file_ != nullptr, std::memory_order_release);
}

void TraceLog::Write(DWORD levelBits, const char* format, va_list args) {
  if ((levelBits & Mask()) == 0) return;

  int count = check_counter_.fetch_add(1) + 1;
  if (count == 0) CheckFileSetting();
  if (count > kCheckEvery) check_counter_.store(-1);
  // Busy paths trace on every request: formatting a line that goes nowhere
  // would cost them for nothing.
  if (!has_file_.load(std::memory_order_acquire) && !DebugOutputEnabled()) return;

  // Prefix: thread id, local time "%H:%M:%S ".
  char line[64 + kMessageLimit];
  std::time_t now = std::time(nullptr);
  std::tm local {};
  ::localtime_r(&now, &local);
  int prefix = std::snprintf(line, 64, "%u ", GetCurrentThreadId());
  prefix += static_cast<int>(std::strftime(line + prefix, 64 - static_cast<std::size_t>(prefix),
                                           "%H:%M:%S ", &local));
  // The message is cut at the buffer's size rather than overrunning it.
  std::vsnprintf(line + prefix, kMessageLimit, format, args);

  {
    std::lock_guard<std::mutex> hold(file_lock_);
    if (file_ != nullptr) std::fputs(line, file_);
  }
  OutputDebugString(line);
}

}  // namespace platform
