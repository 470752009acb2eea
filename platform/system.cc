#include "platform/system.h"

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>

#include "platform/machine.h"
#include "platform/registry.h"

namespace platform {

namespace {

std::string WithSlash(std::string path) {
  if (path.empty() || path.back() != '/') path += '/';
  return path;
}

DWORD ErrorFromErrno(int error) {
  switch (error) {
    case EEXIST: return kErrorAlreadyExists;
    case ENOENT: return kErrorPathNotFound;
    case EACCES:
    case EPERM: return kErrorAccessDenied;
    case ENAMETOOLONG: return kErrorFilenameExcedRange;
    case ENOTDIR: return kErrorPathNotFound;
    default: return kErrorWriteFault;
  }
}

}  // namespace

std::string GetModuleFileName() {
  char buffer[PATH_MAX];
  ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof(buffer) - 1);
  if (n <= 0) return {};
  return std::string(buffer, static_cast<std::size_t>(n));
}

std::string GetModuleDirectory() {
  std::string path = GetModuleFileName();
  auto slash = path.rfind('/');
  return slash == std::string::npos ? std::string("./") : path.substr(0, slash + 1);
}

std::string GetModuleBaseName() {
  std::string path = GetModuleFileName();
  auto slash = path.rfind('/');
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  auto dot = name.rfind('.');
  if (dot != std::string::npos && dot > 0) name.resize(dot);
  return name;
}

std::string GetComputerNameSetting() {
  BYTE buffer[kMaxComputerNameLength + 1] = {};
  DWORD size = kMaxComputerNameLength;
  DWORD type = 0;
  if (RegGetValue(HKEY_LOCAL_MACHINE, kComputerNameKey, kComputerNameValue, &type, buffer, &size) != 0 ||
      (type != REG_SZ && type != REG_EXPAND_SZ)) {
    return {};
  }
  std::string name(reinterpret_cast<const char*>(buffer), std::min<DWORD>(size, kMaxComputerNameLength));
  name.resize(name.find('\0') == std::string::npos ? name.size() : name.find('\0'));
  return name;
}

std::string GetHostName() {
  std::string name = GetComputerNameSetting();
  if (!name.empty()) return name;
  char buffer[256] = {};
  if (::gethostname(buffer, sizeof(buffer) - 1) != 0) return "localhost";
  return buffer;
}

std::string GetSystemNameAndRelease() {
  struct utsname names {};
  if (::uname(&names) != 0) return "Linux";
  return std::string(names.sysname) + " " + names.release;
}

std::string GetWindowsDirectory() { return WithSlash(MachineRoot()); }

std::string GetTempPath() {
  const char* env = std::getenv("TMPDIR");
  return WithSlash((env != nullptr && *env != '\0') ? env : "/tmp");
}

bool SetCurrentDirectory(const std::string& path) {
  if (::chdir(path.c_str()) == 0) return true;
  SetLastError(ErrorFromErrno(errno));
  return false;
}

bool FileExists(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0;
}

bool RegularFileExists(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

std::string CanonicalPath(const std::string& path) {
  char* resolved = ::realpath(path.c_str(), nullptr);
  if (resolved == nullptr) return {};
  std::string result(resolved);
  std::free(resolved);
  return result;
}

bool DirectoryExists(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool CreateDirectory(const std::string& path) {
  if (::mkdir(path.c_str(), 0755) == 0) return true;
  SetLastError(ErrorFromErrno(errno));
  return false;
}

std::string ExpandEnvironmentStrings(const std::string& text) {
  std::string out;
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t open = text.find('%', pos);
    if (open == std::string::npos) break;
    std::size_t close = text.find('%', open + 1);
    if (close == std::string::npos) break;
    out.append(text, pos, open - pos);
    std::string name = text.substr(open + 1, close - open - 1);
    const char* value = name.empty() ? nullptr : std::getenv(name.c_str());
    if (value != nullptr) {
      out += value;
    } else {
      out.append(text, open, close - open + 1);
    }
    pos = close + 1;
  }
  out.append(text, pos, std::string::npos);
  return out;
}

bool DebugOutputEnabled() {
  static const bool enabled = [] {
    const char* env = std::getenv("ZONDREL_DEBUG_OUTPUT");
    return env != nullptr && env[0] == '1';
  }();
  return enabled;
}

unsigned long RaiseDescriptorLimit() {
  rlimit limit {};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return 0;
  // Bounded all the same: code that walks every possible descriptor (a
  // child closing what it inherited) would crawl through an unlimited one.
  constexpr rlim_t kEnough = 65536;
  const rlim_t wanted = std::min<rlim_t>(limit.rlim_max, kEnough);
  if (limit.rlim_cur < wanted) {
    rlimit raised = limit;
    raised.rlim_cur = wanted;
    if (::setrlimit(RLIMIT_NOFILE, &raised) == 0) limit = raised;
  }
  return static_cast<unsigned long>(limit.rlim_cur);
}

void OutputDebugString(const char* text) {
  if (DebugOutputEnabled() && text != nullptr) std::fputs(text, stderr);
}

}  // namespace platform

#include <poll.h>

namespace platform {

int ReadConsoleLine(std::string* line, DWORD milliseconds) {
  // Bytes read past a line end wait here for the next call.
  static std::string pending;
  static bool ended = false;
  for (;;) {
    auto end = pending.find('\n');
    if (end != std::string::npos) {
      line->assign(pending, 0, end);
      if (!line->empty() && line->back() == '\r') line->pop_back();
      pending.erase(0, end + 1);
      return 1;
    }
    if (ended) {
      if (pending.empty()) return -1;
      *line = pending;
      pending.clear();
      return 1;
    }
    pollfd input {0, POLLIN, 0};
    int ready = ::poll(&input, 1, milliseconds == kInfinite ? -1 : static_cast<int>(milliseconds));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return 0;
    char buffer[512];
    ssize_t n = ::read(0, buffer, sizeof(buffer));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ended = true;
      continue;
    }
    // A console line longer than this is nonsense; keep memory bounded.
    if (pending.size() < 64 * 1024) pending.append(buffer, static_cast<std::size_t>(n));
  }
}

bool ReadSecretLine(std::string* line) {
  termios saved {};
  const bool terminal = ::isatty(STDIN_FILENO) == 1 && ::tcgetattr(STDIN_FILENO, &saved) == 0;
  if (terminal) {
    termios quiet = saved;
    quiet.c_lflag &= static_cast<tcflag_t>(~ECHO);
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
  }
  line->clear();
  bool got = false;
  char c = 0;
  while (::read(STDIN_FILENO, &c, 1) == 1) {
    got = true;
    if (c == '\n') break;
    line->push_back(c);
  }
  if (!line->empty() && line->back() == '\r') line->pop_back();
  if (terminal) {
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
    std::fputc('\n', stderr);
  }
  return got;
}

}  // namespace platform
