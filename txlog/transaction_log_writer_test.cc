// The writer thread and the log's failure states: flushing on the named
// event, suspension after repeated failures, the disabled log, and many
// request threads at once.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>
#include <vector>

#include "platform/event_log.h"
#include "platform/sync.h"
#include "base/eventually_testing.h"
#include "txlog/log_testing.h"
#include "txlog/transaction_log.h"

namespace fs = std::filesystem;
using poolmgr_testing::Eventually;
using testing_support::ReadFile;
using txlog_testing::AddRequest;
using txlog_testing::CountOf;
using txlog_testing::UseNewLogDirectory;

namespace {

std::vector<platform::EventRecord> EventsWithId(platform::DWORD id) {
  std::vector<platform::EventRecord> found;
  for (auto& record : platform::ReadEventRecords()) {
    if (record.id == id) found.push_back(record);
  }
  return found;
}

TEST(TransactionLogWriter, NamedEventSetByAnotherProcessFlushes) {
  const std::string dir = UseNewLogDirectory();
  auto log = OpenViewerTransactionLog(CPRegistry());
  ASSERT_NE(log, nullptr);
  AddRequest(*log, "/wake-up");

  auto result = testing_support::Run(
      {testing_support::ProgramPath("zondrelctl"), "event", "set", "WriteLogEntries"}, {},
      std::chrono::seconds(20));
  ASSERT_EQ(result.exit_code, 0) << result.error;
  EXPECT_TRUE(Eventually([&] {
    return fs::exists(dir + "Tx000001.log") &&
           ReadFile(dir + "Tx000001.log").find(" /wake-up ") != std::string::npos;
  }));
}

TEST(TransactionLogWriter, UnopenableFileSuspendsAndFiveFailuresPauseLogging) {
  const std::string dir = UseNewLogDirectory();
  fs::create_directory(dir + "Tx000001.log");  // cannot be opened as a file
  auto log = OpenViewerTransactionLog(CPRegistry());
  ASSERT_NE(log, nullptr);

  EXPECT_EQ(log->Flush(), 0);
  EXPECT_TRUE(log->IsSuspended());
  auto opened = EventsWithId(0xC0000065);
  ASSERT_EQ(opened.size(), 1u);
  EXPECT_EQ(opened[0].type, platform::EVENTLOG_ERROR_TYPE);
  EXPECT_EQ(opened[0].category, 5);
  ASSERT_EQ(opened[0].strings.size(), 2u);
  EXPECT_EQ(opened[0].strings[0], dir + "Tx000001.log");
  EXPECT_FALSE(opened[0].strings[1].empty());

  // Each set of the update event is one more failed flush of the writer.
  auto update = platform::Event::OpenNamed("WriteLogEntries");
  ASSERT_NE(update, nullptr);
  for (int failures = 1; failures <= 5; ++failures) {
    update->Set();
    ASSERT_TRUE(Eventually([&] {
      return log->ConsecutiveFailures() >= failures && !update->IsSet();
    })) << "failure " << failures;
  }
  ASSERT_TRUE(Eventually([] { return !EventsWithId(0xC00007F8).empty(); }));
  auto paused = EventsWithId(0xC00007F8);
  EXPECT_EQ(paused[0].category, 5);
  EXPECT_EQ(paused[0].strings, std::vector<std::string>{"10"});
  EXPECT_TRUE(log->IsSuspended());
  // Suspended: entries are dropped, the open is not even tried again.
  AddRequest(*log, "/dropped");
  EXPECT_EQ(EventsWithId(0xC0000065).size(), 1u);

  // A stop request ends the ten-minute pause at once.
  const auto start = std::chrono::steady_clock::now();
  log.reset();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

TEST(TransactionLogWriter, WriteErrorsAreReportedAndCountAsFailures) {
  const std::string dir = UseNewLogDirectory();
  fs::create_symlink("/dev/full", dir + "Tx000001.log");
  auto log = OpenViewerTransactionLog(CPRegistry());
  ASSERT_NE(log, nullptr);
  AddRequest(*log, "/lost");
  EXPECT_EQ(log->Flush(), 0);
  EXPECT_EQ(log->Flush(), 0);
  auto written = EventsWithId(0xC0000067);
  ASSERT_EQ(written.size(), 2u);
  EXPECT_EQ(written[0].category, 5);
  EXPECT_EQ(written[0].strings.at(0), dir + "Tx000001.log");
  // A write error does not suspend: every flush tries again.
  EXPECT_FALSE(log->IsSuspended());
}

TEST(TransactionLogWriter, DisabledLogWritesNothing) {
  const std::string dir = UseNewLogDirectory();
  CPRegistry settings;
  settings.SetTransactionLogEnabled(0);
  {
    auto log = OpenViewerTransactionLog(settings);
    ASSERT_NE(log, nullptr);
    EXPECT_FALSE(log->IsEnabled());
    AddRequest(*log, "/ignored");
    EXPECT_EQ(log->Flush(), 0);
  }
  EXPECT_TRUE(fs::is_empty(dir));
  EXPECT_TRUE(EventsWithId(0xC0000065).empty());
}

TEST(TransactionLogWriter, ConcurrentRequestsKeepEveryLineWhole) {
  const std::string dir = UseNewLogDirectory();
  constexpr int kThreads = 4;
  constexpr int kPerThread = 500;
  {
    auto log = OpenViewerTransactionLog(CPRegistry());
    ASSERT_NE(log, nullptr);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([&, t] {
        for (int i = 0; i < kPerThread; ++i) {
          AddRequest(*log, "/t" + std::to_string(t) + "/" + std::to_string(i));
        }
      });
    }
    threads.emplace_back([&] {
      for (int i = 0; i < 20; ++i) log->Flush();
    });
    for (auto& thread : threads) thread.join();
  }
  const std::string text = ReadFile(dir + "Tx000001.log");
  EXPECT_EQ(CountOf(text, " GET /t"), static_cast<std::size_t>(kThreads * kPerThread));
  EXPECT_EQ(CountOf(text, " 200 512 0.2500 3 - -\r\n"),
            static_cast<std::size_t>(kThreads * kPerThread));
  for (int t = 0; t < kThreads; ++t) {
    EXPECT_EQ(CountOf(text, "/t" + std::to_string(t) + "/" + std::to_string(kPerThread - 1) + " "),
              1u);
  }
}

}  // namespace
