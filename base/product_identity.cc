#include "base/product_identity.h"

#include <cstdio>
#include <string_view>

#include "base/text_scan.h"
#include "platform/system.h"

namespace net {

SystemVersion ParseSystemVersion(const std::string& nameAndRelease) {
  SystemVersion version;
  std::string_view text(nameAndRelease);
  const std::size_t blank = text.find(' ');
  version.name = std::string(text.substr(0, blank));
  std::string_view release = blank == std::string_view::npos ? std::string_view() : text.substr(blank + 1);
  int* numbers[] = {&version.major, &version.minor, &version.build};
  for (int* number : numbers) {
    if (release.empty() || release.front() < '0' || release.front() > '9') break;
    *number = ScanLong(release);
    std::size_t end = 0;
    while (end < release.size() && release[end] >= '0' && release[end] <= '9') ++end;
    if (end >= release.size() || release[end] != '.') break;
    release.remove_prefix(end + 1);
  }
  return version;
}

const SystemVersion& RunningSystemVersion() {
  static const SystemVersion version = ParseSystemVersion(platform::GetSystemNameAndRelease());
  return version;
}

const std::string& ServerHeaderLine() {
  static const std::string line = [] {
    const SystemVersion& system = RunningSystemVersion();
    char text[256];
    int written = std::snprintf(text, sizeof(text), "%s: %s/%d.%d %s (%s %d.%d Build %d)\r\n", "Server",
                                "Orrinvale-Zondrel", kProductMajorVersion, kProductMinorVersion,
                                kProductBuildText, system.name.c_str(), system.major, system.minor,
                                system.build);
    // A system name too long for the line is cut; the line still ends properly.
    if (written < 0 || static_cast<std::size_t>(written) >= sizeof(text)) {
      return std::string(text, sizeof(text) - 3) + "\r\n";
    }
    return std::string(text, static_cast<std::size_t>(written));
  }();
  return line;
}

}  // namespace net
