#include <gtest/gtest.h>

#include <atomic>
#include <string>

#include "config/cp_registry.h"
#include "platform/socket.h"
#include "upstream/http_stream.h"
#include "upstream/scripted_server_testing.h"

namespace {

TEST(OutgoingAddress, TheOneAddressEveryListenEntryNames) {
  CPRegistry settings;
  EXPECT_EQ(upstream::OutgoingAddress(settings), 0u);  // "8080": any interface
  settings.SetServerNoOfListenThreads(2);
  settings.SetServerLISTENIPPort(1, "127.0.0.5,8080");
  settings.SetServerLISTENIPPort(2, " 127.0.0.5 ,8081");
  EXPECT_EQ(upstream::OutgoingAddress(settings), 0x7F000005u);
  settings.SetServerLISTENIPPort(2, "127.0.0.6,8081");
  EXPECT_EQ(upstream::OutgoingAddress(settings), 0u);
  settings.SetServerLISTENIPPort(2, "8081");
  EXPECT_EQ(upstream::OutgoingAddress(settings), 0u);
  settings.SetServerNoOfListenThreads(1);
  settings.SetServerLISTENIPPort(1, "0.0.0.0,8080");
  EXPECT_EQ(upstream::OutgoingAddress(settings), 0u);
}

// A peer sees a relay listening on one address connect from it.
TEST(OutgoingAddress, StreamsConnectFromIt) {
  std::atomic<std::uint32_t> seen{0};
  upstream_testing::ScriptedServer peer(
      [&](platform::SOCKET client, const std::string&) {
        platform::SocketAddress from;
        if (platform::GetPeerAddress(client, &from) == 0) seen = from.address;
      },
      false);
  ASSERT_NE(peer.Port(), 0u);
  CPRegistry settings;
  settings.SetServerLISTENIPPort(1, "127.0.0.23,8080");
  CPHTTPStream stream(settings);
  ASSERT_EQ(stream.Open("127.0.0.1", peer.Port()), 0);
  char byte = 0;
  stream.Read(&byte, 1, 0);
  stream.Close();
  EXPECT_EQ(seen.load(), 0x7F000017u);
}

}  // namespace
