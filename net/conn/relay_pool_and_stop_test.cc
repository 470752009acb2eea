// The relay program after a busy spell, with a slow simulated data centre
// behind it: a pool that grew to its depth serves the next viewers once its
// threads have expired.
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "net/conn/conn_testing.h"
#include "net/conn/relay_process_testing.h"
#include "platform/sync.h"
#include "upstream/peer_process_testing.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
using Relay = conn_testing::RelayProcess;

const std::string kPassedThrough = "GET /KIBO-1/5-1 HTTP/1.0\r\n\r\n";
const std::string kBlocked = "GET /KIBO-1/900-1 HTTP/1.0\r\n\r\n";

// Viewers that each send `request` at the same time; their answers are
// collected by Join.
class Viewers {
 public:
  Viewers(unsigned short port, int count, const std::string& request) : m_Answers(static_cast<std::size_t>(count)) {
    for (std::size_t i = 0; i < m_Answers.size(); ++i) {
      m_Threads.emplace_back([this, port, request, i] { m_Answers[i] = conn_testing::Exchange(port, request); });
    }
  }
  ~Viewers() { Join(); }
  const std::vector<std::string>& Join() {
    for (std::thread& thread : m_Threads) {
      if (thread.joinable()) thread.join();
    }
    return m_Answers;
  }

 private:
  std::vector<std::string> m_Answers;
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

bool Eventually(const std::function<bool()>& condition, milliseconds limit) {
  const auto deadline = Clock::now() + limit;
  while (!condition()) {
    if (Clock::now() >= deadline) return false;
    platform::Sleep(10);
  }
  return true;
}

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
  ASSERT_TRUE(Eventually([&] { return simulator.Stat("requests") == kDepth; }, milliseconds(5000)));
  const int busyThreads = relay.Threads();
  for (const std::string& answer : busy.Join()) EXPECT_TRUE(WholeAnswer(answer));
  // Then quiet, until every pool thread has expired and ended.
  ASSERT_TRUE(Eventually([&] { return relay.Threads() <= busyThreads - kDepth; }, milliseconds(5000)))
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

}  // namespace
