// Finding the relays of the network as a viewer does: one client request to
// the broadcast address on the beacon port, which every relay's beacon
// reader answers with its names; then, per relay, a status query for its
// counters.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "perf/perf_block.h"
#include "platform/socket.h"
#include "platform/types.h"

namespace presence {

struct FoundRelay {
  platform::SocketAddress reader;  // where its beacon reader answered from
  std::string computerName;
  std::string registrationId;
};

// Replies beyond this many are not listed.
inline constexpr std::size_t kMaxFoundRelays = 256;

// Sends one client request to `to` and lists the readers that answer
// within `waitMs`, each once, in the order they answered.
std::vector<FoundRelay> DiscoverRelays(const platform::SocketAddress& to, platform::DWORD waitMs);

// The counters of the relays whose readers listen at `readers`, asked all
// at once, in their order; nothing for a relay that sent no status within
// `waitMs`.
std::vector<std::optional<perf::Counters>> QueryRelayStatus(const std::vector<platform::SocketAddress>& readers,
                                                            platform::DWORD waitMs);

}  // namespace presence
