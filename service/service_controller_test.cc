#include "service/service_controller.h"

#include <filesystem>

#include <gtest/gtest.h>

#include "config/cp_registry.h"
#include "platform/testing.h"
#include "txlog/transaction_log.h"

namespace {

TEST(ServiceController, StartsOnceStopsOnceAndRecordsItsStatistics) {
  std::string home = testing_support::MakeTempDir("home") + "/";
  CPRegistry settings;
  settings.SetHomeDirectory(home.c_str());
  settings.SetWebPort(0);
  settings.SetJavaPort(0);

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

}  // namespace
