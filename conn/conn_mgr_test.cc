// The listener: start and stop, listen addresses, suspension while the pool
// is full, and a process out of descriptors.
#include "conn/conn_mgr.h"
#include "conn/request_collector.h"

#include <sys/resource.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <vector>

#include <gtest/gtest.h>

#include "agents/agent_testing.h"
#include "conn/conn_testing.h"
#include "config/listen_address.h"
#include "platform/sync.h"
#include "poolmgr/pool_results.h"

namespace {

using conn_testing::ClosedUnanswered;
using conn_testing::ConnectHoldingViewer;
using conn_testing::ConnectViewer;
using conn_testing::TestRelay;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

const std::string kRequest = "GET /KIBO-1/7-1 HTTP/1.0\r\n\r\n";
const std::string kAnswer = "HTTP/1.0 200 OK\r\n\r\npassthrough 7";

TEST(ConnMgr, ListenAddressTexts) {
  ListenAddress parsed;
  ASSERT_TRUE(ParseListenAddress("127.0.0.1,8080", parsed));
  EXPECT_EQ(parsed.address, "127.0.0.1");
  EXPECT_EQ(parsed.port, 8080);
  // Without a comma the whole text is the port, on every interface.
  ASSERT_TRUE(ParseListenAddress("8081", parsed));
  EXPECT_EQ(parsed.address, "");
  EXPECT_EQ(parsed.port, 8081);
  ASSERT_TRUE(ParseListenAddress(" 10.1.2.3 , 65535 ", parsed));
  EXPECT_EQ(parsed.address, "10.1.2.3");
  EXPECT_EQ(parsed.port, 65535);
  for (const char* bad : {"", "127.0.0.1", "127.0.0.1,", "1.2.3.4,0", "1.2.3.4,65536", "x,80x", "1,2,3", "-5"}) {
    EXPECT_FALSE(ParseListenAddress(bad, parsed)) << bad;
  }
}

TEST(ConnMgr, StartStopAndTheirResults) {
  CConnMgr manager(nullptr);
  EXPECT_EQ(manager.Shutdown(), CConnMgr::kNotListening);
  ASSERT_EQ(manager.Start(0, 20, nullptr, nullptr, nullptr, nullptr, "127.0.0.1"), 0);
  for (int i = 0; i < 100 && manager.ListenState() != CConnMgr::eListening; ++i) platform::Sleep(10);
  EXPECT_EQ(manager.ListenState(), CConnMgr::eListening);
  EXPECT_EQ(manager.Start(0, 20, nullptr, nullptr, nullptr, nullptr, "127.0.0.1"), CConnMgr::kAlreadyStarted);

  // The port is taken.
  CConnMgr second(nullptr);
  EXPECT_EQ(second.Start(manager.Port(), 20, nullptr, nullptr, nullptr, nullptr, "127.0.0.1"), CConnMgr::kBindFailed);
  EXPECT_EQ(second.ListenState(), CConnMgr::eStopped);

  // Without a pool every request is refused: its connection is closed.
  platform::SOCKET viewer = ConnectViewer(manager.Port());
  ASSERT_NE(viewer, platform::kInvalidSocket);
  ASSERT_TRUE(conn_testing::SendText(viewer, kRequest));
  EXPECT_TRUE(ClosedUnanswered(viewer, milliseconds(2000)));
  platform::CloseSocket(viewer);

  const unsigned short port = manager.Port();
  EXPECT_EQ(manager.Shutdown(), 0);
  EXPECT_EQ(manager.ListenState(), CConnMgr::eStopped);
  EXPECT_EQ(ConnectViewer(port), platform::kInvalidSocket);
  // An address text that is not a dotted address binds every interface.
  EXPECT_EQ(manager.Start(port, 20, nullptr, nullptr, nullptr, nullptr, "relay.example"), 0);
  viewer = ConnectViewer(port);
  EXPECT_NE(viewer, platform::kInvalidSocket);
  platform::CloseSocket(viewer);
}

TEST(ConnMgr, AFullPoolSuspendsListeningUntilFewerThanNinetyPercentWork) {
  agent_testing::TraceCapture traces;
  TestRelay relay({.poolDepth = 10, .recvTimeoutSeconds = 60});
  std::vector<platform::SOCKET> holding;
  for (int i = 0; i < 10; ++i) holding.push_back(ConnectHoldingViewer(relay.Port()));
  ASSERT_TRUE(relay.WaitForWorking(10));

  // No thread left: closed at once, and the listener stops listening.
  platform::SOCKET refused = ConnectHoldingViewer(relay.Port());
  ASSERT_NE(refused, platform::kInvalidSocket);
  EXPECT_TRUE(ClosedUnanswered(refused, milliseconds(1000)));
  platform::CloseSocket(refused);
  for (int i = 0; i < 100 && !relay.Listener().Suspended(); ++i) platform::Sleep(10);
  ASSERT_TRUE(relay.Listener().Suspended());
  EXPECT_EQ(ConnectViewer(relay.Port()), platform::kInvalidSocket);

  // Nine of ten working is still 90%: no resumption at the next poll.
  platform::CloseSocket(holding.back());
  holding.pop_back();
  ASSERT_TRUE(relay.WaitForWorking(9));
  platform::Sleep(CConnMgr::kSuspendPollMs + 500);
  EXPECT_TRUE(relay.Listener().Suspended());

  // Eight of ten: listening again within one poll interval.
  platform::CloseSocket(holding.back());
  holding.pop_back();
  const auto freed = Clock::now();
  for (int i = 0; i < 400 && relay.Listener().Suspended(); ++i) platform::Sleep(10);
  EXPECT_FALSE(relay.Listener().Suspended());
  EXPECT_LT(Clock::now() - freed, milliseconds(CConnMgr::kSuspendPollMs + 1000));
  EXPECT_EQ(conn_testing::Exchange(relay.Port(), kRequest), kAnswer);

  for (platform::SOCKET s : holding) platform::CloseSocket(s);
  const std::string text = traces.Text();
  EXPECT_NE(text.find(" ConnMgr: Pool Depth MAX <<**#" + std::to_string(relay.Port()) + " Suspend**>>\n"),
            std::string::npos);
  EXPECT_NE(text.find(" ConnMgr: Pool Depth MAX <<**#" + std::to_string(relay.Port()) + " Resumed**>>\n"),
            std::string::npos);
}

TEST(ConnMgr, ARequestLargerThanTheListenerCollectsIsFinishedByItsThread) {
  TestRelay relay({.poolDepth = 2, .recvTimeoutSeconds = 5});
  const std::size_t size = CRequestCollector::kMaxRequestBytes * 3;
  const std::string head = "POST /KIBO-1/7-1 HTTP/1.0\r\nContent-Length: " + std::to_string(size) + "\r\n\r\n";
  platform::SOCKET viewer = ConnectViewer(relay.Port());
  ASSERT_TRUE(conn_testing::SendText(viewer, head + std::string(size / 2, 'x')));
  // Past the listener's bound the request goes to a thread, which reads
  // the rest as it comes.
  ASSERT_TRUE(relay.WaitForWorking(1));
  platform::Sleep(200);
  ASSERT_TRUE(conn_testing::SendText(viewer, std::string(size - size / 2, 'y')));
  EXPECT_EQ(conn_testing::ReadToEnd(viewer), "HTTP/1.0 200 OK\r\n\r\npassthrough 7 body " + std::to_string(size));
  platform::CloseSocket(viewer);
}

TEST(ConnMgr, StoppingASuspendedListenerEndsItAtOnce) {
  TestRelay relay({.poolDepth = 1, .recvTimeoutSeconds = 60});
  platform::SOCKET holding = ConnectHoldingViewer(relay.Port());
  ASSERT_TRUE(relay.WaitForWorking(1));
  platform::SOCKET refused = ConnectHoldingViewer(relay.Port());
  EXPECT_TRUE(ClosedUnanswered(refused, milliseconds(1000)));
  for (int i = 0; i < 100 && !relay.Listener().Suspended(); ++i) platform::Sleep(10);
  ASSERT_TRUE(relay.Listener().Suspended());

  const auto started = Clock::now();
  EXPECT_EQ(relay.Listener().Shutdown(), 0);
  EXPECT_LT(Clock::now() - started, milliseconds(1000));
  EXPECT_EQ(relay.Listener().ListenState(), CConnMgr::eStopped);
  platform::CloseSocket(refused);
  platform::CloseSocket(holding);
}

double ProcessCpuSeconds() {
  rusage usage {};
  ::getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

TEST(ConnMgr, OutOfDescriptorsTheListenerClosesConnectionsWithoutSpinning) {
  agent_testing::TraceCapture traces;
  TestRelay relay({.poolDepth = 4, .recvTimeoutSeconds = 5});
  ASSERT_EQ(conn_testing::Exchange(relay.Port(), kRequest), kAnswer);
  // The request thread closes its connection after the viewer has read the
  // answer: that descriptor must be free before the others are taken.
  ASSERT_TRUE(relay.WaitUntilQuiet());

  // The viewers' sockets exist before the descriptors run out.
  std::vector<platform::SOCKET> viewers;
  for (int i = 0; i < 3; ++i) viewers.push_back(platform::TcpSocket());
  rlimit saved {};
  ::getrlimit(RLIMIT_NOFILE, &saved);
  rlimit lowered = saved;
  lowered.rlim_cur = static_cast<rlim_t>(conn_testing::OpenDescriptors() + 64);
  ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &lowered), 0);
  std::vector<int> taken;
  for (int fd; (fd = ::dup(0)) >= 0;) taken.push_back(fd);

