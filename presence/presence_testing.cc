#include "presence/presence_testing.h"

#include <cstring>

namespace presence_testing {

std::vector<unsigned char> Relay(std::int32_t command, std::int32_t field,
                                 std::uint32_t port) {
  auto header = presence::BuildBeaconHeader(field, command, "PEER", "", 0);
  std::vector<unsigned char> packet(header.begin(), header.end());
  if (command == presence::kCommandMove) std::memcpy(&packet[12], &port, 4);
  return packet;
}

std::uint32_t Word(const std::vector<unsigned char>& bytes, std::size_t at) {
  return static_cast<std::uint32_t>(bytes[at]) | (static_cast<std::uint32_t>(bytes[at + 1]) << 8) |
         (static_cast<std::uint32_t>(bytes[at + 2]) << 16) | (static_cast<std::uint32_t>(bytes[at + 3]) << 24);
}
std::uint16_t Half(const std::vector<unsigned char>& bytes, std::size_t at) {
  return static_cast<std::uint16_t>(bytes[at] | (bytes[at + 1] << 8));
}

}  // namespace presence_testing
