// Where the server keeps temporary files (fetched copies of URLs, ...).
#include <string>

#include "config/cp_registry.h"
#include "platform/registry.h"
#include "platform/system.h"
#include "platform/types.h"

namespace {

std::string WithTrailingSlash(std::string path) {
  if (path.empty() || path.back() != '/') path += '/';
  return path;
}

// Used when the system names no temporary directory of its own and
// TempDirectory is not set.
std::string FallbackTempDirectory() {
  if (!platform::DirectoryExists("/tmp") && platform::DirectoryExists("/var/tmp")) return "/var/tmp";
  return "/tmp";
}

}  // namespace

std::string CPRegistry::GetTempDirectory() {
  // One answer for the whole run, so every part writes to the same place.
  static const std::string cached = FindTempDirectory();
  return cached;
}

std::string CPRegistry::FindTempDirectory() {
  const std::string system_directory = WithTrailingSlash(platform::GetWindowsDirectory());
  std::string path = platform::GetTempPath();
  // The machine root is no place for scratch files; the settings decide then.
  if (path.empty() || WithTrailingSlash(path) == system_directory) {
    path = ReadText("TempDirectory", FallbackTempDirectory());
  }
  if (path.size() > 1 && path.back() == '/') path.pop_back();

  // A relative path would depend on the current directory; anything that is
  // not a usable directory falls back to the machine root.
  if (path.empty() || path.front() != '/') {
    path = system_directory;
  } else if (platform::FileExists(path) && !platform::DirectoryExists(path)) {
    path = system_directory;
  } else if (!platform::CreateDirectory(path) &&
             platform::GetLastError() != platform::kErrorAlreadyExists) {
    path = system_directory;
  }

  path = WithTrailingSlash(path);
  SetValue("TempTemp", path.c_str(), platform::REG_SZ);
  return path;
}
