// Test support: UDP sockets of the test on free ports, to receive what the
// heartbeat and the beacon reader send and to talk to a reader.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/socket.h"
#include "platform/types.h"
#include "presence/presence_packets.h"

namespace presence_testing {

inline constexpr std::uint32_t kLoopback = 0x7F000001;

// A UDP socket of the test on a free loopback-reachable port.
struct Receiver {
  Receiver() {
    s = platform::UdpSocket();
    platform::Bind(s, {0, 0});
    platform::SocketAddress local;
    platform::GetLocalAddress(s, &local);
    port = local.port;
  }
  // Binds `wanted` (0: any free port); false when it is taken.
  explicit Receiver(std::uint16_t wanted) {
    s = platform::UdpSocket();
    if (platform::Bind(s, {0, wanted}) != 0) {
      platform::CloseSocket(s);
      s = platform::kInvalidSocket;
      return;
    }
    port = wanted;
  }
  ~Receiver() {
    if (s != platform::kInvalidSocket) platform::CloseSocket(s);
  }
  // The next datagram within `ms`, empty when none came.
  std::vector<unsigned char> Next(platform::DWORD ms = 5000, platform::SocketAddress* from = nullptr) {
    std::vector<unsigned char> data(presence::kBeaconBufferSize + 64);
    if (platform::WaitReadable(s, ms) <= 0) return {};
    platform::SocketAddress sender;
    const int got = platform::RecvFrom(s, data.data(), data.size(), &sender);
    if (from != nullptr) *from = sender;
    data.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    return data;
  }
  void SendTo(std::uint16_t to, const std::vector<unsigned char>& data) {
    platform::SendTo(s, data.data(), data.size(), {kLoopback, to});
  }
  platform::SOCKET s = platform::kInvalidSocket;
  std::uint16_t port = 0;
};

// A free port p whose neighbour p - 1 the test holds (the wake-up goes there).
struct PortPair {
  PortPair() {
    for (int attempt = 0; attempt < 50 && !below; ++attempt) {
      Receiver probe;
      const std::uint16_t port = probe.port;
      platform::CloseSocket(probe.s);
      probe.s = platform::kInvalidSocket;
      auto candidate = std::make_unique<Receiver>(static_cast<std::uint16_t>(port - 1));
      if (candidate->s != platform::kInvalidSocket) {
        below = std::move(candidate);
        readerPort = port;
      }
    }
  }
  std::unique_ptr<Receiver> below;
  std::uint16_t readerPort = 0;
};

// A relay packet with `command` (and the port of a move).
std::vector<unsigned char> Relay(std::int32_t command, std::int32_t field = presence::kRelayPacket,
                                 std::uint32_t port = 0);
// Little-endian fields of a datagram.
std::uint32_t Word(const std::vector<unsigned char>& bytes, std::size_t at);
std::uint16_t Half(const std::vector<unsigned char>& bytes, std::size_t at);

}  // namespace presence_testing
