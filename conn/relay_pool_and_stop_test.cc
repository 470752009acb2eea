// The relay program after a busy spell and while it stops, with a slow
// simulated data centre behind it: a pool that grew to its depth serves the
// next viewers once its threads have expired, and a stop lets the answers
// under way finish, for a bounded time.
#include <signal.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "base/eventually_testing.h"
#include "config/cp_registry.h"
#include "conn/conn_testing.h"
#include "conn/relay_process_testing.h"
#include "platform/sync.h"
#include "upstream/peer_process_testing.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
using Relay = conn_testing::RelayProcess;
using poolmgr_testing::Eventually;

const std::string kPassedThrough = "GET /KIBO-1/5-1 HTTP/1.0\r\n\r\n";
const std::string kBlocked = "GET /KIBO-1/900-1 HTTP/1.0\r\n\r\n";

// Viewers that each send `request` at the same time; their answers are
// collected by Join.
class Viewers {
 public:
  Viewers(unsigned short port, int count, const std::string& request)
      : m_Answers(static_cast<std::size_t>(count)), m_Ended(static_cast<std::size_t>(count)) {
    for (std::size_t i = 0; i < m_Answers.size(); ++i) {
      m_Threads.emplace_back([this, port, request, i] {
        m_Answers[i] = conn_testing::Exchange(port, request);
        m_Ended[i] = Clock::now();
      });
    }
  }
  ~Viewers() { Join(); }
  const std::vector<std::string>& Join() {
    for (std::thread& thread : m_Threads) {
      if (thread.joinable()) thread.join();
    }
    return m_Answers;
  }
  // When each viewer's connection ended (after Join).
  const std::vector<Clock::time_point>& Ended() const { return m_Ended; }

 private:
  std::vector<std::string> m_Answers;
  std::vector<Clock::time_point> m_Ended;
  std::vector<std::thread> m_Threads;
};

// A 200 answer whose body is as long as its Content-Length says.
testing::AssertionResult WholeAnswer(const std::string& answer) {
  const std::size_t end = answer.find("\r\n\r\n");
  const std::size_t field = answer.find("\r\nContent-Length: ");
  if (answer.rfind("HTTP/1.0 200 ", 0) != 0 || end == std::string::npos || field == std::string::npos || field > end) {
    return testing::AssertionFailure() << "not a 200 answer with a length: " << answer.substr(0, 300);
  }
  const std::size_t length = std::stoul(answer.substr(field + 18));
  const std::size_t body = answer.size() - end - 4;
  if (body != length) return testing::AssertionFailure() << body << " of " << length << " body bytes";
  return testing::AssertionSuccess();
}

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// The pool's cleaner looks only every five minutes: the slots of expired
// threads must take new viewers without it.
TEST(RelayPool, ViewersAreServedOnceTheThreadsOfABusySpellHaveExpired) {
  upstream_testing::Simulator simulator;
  ASSERT_TRUE(simulator.Start({"--delay", "400"}));
  constexpr int kDepth = 4;
  Relay relay;
  ASSERT_TRUE(relay.Start(
      {.simulatorPort = simulator.Port(), .recvTimeoutSeconds = 2, .maxClientThreads = kDepth, .threadExpireMs = 300}));

  // The busy spell: as many slow answers at once as the pool has threads.
  Viewers busy(relay.Port(), kDepth, kPassedThrough);
  // Generous bounds: on a loaded machine the threads take longer to expire,
  // and waiting ends as soon as the condition holds.
  ASSERT_TRUE(Eventually([&] { return simulator.Stat("requests") == kDepth; }, milliseconds(15000)));
  const int busyThreads = relay.Threads();
  for (const std::string& answer : busy.Join()) EXPECT_TRUE(WholeAnswer(answer));
  // Then quiet, until every pool thread has expired and ended.
  ASSERT_TRUE(Eventually([&] { return relay.Threads() <= busyThreads - kDepth; }, milliseconds(15000)))
      << relay.Threads() << " threads, " << busyThreads << " while busy";

  // Every viewer that comes next is answered: a few rounds of as many at
  // once as the pool holds.
  for (int round = 0; round < 3; ++round) {
    Viewers next(relay.Port(), kDepth, kBlocked);
    for (const std::string& answer : next.Join()) {
      EXPECT_EQ(answer.rfind("HTTP/1.0 204 ", 0), 0u) << "round " << round << ": " << answer;
    }
  }
  EXPECT_EQ(relay.Stop(), 0);
}

