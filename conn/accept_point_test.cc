// Request threads taking waiting connections themselves: a thread that ends
// a connection takes the next one from the listening socket, a request that
// is still arriving goes back to the listener's collector, and a closed
// point gives nothing.
#include "conn/accept_point.h"

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "conn/client_request_params.h"
#include "conn/conn_testing.h"
#include "conn/connection_counters.h"
#include "conn/request_collector.h"
#include "platform/socket.h"
#include "platform/socket_poller.h"
#include "platform/sync.h"

namespace {

using conn_testing::ClosedUnanswered;
using conn_testing::ConnectViewer;
using conn_testing::SendText;
using platform::kInvalidSocket;
using platform::SOCKET;
using std::chrono::milliseconds;

class CountingCounters : public CConnectionCounters {
 public:
  void ConnectionAccepted() override { ++accepted; }
  void ConnectionRefused() override { ++refused; }
  std::atomic<int> accepted{0};
  std::atomic<int> refused{0};
};

// A non-blocking listening socket on a free loopback port, as a listener
// makes it (but without deferred accept: a connection queues at once).
struct Listening {
  Listening() {
    socket = platform::TcpSocket();
    platform::SetNonBlocking(socket, true);
    platform::Bind(socket, platform::SocketAddress{0x7F000001, 0});
    platform::Listen(socket, 16);
    platform::SocketAddress local;
    platform::GetLocalAddress(socket, &local);
    port = local.port;
  }
  ~Listening() { platform::CloseSocket(socket); }
  SOCKET socket;
  unsigned short port = 0;
};

// Waits until the listening socket has a connection waiting.
void WaitForQueued(const Listening& listening) { ASSERT_EQ(platform::WaitReadable(listening.socket, 5000), 1); }

TEST(AcceptPoint, AThreadThatEndsAConnectionTakesTheNextAndReturnsARequestStillArriving) {
  conn_testing::TestRelay relay({.poolDepth = 2, .recvTimeoutSeconds = 5});
  Listening listening;
  CountingCounters counters;
  auto point = std::make_shared<CAcceptPoint>();
  point->Open(listening.socket, &counters);
  point->CollectReturns(true);

  // The first viewer holds the thread until it closes.
  SOCKET first = conn_testing::ConnectHoldingViewer(listening.port);
  WaitForQueued(listening);
  platform::SocketAddress peer;
  CClientRequestParams job;
  job.m_Socket = platform::Accept(listening.socket, &peer);
  job.m_RecvTimeoutSeconds = 5;
  job.m_AgentTable = &relay.Agents();
  job.m_AcceptPoint = point;
  ASSERT_EQ(relay.Pool().IssueThread(&job, 1), 0);
  ASSERT_TRUE(relay.WaitForWorking(1));

  // Meanwhile a whole request and the start of one queue up.
  SOCKET whole = ConnectViewer(listening.port);
  ASSERT_TRUE(SendText(whole, "GET /KIBO-1/7-1 HTTP/1.0\r\n\r\n"));
  SOCKET arriving = ConnectViewer(listening.port);
  ASSERT_TRUE(SendText(arriving, "GET /KIBO-1/9-1 HTT"));
  platform::Sleep(100);

  platform::CloseSocket(first);
  EXPECT_EQ(conn_testing::ReadToEnd(whole), "HTTP/1.0 200 OK\r\n\r\npassthrough 7");
  platform::CloseSocket(whole);

  // The unfinished request came back with what its thread read of it.
  std::vector<CAcceptPoint::Returned> returned;
  for (int i = 0; i < 500 && returned.empty(); ++i) {
    if (platform::WaitReadable(point->ReturnsDescriptor(), 10) == 1) returned = point->TakeReturned();
  }
  ASSERT_EQ(returned.size(), 1u);
  EXPECT_EQ(returned[0].request->peer, "127.0.0.1");
  EXPECT_EQ(returned[0].request->received, 19u);
  EXPECT_EQ(returned[0].request->status, eHTTPMoreData);
  EXPECT_EQ(platform::WaitReadable(point->ReturnsDescriptor(), 0), 0);

  // Collected on from there, it is whole once the rest comes.
  platform::SocketPoller poller;
  std::shared_ptr<CCollectedRequest> collected;
  SOCKET handedOver = kInvalidSocket;
  CRequestCollector collector(poller, 5, 2, [&](SOCKET s, std::shared_ptr<CCollectedRequest> request) {
    handedOver = s;
    collected = std::move(request);
  });
  collector.Adopt(returned[0].socket, std::move(returned[0].request));
  EXPECT_EQ(collector.Count(), 1u);
  ASSERT_TRUE(SendText(arriving, "P/1.0\r\n\r\n"));
  platform::SocketPoller::Ready ready[4];
  for (int i = 0; i < 50 && collected == nullptr; ++i) {
    const int count = poller.Wait(ready, 4, 100);
    for (int k = 0; k < count; ++k) collector.OnReady(ready[k].token);
  }
  ASSERT_NE(collected, nullptr);
  EXPECT_EQ(collected->status, eHTTPComplete);
  EXPECT_EQ(collected->parser->GetCategory(), 9);
  EXPECT_EQ(collector.Count(), 0u);
  platform::CloseSocket(handedOver);
  platform::CloseSocket(arriving);

  // Two connections taken, each counted; the one answered is a job of its own.
  EXPECT_EQ(counters.accepted.load(), 2);
  ASSERT_TRUE(relay.WaitForWorking(0));
  EXPECT_EQ(relay.Jobs(), 2);
}

TEST(AcceptPoint, AClosedPointGivesNothingAndReturnsNobodyCollectsAreClosed) {
  Listening listening;
  CAcceptPoint point;
  std::string peer;
  SOCKET viewer = ConnectViewer(listening.port);
  ASSERT_TRUE(SendText(viewer, "GET /"));
  WaitForQueued(listening);
  // Never opened, then opened and closed: the waiting viewer stays queued.
  EXPECT_EQ(point.TakeWaiting(&peer), kInvalidSocket);
  point.Open(listening.socket, nullptr);
  point.Close();
  EXPECT_EQ(point.TakeWaiting(&peer), kInvalidSocket);
  EXPECT_EQ(platform::WaitReadable(listening.socket, 0), 1);

  point.Open(listening.socket, nullptr);
  SOCKET taken = point.TakeWaiting(&peer);
  ASSERT_NE(taken, kInvalidSocket);
  EXPECT_EQ(peer, "127.0.0.1");
  EXPECT_EQ(point.TakeWaiting(&peer), kInvalidSocket);  // none waits

  // No listener collects: a returned connection is closed unanswered.
  auto request = std::make_shared<CCollectedRequest>();
  request->peer = peer;
  point.Return(taken, request);
  EXPECT_TRUE(ClosedUnanswered(viewer, milliseconds(2000)));
  platform::CloseSocket(viewer);

  // Collected returns that nobody took are closed when collecting ends.
  point.CollectReturns(true);
  viewer = ConnectViewer(listening.port);
  WaitForQueued(listening);
  point.Return(point.TakeWaiting(&peer), request);
  EXPECT_EQ(platform::WaitReadable(point.ReturnsDescriptor(), 0), 1);
  point.CollectReturns(false);
  EXPECT_TRUE(ClosedUnanswered(viewer, milliseconds(2000)));
  platform::CloseSocket(viewer);
}

}  // namespace
