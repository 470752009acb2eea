#include "platform/machine.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <string>

namespace platform {

namespace {

// mkdir -p; errors surface later, when the directory is used.
void MakeDirectories(const std::string& path) {
  for (std::size_t pos = 1; pos <= path.size(); ++pos) {
    if (pos == path.size() || path[pos] == '/') {
      std::string part = path.substr(0, pos);
      if (::mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) return;
    }
  }
}

}  // namespace

const std::string& MachineRoot() {
  static const std::string root = [] {
    const char* env = std::getenv("ZONDREL_ROOT");
    std::string path = (env != nullptr && *env != '\0') ? env : "/var/lib/zondrel";
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    MakeDirectories(path);
    return path;
  }();
  return root;
}

std::string MachineDirectory(const char* name) {
  std::string path = MachineRoot() + "/" + name;
  MakeDirectories(path);
  return path + "/";
}

}  // namespace platform
