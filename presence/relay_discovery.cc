#include "presence/relay_discovery.h"

#include <algorithm>
#include <array>
#include <chrono>

#include "platform/system.h"
#include "presence/presence_packets.h"

namespace presence {

namespace {

// A socket of its own for one exchange, closed when it goes.
class ExchangeSocket {
 public:
  ExchangeSocket() : m_Socket(platform::UdpSocket()) {
    if (m_Socket == platform::kInvalidSocket) return;
    if (platform::Bind(m_Socket, {0, 0}) != 0) Close();
  }
  ~ExchangeSocket() { Close(); }
  ExchangeSocket(const ExchangeSocket&) = delete;
  ExchangeSocket& operator=(const ExchangeSocket&) = delete;

  bool Send(const platform::SocketAddress& to, const std::array<unsigned char, kBeaconHeaderSize>& packet) {
    if (m_Socket == platform::kInvalidSocket) return false;
    platform::SetBroadcast(m_Socket, true);
    return platform::SendTo(m_Socket, packet.data(), packet.size(), to) == static_cast<int>(packet.size());
  }

  // The next reply before `deadline`; nothing when none came.
  std::optional<BeaconReply> Next(std::chrono::steady_clock::time_point deadline, platform::SocketAddress& from) {
    unsigned char buffer[kBeaconBufferSize + kBeaconHeaderSize];
    for (;;) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0 || platform::WaitReadable(m_Socket, static_cast<platform::DWORD>(left.count())) <= 0) {
        return std::nullopt;
      }
      const int received = platform::RecvFrom(m_Socket, buffer, sizeof buffer, &from);
      if (received <= 0) continue;
      if (std::optional<BeaconReply> reply = ParseBeaconReply(buffer, static_cast<std::size_t>(received))) return reply;
    }
  }

 private:
  void Close() {
    if (m_Socket != platform::kInvalidSocket) platform::CloseSocket(m_Socket);
    m_Socket = platform::kInvalidSocket;
  }

  platform::SOCKET m_Socket;
};

std::chrono::steady_clock::time_point After(platform::DWORD ms) {
  return std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
}

}  // namespace

std::vector<FoundRelay> DiscoverRelays(const platform::SocketAddress& to, platform::DWORD waitMs) {
  std::vector<FoundRelay> found;
  ExchangeSocket socket;
  // Any peer field but a relay's makes a client request.
  if (!socket.Send(to, BuildBeaconHeader(0, 0, platform::GetHostName(), std::string(), 0))) return found;
  const auto deadline = After(waitMs);
  platform::SocketAddress from;
  while (found.size() < kMaxFoundRelays) {
    const std::optional<BeaconReply> reply = socket.Next(deadline, from);
    if (!reply) break;
    if (reply->code != kAnswerClient) continue;
    const bool known = std::any_of(found.begin(), found.end(), [&](const FoundRelay& relay) {
      return relay.reader.address == from.address && relay.reader.port == from.port;
    });
    if (!known) found.push_back({from, reply->computerName, reply->registrationId});
  }
  return found;
}

std::vector<std::optional<perf::Counters>> QueryRelayStatus(const std::vector<platform::SocketAddress>& readers,
                                                            platform::DWORD waitMs) {
  std::vector<std::optional<perf::Counters>> statuses(readers.size());
  ExchangeSocket socket;
  const auto query = BuildBeaconHeader(kRelayPacket, kCommandStatus, platform::GetHostName(), std::string(), 0);
  std::size_t waiting = 0;
  for (const platform::SocketAddress& reader : readers) waiting += socket.Send(reader, query) ? 1 : 0;
  const auto deadline = After(waitMs);
  platform::SocketAddress from;
  while (waiting > 0) {
    const std::optional<BeaconReply> reply = socket.Next(deadline, from);
    if (!reply) break;
    if (reply->code != kAnswerStatus || reply->data.size() != perf::kSnapshotSize) continue;
    for (std::size_t i = 0; i < readers.size(); ++i) {
      if (statuses[i] || readers[i].address != from.address || readers[i].port != from.port) continue;
      std::array<unsigned char, perf::kSnapshotSize> snapshot;
      std::copy(reply->data.begin(), reply->data.end(), snapshot.begin());
      statuses[i] = perf::ParseSnapshot(snapshot);
      --waiting;
      break;
    }
  }
  return statuses;
}

}  // namespace presence
