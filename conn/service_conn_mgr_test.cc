// A listener whose threads serve their own connections: a service that
// throws ends its connection (closed, not left open) and the pool goes on.
#include "conn/service_conn_mgr.h"

#include <atomic>
#include <chrono>
#include <stdexcept>

#include <gtest/gtest.h>

#include "conn/conn_testing.h"
#include "conn/connection_thread.h"
#include "net/connection_service.h"
#include "platform/socket.h"
#include "platform/sync.h"
#include "poolmgr/pool_manager.h"

namespace {

class ThrowingService : public CConnectionService {
 public:
  void ServeConnection(platform::SOCKET, const std::string&, std::chrono::steady_clock::time_point,
                       const std::atomic<bool>&) override {
    ++calls;
    throw std::runtime_error("broken service");
  }
  std::atomic<int> calls{0};
};

// The viewer sees its connection closed a moment before the thread that
// closed it is idle again; until then the pool counts it as working.
bool WaitUntilNoThreadWorks(QRPoolManager& pool) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  for (;;) {
    int slots = 0, idle = 0, reserved = 0, working = 0, ended = 0, expired = 0;
    float averageJobs = 0;
    if (pool.GatherSummaryStats(slots, idle, reserved, working, ended, expired, averageJobs) == 0 &&
        reserved == 0 && working == 0) {
      return ended == 0;  // the threads that served went on, none ended
    }
    if (std::chrono::steady_clock::now() >= deadline) return false;
    platform::Sleep(1);
  }
}

TEST(ServiceConnMgr, AServiceThatThrowsClosesItsConnectionAndThePoolGoesOn) {
  ThrowingService service;
  CConnectionThreadFactory factory;
  QRPoolManager pool(&factory, 60000, 60000, 1);
  ASSERT_EQ(pool.OpenPool(2, 0), 0);
  CServiceConnMgr listener(&pool, &service);
  ASSERT_EQ(listener.Start(0, 5, nullptr, nullptr, nullptr, nullptr, "127.0.0.1"), 0);
  for (int i = 0; i < 3; ++i) {
    platform::SOCKET viewer = conn_testing::ConnectViewer(listener.Port());
    ASSERT_TRUE(conn_testing::SendText(viewer, "GET / HTTP/1.0\r\n\r\n"));
    EXPECT_TRUE(conn_testing::ClosedUnanswered(viewer, std::chrono::seconds(5))) << i;
    EXPECT_TRUE(WaitUntilNoThreadWorks(pool)) << i;
  }
  EXPECT_EQ(service.calls.load(), 3);
  listener.Shutdown();
  pool.ClosePoolEasy();
}

}  // namespace
