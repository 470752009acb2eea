// The machine's hosts file, <machine root>/etc/hosts, in the format of the
// system's own: an address, blanks, its names; "#" starts a comment. Name
// lookups consult it before the system resolver, so machines that share one
// real host (each its own root) can each have names and addresses of their
// own. IPv4 lines only; the rest is ignored.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// Bounds: a longer file is read up to here; a longer name is ignored.
inline constexpr std::size_t kMaxHostsFileBytes = 1024 * 1024;
inline constexpr std::size_t kMaxHostNameLength = 255;

struct HostsEntry {
  std::uint32_t address = 0;  // host byte order
  std::vector<std::string> names;
};
std::vector<HostsEntry> ParseHostsText(std::string_view text);

// <machine root>/etc/hosts
std::string MachineHostsFilePath();
// The addresses the machine's hosts file gives a name (compared without
// regard to case), in file order; empty when it names none or is missing.
std::vector<std::uint32_t> HostsFileAddresses(std::string_view name);
// The first name the hosts file gives an address; empty when none.
std::string HostsFileName(std::uint32_t address);

}  // namespace platform