  const double cpuBefore = ProcessCpuSeconds();
  for (platform::SOCKET viewer : viewers) {
    ASSERT_EQ(platform::Connect(viewer, platform::SocketAddress{0x7F000001, relay.Port()}, 2000), 0);
    EXPECT_TRUE(ClosedUnanswered(viewer, milliseconds(2000)));
  }
  platform::Sleep(1000);
  EXPECT_LT(ProcessCpuSeconds() - cpuBefore, 0.5);

  for (int fd : taken) ::close(fd);
  ::setrlimit(RLIMIT_NOFILE, &saved);
  for (platform::SOCKET viewer : viewers) platform::CloseSocket(viewer);
  EXPECT_EQ(conn_testing::Exchange(relay.Port(), kRequest), kAnswer);

  const std::string text = traces.Text();
  const std::string burst = "ConnMgr: out of descriptors on port " + std::to_string(relay.Port());
  EXPECT_NE(text.find(burst), std::string::npos);
  EXPECT_EQ(text.find(burst), text.rfind(burst));
  EXPECT_NE(text.find("descriptors free again on port " + std::to_string(relay.Port()) + "; 3 connections"),
            std::string::npos);
}

// A listener that starts accepting only when told, and takes every complete
// request as a pool with room would.
class GatedListener : public CConnMgr {
 public:
  GatedListener() : CConnMgr(nullptr), m_Gate(platform::Event::Create(true, false)) {}
  ~GatedListener() override {
    m_Gate->Set();
    Shutdown();
    std::lock_guard<std::mutex> lock(m_Lock);
    for (platform::SOCKET socket : m_Taken) platform::CloseSocket(socket);
  }
  void Open() { m_Gate->Set(); }
  std::size_t Taken() {
    std::lock_guard<std::mutex> lock(m_Lock);
    return m_Taken.size();
  }