// The time from a stop's signal to the relay's end, without answers to wait
// for: the stop steps and the service frame's pauses. Measured before the
// test's own relay starts, as the two would share the machine's settings.
Clock::duration UsualStop() {
  static const Clock::duration usual = [] {
    Relay relay;
    if (!relay.Start({})) return Clock::duration::zero();
    const auto stopping = Clock::now();
    relay.Stop();
    return Clock::now() - stopping;
  }();
  return usual;
}

TEST(RelayStop, AnswersUnderWayAreFinishedAndNewViewersRefused) {
  const Clock::duration usual = UsualStop();
  upstream_testing::Simulator simulator;
  ASSERT_TRUE(simulator.Start({"--delay", "1500"}));
  Relay relay;
  ASSERT_TRUE(relay.Start({.simulatorPort = simulator.Port()}));

  constexpr int kViewers = 6;
  Viewers viewers(relay.Port(), kViewers, kPassedThrough);
  ASSERT_TRUE(Eventually([&] { return simulator.Stat("requests") == kViewers; }, milliseconds(5000)));
  const auto stopping = Clock::now();
  ASSERT_EQ(::kill(relay.Pid(), SIGTERM), 0);
  // The listener stops first: a viewer that comes while the answers finish
  // is not served.
  ASSERT_TRUE(Eventually([&] { return relay.ConsoleText().find("Terminating All HTTP Streams") != std::string::npos; },
                         milliseconds(2000)));
  platform::Sleep(200);
  EXPECT_EQ(conn_testing::Exchange(relay.Port(), kBlocked), "");
  EXPECT_EQ(relay.Stop(std::chrono::seconds(60)), 0);
  const Clock::duration took = Clock::now() - stopping;
  std::printf("stop with %d answers under way: %.2f s (%.2f s without)\n", kViewers, Seconds(took), Seconds(usual));

  for (const std::string& answer : viewers.Join()) EXPECT_TRUE(WholeAnswer(answer));
  // Within the grace period of 5 s, and the usual steps.
  EXPECT_LT(took, std::chrono::seconds(5) + usual) << Seconds(took) << " s, usually " << Seconds(usual) << " s";
}

TEST(RelayStop, AnswersThatOutlastTheGracePeriodAreCut) {
  const Clock::duration usual = UsualStop();
  CPRegistry().SetStopGracePeriod(1);
  upstream_testing::Simulator simulator;
  ASSERT_TRUE(simulator.Start({"--delay", "60000"}));
  Relay relay;
  ASSERT_TRUE(relay.Start({.simulatorPort = simulator.Port()}));

  constexpr int kViewers = 2;
  Viewers viewers(relay.Port(), kViewers, kPassedThrough);
  ASSERT_TRUE(Eventually([&] { return simulator.Stat("requests") == kViewers; }, milliseconds(5000)));
  const auto stopping = Clock::now();
  EXPECT_EQ(relay.Stop(std::chrono::seconds(60)), 0);
  const Clock::duration took = Clock::now() - stopping;
  viewers.Join();
  // The viewers kept their connections through the grace period.
  for (Clock::time_point ended : viewers.Ended()) {
    EXPECT_GE(ended - stopping, milliseconds(900)) << Seconds(ended - stopping) << " s";
  }
  // The main thread looks for the end once a second.
  EXPECT_LT(took, std::chrono::seconds(1) + usual + milliseconds(2000))
      << Seconds(took) << " s, usually " << Seconds(usual) << " s";
}

}  // namespace
