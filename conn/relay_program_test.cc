// The relay program, zondrel in debug mode, with its connections on
// loopback and a simulated data centre behind it: answers and their log
// lines, dripping viewers, and what many connections leave behind.
#include <signal.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "config/cp_registry.h"
#include "conn/conn_testing.h"
#include "conn/relay_process_testing.h"
#include "platform/socket.h"
#include "platform/sync.h"
#include "platform/testing.h"
#include "upstream/peer_process_testing.h"
#include "upstream/scripted_server_testing.h"

namespace {

using conn_testing::ClosedUnanswered;
using conn_testing::ConnectViewer;
using conn_testing::SendText;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

using Relay = conn_testing::RelayProcess;
using conn_testing::LogLine;
using Fields = std::vector<std::string>;

TEST(RelayProgram, AnswersThroughTheAgentsAndLogsEveryAnsweredRequest) {
  upstream_testing::Simulator simulator;
  ASSERT_TRUE(simulator.Start());
  Relay relay;
  ASSERT_TRUE(relay.Start({.simulatorPort = simulator.Port(), .recvTimeoutSeconds = 2}));

  const std::string passed = conn_testing::Exchange(relay.Port(), "GET /KIBO-1/5-1 HTTP/1.0\r\n\r\n");
  EXPECT_EQ(passed.rfind("HTTP/1.0 200 ", 0), 0u) << passed;
  EXPECT_NE(passed.find("\r\nVia: "), std::string::npos) << passed;
  EXPECT_EQ(conn_testing::Exchange(relay.Port(), "GET /KIBO-1/900-7 HTTP/1.0\r\n\r\n").rfind("HTTP/1.0 204 ", 0), 0u);
  // A cached category: fetched once, then answered from memory.
  const std::string fetched = conn_testing::Exchange(relay.Port(), "GET /KIBO-1/1000-0 HTTP/1.0\r\n\r\n");
  EXPECT_EQ(fetched.rfind("HTTP/1.0 200 ", 0), 0u) << fetched;
  EXPECT_EQ(conn_testing::Exchange(relay.Port(), "GET /KIBO-1/1000-0 HTTP/1.0\r\n\r\n"), fetched);
  EXPECT_EQ(simulator.Stat("data"), 2);  // the pass-through request and one fetch
  // The cache report through the admin agent.
  EXPECT_EQ(conn_testing::Exchange(relay.Port(), "GET /KIBO-1/2000-0?PxyAgent HTTP/1.0\r\n\r\n").rfind("HTTP/1.0 204 ", 0),
            0u);

  // A viewer that sends nothing is dropped after RecvTimeout, unlogged (the
  // system holds a silent connection about a second before handing it over).
  const auto connected = Clock::now();
  platform::SOCKET silent = ConnectViewer(relay.Port());
  EXPECT_TRUE(ClosedUnanswered(silent, milliseconds(5000)));
  EXPECT_GE(Clock::now() - connected, milliseconds(1800));
  platform::CloseSocket(silent);

  EXPECT_EQ(relay.Stop(), 0);
  const std::string log = relay.LogText();
  // c-ip date time cs-method cs-uri sc-status bytes time-taken x-agent r-ip rs-status
  auto pass = LogLine(log, "/KIBO-1/5-1");
  ASSERT_FALSE(pass.empty()) << log;
  EXPECT_EQ(pass[0], "127.0.0.1");
  EXPECT_EQ(pass[3], "GET");
  EXPECT_EQ(pass[5], "200");
  EXPECT_EQ(pass[6], std::to_string(passed.size()));
  EXPECT_EQ(pass[8], "0");
  EXPECT_EQ(pass[9], "127.0.0.1");
  EXPECT_EQ(pass[10], "200");
  auto blocked = LogLine(log, "/KIBO-1/900-7");
  ASSERT_FALSE(blocked.empty()) << log;
  EXPECT_EQ(blocked[5], "204");
  EXPECT_EQ(blocked[8], "9");
  EXPECT_EQ(blocked[9], "-");
  std::vector<Fields> cached;
  std::istringstream lines(log);
  for (std::string line; std::getline(lines, line);) {
    if (line.find(" /KIBO-1/1000-0 ") != std::string::npos) cached.push_back(conn_testing::LogFields(line));
  }
  ASSERT_EQ(cached.size(), 2u) << log;
  EXPECT_EQ(cached[0][8], "3");
  EXPECT_EQ(cached[0][9], "127.0.0.1");
  EXPECT_EQ(cached[1][5], "200");
  EXPECT_EQ(cached[1][6], std::to_string(fetched.size()));
  EXPECT_EQ(cached[1][9], "-");  // answered from memory: upstream not asked
  EXPECT_EQ(cached[1][10], "-");
  auto report = LogLine(log, "/KIBO-1/2000-0?PxyAgent");
  ASSERT_FALSE(report.empty()) << log;
  EXPECT_EQ(report[5], "204");
  EXPECT_EQ(report[8], "6");
  // Only answered requests are logged: the silent viewer is not.
  std::istringstream in(log);
  for (std::string line; std::getline(in, line);) {
    if (line.empty() || line[0] == '#') continue;
    auto fields = conn_testing::LogFields(line);
    ASSERT_EQ(fields.size(), 11u) << line;
    EXPECT_TRUE(fields[4] == "/KIBO-1/5-1" || fields[4] == "/KIBO-1/900-7" || fields[4] == "/KIBO-1/900-1" ||
                fields[4] == "/KIBO-1/1000-0" || fields[4] == "/KIBO-1/2000-0?PxyAgent")
        << line;
  }
}

TEST(RelayProgram, AnUpstreamRedirectBackToTheRelayIsAnsweredWith500) {
  std::atomic<unsigned> relayPort{0};
  upstream_testing::ScriptedServer upstream(
      [&](platform::SOCKET client, const std::string&) {
        upstream_testing::ScriptedServer::SendAll(
            client, "HTTP/1.0 302 Found\r\nLocation: http://127.0.0.1:" + std::to_string(relayPort.load()) +
                        "/KIBO-1/5-1\r\nContent-Length: 0\r\n\r\n");
      },
      true);
  ASSERT_NE(upstream.Port(), 0u);
  Relay relay;
  ASSERT_TRUE(relay.Start({.simulatorPort = upstream.Port(), .recvTimeoutSeconds = 5}));
  relayPort.store(relay.Port());

  // The viewer gets the relay's error packet, not a 302 pointing back here.
  const std::string answer = conn_testing::Exchange(relay.Port(), "GET /KIBO-1/5-1 HTTP/1.0\r\n\r\n");
  EXPECT_EQ(answer.rfind("HTTP/1.0 500 ", 0), 0u) << answer;
  EXPECT_EQ(answer.find("Location:"), std::string::npos) << answer;
  EXPECT_EQ(relay.Stop(), 0);
  const auto line = LogLine(relay.LogText(), "/KIBO-1/5-1");
  ASSERT_FALSE(line.empty());
  EXPECT_EQ(line[5], "500");
}

TEST(RelayProgram, ThreeHundredDrippingViewersAreDroppedAndOthersAnsweredAfterwards) {
  Relay relay;
  ASSERT_TRUE(relay.Start({.recvTimeoutSeconds = 1}));
  // As many viewers as the pool has threads, each dripping a byte every
  // 250 ms: every read comes in time, no request ever completes.
  constexpr int kViewers = 300;
  const auto started = Clock::now();
  std::vector<platform::SOCKET> viewers;
  for (int i = 0; i < kViewers; ++i) viewers.push_back(ConnectViewer(relay.Port()));
  std::vector<Clock::duration> droppedAfter(kViewers, Clock::duration::max());
  const std::string request = "GET /KIBO-1/5-1 HTTP/1.0\r\n\r\n";
  // The last byte would go out after 7 s: every viewer must be dropped at
  // its deadline of two receive timeouts (plus what connecting 300 viewers
  // took), before its request could ever complete.
  int dropped = 0;
  Clock::duration latest {};
  for (std::size_t round = 0; round + 1 < request.size() && dropped < kViewers; ++round) {
    for (int i = 0; i < kViewers; ++i) {
      if (droppedAfter[i] != Clock::duration::max() || viewers[i] == platform::kInvalidSocket) continue;
      if (ClosedUnanswered(viewers[i], milliseconds(0)) || !SendText(viewers[i], request.substr(round, 1))) {
        droppedAfter[i] = Clock::now() - started;
        latest = std::max(latest, droppedAfter[i]);
        ++dropped;
      }
    }
    platform::Sleep(250);
  }
  EXPECT_EQ(dropped, kViewers) << "the last drop came after "
                               << std::chrono::duration_cast<milliseconds>(latest).count() << " ms";
  for (platform::SOCKET viewer : viewers) platform::CloseSocket(viewer);

  // The relay answers again once its threads are free (a suspended listener
  // resumes within one poll interval).
  std::string answer;
  for (int i = 0; i < 100 && answer.empty(); ++i) {
    answer = conn_testing::Exchange(relay.Port(), "GET /KIBO-1/900-2 HTTP/1.0\r\n\r\n");
    if (answer.empty()) platform::Sleep(100);
  }
  EXPECT_EQ(answer.rfind("HTTP/1.0 204 ", 0), 0u) << answer;
  EXPECT_EQ(relay.Stop(), 0);
}

TEST(RelayProgram, TenThousandConnectionsLeaveNoDescriptorsOrThreadsBehind) {
  upstream_testing::Simulator simulator;
  ASSERT_TRUE(simulator.Start({"--max-connections", "64"}));
  Relay relay;
  constexpr platform::DWORD kPoolDepth = 32;
  ASSERT_TRUE(relay.Start({.simulatorPort = simulator.Port(), .recvTimeoutSeconds = 1, .maxClientThreads = kPoolDepth}));
  const int threadsWithoutPool = relay.Threads();

  // Four viewers at a time. Of every five connections: one passed through
  // to the simulator, one blocked, and three abandoned: before sending,
  // midway through the request, and after it without reading the answer.
  auto load = [&](int connections) {
    const std::string passed = "GET /KIBO-1/5-1 HTTP/1.0\r\n\r\n";
    const std::string blocked = "GET /KIBO-1/900-1 HTTP/1.0\r\n\r\n";
    conn_testing::RunViewers(relay.Port(), connections, [&](int i, platform::SOCKET s) {
      switch (i % 5) {
        case 0: SendText(s, passed); conn_testing::ReadToEnd(s, milliseconds(5000)); break;
        case 1: SendText(s, blocked); conn_testing::ReadToEnd(s, milliseconds(5000)); break;
        case 2: break;
        case 3: SendText(s, passed.substr(0, 14)); break;
        case 4: SendText(s, passed); break;
      }
    });
  };
  // Waits until the relay's descriptors stay the same for a while.
  auto settled = [&] {
    int last = -1;
    for (int quiet = 0, i = 0; quiet < 5 && i < 200; ++i) {
      platform::Sleep(100);
      const int now = relay.Descriptors();
      quiet = now == last ? quiet + 1 : 0;
      last = now;
    }
    return last;
  };
  load(400);
  // The log's file is open from here on.
  std::unique_ptr<platform::Event> flush = platform::Event::OpenNamed("WriteLogEntries");
  ASSERT_NE(flush, nullptr);
  flush->Set();
  const int descriptors = settled();
  const int threads = relay.Threads();

  const long dataBefore = simulator.Stat("data");
  const auto started = Clock::now();
  load(10000);
  const auto took = Clock::now() - started;
  // Passed through: one connection in five, and some of those that did not
  // wait for their answer.
  EXPECT_GE(simulator.Stat("data") - dataBefore, 2000);
  EXPECT_EQ(settled(), descriptors);
  // Pool threads come with the load, up to the pool's depth.
  EXPECT_LE(relay.Threads(), threadsWithoutPool + static_cast<int>(kPoolDepth));
  // At most 16 registry connections of two descriptors each.
  EXPECT_LE(relay.Descriptors(true), 32);
  std::printf("10000 connections in %.1f s (%ld passed through); relay descriptors %d -> %d (registry's %d), "
              "threads %d without the pool, %d -> %d\n",
              std::chrono::duration<double>(took).count(), simulator.Stat("data") - dataBefore, descriptors,
              relay.Descriptors(), relay.Descriptors(true), threadsWithoutPool, threads, relay.Threads());
  EXPECT_EQ(relay.Stop(), 0);
}

}  // namespace
