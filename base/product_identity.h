// How the relay names itself to viewers and servers: product, version, build
// text and the system it runs on.
#pragma once

#include <string>

namespace net {

inline constexpr int kProductMajorVersion = 1;
inline constexpr int kProductMinorVersion = 1;
inline constexpr const char* kProductBuildText = "Build 1.1.68 domino";
// The service's name in the machine's service database.
inline constexpr const char* kServiceName = "Zondrel";

// The kernel's name and the first three numbers of its release
// ("Linux", 6, 1, 0 for "Linux 6.1.0-18-amd64"); a missing number is 0.
struct SystemVersion {
  std::string name;
  int major = 0;
  int minor = 0;
  int build = 0;
};
SystemVersion ParseSystemVersion(const std::string& nameAndRelease);
// The running system's version, read once.
const SystemVersion& RunningSystemVersion();

// The Server header line of viewer answers, with its CR LF:
// "Server: Orrinvale-Zondrel/1.1 Build 1.1.68 domino (Linux 6.1 Build 0)\r\n".
const std::string& ServerHeaderLine();

}  // namespace net