 protected:
  platform::DWORD ListenerThread() override {
    platform::WaitForSingleObject(*m_Gate, platform::kInfinite);
    return CConnMgr::ListenerThread();
  }
  int IssueConnection(platform::SOCKET socket, std::shared_ptr<CCollectedRequest>) override {
    std::lock_guard<std::mutex> lock(m_Lock);
    m_Taken.push_back(socket);
    return poolmgr::kPoolOk;
  }

 private:
  std::unique_ptr<platform::Event> m_Gate;
  std::mutex m_Lock;
  std::vector<platform::SOCKET> m_Taken;
};

// While the listener is busy, viewers that arrive together wait in the
// system's queue: several hundred of them are taken in, none is turned away
// to retry a second later.
TEST(ConnMgr, ViewersArrivingTogetherWaitInTheSystemsQueue) {
  constexpr int kViewers = 300;
  GatedListener listener;
  ASSERT_EQ(listener.Start(0, 20, nullptr, nullptr, nullptr, nullptr, "127.0.0.1"), 0);
  std::vector<platform::SOCKET> viewers;
  for (int i = 0; i < kViewers; ++i) {
    platform::SOCKET viewer = platform::TcpSocket();
    // A connection the full queue refused would wait a second for its retry.
    if (platform::Connect(viewer, platform::SocketAddress{0x7F000001, listener.Port()}, 500) != 0 ||
        !conn_testing::SendText(viewer, kRequest)) {
      platform::CloseSocket(viewer);
      ADD_FAILURE() << "viewer " << i << " was not taken in while the listener was busy";
      break;
    }
    viewers.push_back(viewer);
  }
  listener.Open();
  const auto until = Clock::now() + std::chrono::seconds(10);
  while (listener.Taken() < viewers.size() && Clock::now() < until) platform::Sleep(5);
  EXPECT_EQ(listener.Taken(), static_cast<std::size_t>(kViewers));
  for (platform::SOCKET viewer : viewers) platform::CloseSocket(viewer);
}

