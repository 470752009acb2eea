#include "service/service_controller.h"

#include <chrono>
#include <filesystem>
#include <map>
#include <string>

#include <gtest/gtest.h>

#include "agents/agent_table.h"
#include "config/cp_registry.h"
#include "conn/conn_mgr.h"
#include "conn/conn_testing.h"
#include "platform/socket.h"
#include "platform/testing.h"
#include "poolmgr/pool_manager.h"
#include "service/nt_service.h"
#include "txlog/transaction_log.h"
#include "upstream/peer_process_testing.h"
#include "upstream/scripted_server_testing.h"

namespace {

unsigned short FreeLoopbackPort() { return static_cast<unsigned short>(upstream_testing::FreeLoopbackPort()); }

std::string ListenText(unsigned short port) { return "127.0.0.1," + std::to_string(port); }

TEST(ServiceController, StartsOnceStopsOnceAndRecordsItsStatistics) {
  std::string home = testing_support::MakeTempDir("home") + "/";
  CPRegistry settings;
  settings.SetHomeDirectory(home.c_str());
  settings.SetWebPort(0);
  settings.SetUDPBeaconPort(0);
  settings.SetJavaPort(0);
  settings.SetServerLISTENIPPort(1, ListenText(FreeLoopbackPort()).c_str());

  ServiceController controller;
  EXPECT_EQ(controller.Stop(), ServiceController::kErrNotStarted);
  ASSERT_EQ(controller.Start(nullptr), 0u);
  EXPECT_EQ(controller.Start(nullptr), ServiceController::kErrAlreadyStarted);

  EXPECT_EQ(settings.GetStatisticsMajorVersion(), 1u);
  EXPECT_EQ(settings.GetStatisticsMinorVersion(), 1u);
  EXPECT_EQ(settings.GetStatisticsBuildStatus(), "Build 1.1.68 domino");
  // "Mon Dec 07 22:40:01 2026"
  EXPECT_EQ(settings.GetStatisticsRunningSince().size(), 24u);

  ASSERT_NE(controller.TransactionLog(), nullptr);
  controller.TransactionLog()->Flush();
  EXPECT_TRUE(std::filesystem::exists(home + "Log/Tx000001.log"));

  EXPECT_EQ(controller.Stop(), 0u);
  EXPECT_EQ(controller.TransactionLog(), nullptr);
  EXPECT_EQ(controller.Stop(), ServiceController::kErrNotStarted);
  // A stopped controller can be started again.
  EXPECT_EQ(controller.Start(nullptr), 0u);
}

TEST(ServiceController, BuildsAndTakesDownTheClientPoolAgentsAndListeners) {
  CPRegistry settings;
  settings.SetHomeDirectory((testing_support::MakeTempDir("home") + "/").c_str());
  settings.SetWebPort(0);
  settings.SetUDPBeaconPort(0);
  settings.SetJavaPort(0);
  settings.SetServerMaxClientThreads(7);
  settings.SetServerNoOfListenThreads(3);
  const unsigned short first = FreeLoopbackPort();
  const unsigned short second = FreeLoopbackPort();
  settings.SetServerLISTENIPPort(1, ListenText(first).c_str());
  settings.SetServerLISTENIPPort(2, ListenText(second).c_str());
  // Names no port: no listener, and the step reports that none started last.
  settings.SetServerLISTENIPPort(3, "127.0.0.1");

  ServiceController controller;
  EXPECT_EQ(controller.Start(nullptr), ServiceController::kErrNoListener);
  EXPECT_FALSE(controller.Started());
  ASSERT_NE(controller.ClientPool(), nullptr);
  int slots = 0, idle = 0, reserved = 0, working = 0, ended = 0, expired = 0;
  float average = 0;
  EXPECT_EQ(controller.ClientPool()->GatherSummaryStats(slots, idle, reserved, working, ended, expired, average), 0);
  EXPECT_EQ(slots, 7);
  EXPECT_NE(controller.AgentList(), nullptr);
  EXPECT_NE(controller.Agents()[ePassThroughSlot], nullptr);
  EXPECT_NE(controller.Agents()[eNullSlot], nullptr);
  EXPECT_NE(controller.Agents()[eProxySlot], nullptr);
  EXPECT_NE(controller.Agents()[eAdminSlot], nullptr);
  EXPECT_NE(controller.Agents()[eRedirectSlot], nullptr);
  EXPECT_NE(controller.Redirection(), nullptr);
  ASSERT_EQ(controller.ListenerCount(), 2u);
  EXPECT_EQ(controller.Listener(1)->Port(), second);

  // No agent list on this machine: passed through, and with no data centre
  // configured the pass-through agent answers 500.
  for (unsigned short port : {first, second}) {
    std::string answer = conn_testing::Exchange(port, "GET /KIBO-1/7-1 HTTP/1.0\r\n\r\n");
    EXPECT_EQ(answer.rfind("HTTP/1.0 500 ", 0), 0u) << answer;
  }
}

// The wait hint of each stop report.
class StopReports : public CNTService {
 public:
  StopReports() : CNTService("StopReports", "Stop Reports") {}
  void SetStatus(DWORD state, DWORD checkpoint, DWORD waitHint, const char* text) override {
    CNTService::SetStatus(state, checkpoint, waitHint, text);
    if (state == platform::SERVICE_STOP_PENDING) hints[text] = Status().dwWaitHint;
  }
  std::map<std::string, DWORD> hints;
};

TEST(ServiceController, StopGivesRequestsUnderWayTheGracePeriodThenClosesTheListenersAndThePool) {
  CPRegistry settings;
  settings.SetHomeDirectory((testing_support::MakeTempDir("home") + "/").c_str());
  settings.SetWebPort(0);
  settings.SetUDPBeaconPort(0);
  settings.SetJavaPort(0);
  settings.SetStopGracePeriod(1);
  const unsigned short port = FreeLoopbackPort();
  settings.SetServerLISTENIPPort(1, ListenText(port).c_str());

  // Upstream answers long after the grace period.
  upstream_testing::ScriptedServer upstream(
      [](platform::SOCKET client, const std::string&) {
        platform::Sleep(3000);
        upstream_testing::ScriptedServer::SendAll(client, "HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\nok");
      },
      true);
  settings.SetIPPort(1, upstream.Address().c_str());

  StopReports reports;
  ServiceController controller;
  ASSERT_EQ(controller.Start(&reports), 0u);
  platform::SOCKET waiting = conn_testing::ConnectViewer(port);
  ASSERT_NE(waiting, platform::kInvalidSocket);
  ASSERT_TRUE(conn_testing::SendText(waiting, "GET /KIBO-1/5-1 HTTP/1.0\r\n\r\n"));
  auto working = [&] {
    int slots = 0, idle = 0, reserved = 0, busy = 0, ended = 0, expired = 0;
    float average = 0;
    controller.ClientPool()->GatherSummaryStats(slots, idle, reserved, busy, ended, expired, average);
    return busy;
  };
  for (int i = 0; i < 200 && working() == 0; ++i) platform::Sleep(10);
  ASSERT_EQ(working(), 1);
  const auto stopping = std::chrono::steady_clock::now();
  EXPECT_EQ(controller.Stop(), 0u);
  const auto took = std::chrono::steady_clock::now() - stopping;
  // A request thread waits for upstream's answer: the stop waits for it, as
  // long as the grace period, then cuts the upstream stream.
  EXPECT_GE(took, std::chrono::milliseconds(1000));
  EXPECT_LT(took, std::chrono::milliseconds(4000));
  // The service manager is told to expect the wait, and then steps as usual.
  EXPECT_EQ(reports.hints["Terminating All HTTP Streams"], 11000u);
  EXPECT_EQ(reports.hints["Destroying Heart Beat"], 10000u);
  EXPECT_EQ(reports.hints["Destroying Service Controller"], 10000u);
  // The viewer whose answer was cut has its connection closed.
  conn_testing::ReadToEnd(waiting, std::chrono::milliseconds(1000));
  char byte = 0;
  EXPECT_EQ(platform::Recv(waiting, &byte, 1, platform::MSG_DONTWAIT_FLAG), 0);
  platform::CloseSocket(waiting);
  EXPECT_EQ(conn_testing::ConnectViewer(port), platform::kInvalidSocket);
  EXPECT_EQ(controller.ClientPool(), nullptr);
  EXPECT_EQ(controller.ListenerCount(), 0u);
  EXPECT_EQ(controller.AgentList(), nullptr);
  EXPECT_EQ(controller.Agents()[ePassThroughSlot], nullptr);
  EXPECT_EQ(controller.Redirection(), nullptr);
}

}  // namespace
