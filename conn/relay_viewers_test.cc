// The running relay against viewers that drip, end their lines oddly or
// send bytes that are no text: none of them may keep the others waiting,
// and what goes upstream and into the log stays well formed.
#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "conn/conn_testing.h"
#include "conn/relay_process_testing.h"
#include "platform/socket.h"
#include "platform/sync.h"
#include "upstream/peer_process_testing.h"
#include "upstream/scripted_server_testing.h"

namespace {

using conn_testing::ClosedUnanswered;
using conn_testing::ConnectViewer;
using conn_testing::SendText;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

TEST(RelayViewers, DrippingViewersNeverKeepOthersWaiting) {
  conn_testing::RelayProcess relay;
  // Far fewer threads than drippers: before requests were collected by the
  // listener, each dripper held a thread and everybody else was refused.
  ASSERT_TRUE(relay.Start({.recvTimeoutSeconds = 2, .maxClientThreads = 16}));
  constexpr int kDrippers = 400;
  const std::string request = "GET /KIBO-1/900-3 HTTP/1.0\r\n\r\n";
  std::vector<platform::SOCKET> drippers;
  for (int i = 0; i < kDrippers; ++i) {
    platform::SOCKET s = ConnectViewer(relay.Port());
    ASSERT_NE(s, platform::kInvalidSocket);
    ASSERT_TRUE(SendText(s, "G"));
    drippers.push_back(s);
  }
  const auto started = Clock::now();
  std::atomic<bool> dripping{true};
  std::thread dripper([&] {
    // A byte every 300 ms each: every read in time, no request ever whole.
    for (std::size_t next = 1; dripping.load() && next + 1 < request.size(); ++next) {
      for (platform::SOCKET s : drippers) SendText(s, request.substr(next, 1));
      platform::Sleep(300);
    }
  });

  // Meanwhile other viewers are answered, one after the other.
  int answered = 0, asked = 0;
  while (Clock::now() - started < milliseconds(3500)) {
    ++asked;
    const std::string answer = conn_testing::Exchange(relay.Port(), "GET /KIBO-1/900-1 HTTP/1.0\r\n\r\n");
    answered += answer.rfind("HTTP/1.0 204 ", 0) == 0;
  }
  dripping.store(false);
  dripper.join();
  EXPECT_GE(asked, 20);
  EXPECT_EQ(answered, asked);

  // The drippers were dropped unanswered at the deadline of the whole
  // request (two receive timeouts after they were accepted).
  int dropped = 0;
  for (platform::SOCKET s : drippers) {
    dropped += ClosedUnanswered(s, milliseconds(2000));
    platform::CloseSocket(s);
  }
  EXPECT_EQ(dropped, kDrippers);
  EXPECT_EQ(relay.Stop(), 0);
  EXPECT_TRUE(conn_testing::LogLine(relay.LogText(), "/KIBO-1/900-3").empty());
}

TEST(RelayViewers, BareLineFeedsGoUpstreamAsCrLfAndLogFieldsArePlainAscii) {
  upstream_testing::ScriptedServer upstream("HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\nok");
  ASSERT_NE(upstream.Port(), 0u);
  conn_testing::RelayProcess relay;
  ASSERT_TRUE(relay.Start({.simulatorPort = upstream.Port(), .recvTimeoutSeconds = 5}));

  const auto asked = Clock::now();
  const std::string answer = conn_testing::Exchange(relay.Port(), "GET /KIBO-1/12345-0 HTTP/1.0\n\n");
  EXPECT_EQ(answer.rfind("HTTP/1.0 200 ", 0), 0u) << answer;
  EXPECT_LT(Clock::now() - asked, milliseconds(3000));
  const std::vector<std::string> heads = upstream.Requests();
  ASSERT_EQ(heads.size(), 1u);
  EXPECT_EQ(heads[0].rfind("GET /KIBO-1/12345-0 HTTP/1.0\r\n", 0), 0u) << heads[0];
  for (std::size_t i = 0; i < heads[0].size(); ++i) {
    if (heads[0][i] == '\n') {
      EXPECT_TRUE(i > 0 && heads[0][i - 1] == '\r') << heads[0];
    }
  }

  // A request whose arguments carry bytes of 0x80 and above.
  conn_testing::Exchange(relay.Port(), "GET /KIBO-1/900-1?caf\xC3\xA9+\xFF HTTP/1.0\r\n\r\n");
  EXPECT_EQ(relay.Stop(), 0);
  const std::string log = relay.LogText();
  for (unsigned char c : log) EXPECT_LT(c, 0x80) << log;
  EXPECT_FALSE(conn_testing::LogLine(log, "/KIBO-1/900-1?caf%C3%A9+%FF").empty()) << log;
}

}  // namespace