// Whether the listener or a thread that has just finished takes a
// connection, each viewer is answered once, logged once and counts as one
// job, also when its request comes in two pieces; nothing stays open.
TEST(ConnMgr, EveryViewerIsAnsweredOnceWhoeverTakesItsConnection) {
  constexpr int kViewers = 240;
  // Room for the four viewers' threads and four more that have just ended
  // a connection and are not parked yet.
  TestRelay relay({.poolDepth = 8, .recvTimeoutSeconds = 5});
  // The first request's entry opens the log file.
  ASSERT_EQ(conn_testing::Exchange(relay.Port(), kRequest), kAnswer);
  ASSERT_TRUE(relay.WaitUntilQuiet());
  relay.LogText();
  const int descriptors = conn_testing::OpenDescriptors();
  std::atomic<int> answered{0};
  conn_testing::RunViewers(relay.Port(), kViewers, [&](int index, platform::SOCKET viewer) {
    // Categories from 100 on: none holds its thread.
    const int category = 100 + index;
    const std::string request = "GET /KIBO-1/" + std::to_string(category) + "-1 HTTP/1.0\r\n\r\n";
    if (index % 3 == 0) {
      // Taken with half a request, its thread hands it back to the listener.
      conn_testing::SendText(viewer, request.substr(0, 10));
      platform::Sleep(2);
      conn_testing::SendText(viewer, request.substr(10));
    } else {
      conn_testing::SendText(viewer, request);
    }
    const std::string answer = conn_testing::ReadToEnd(viewer);
    if (answer == "HTTP/1.0 200 OK\r\n\r\npassthrough " + std::to_string(category)) {
      ++answered;
    } else {
      ADD_FAILURE() << "viewer " << index << " got \"" << answer << "\"";
    }
  });
  EXPECT_EQ(answered.load(), kViewers);
  ASSERT_TRUE(relay.WaitUntilQuiet());
  EXPECT_EQ(relay.Jobs(), kViewers + 1);
  const std::string log = relay.LogText();
  EXPECT_EQ(std::count(log.begin(), log.end(), '\n') - std::count(log.begin(), log.end(), '#'), kViewers + 1);
  EXPECT_EQ(conn_testing::OpenDescriptors(), descriptors);
}

}  // namespace
