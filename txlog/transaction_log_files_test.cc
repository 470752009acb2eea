// What the log writes where: headers, numbering, rotation, restarts,
// over-long lines and the purge of old files.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

#include "base/eventually_testing.h"
#include "txlog/log_testing.h"
#include "txlog/transaction_log.h"

namespace fs = std::filesystem;
using testing_support::ReadFile;
using testing_support::WriteFile;
using txlog_testing::AddRequest;
using txlog_testing::CountOf;
using txlog_testing::FillEntry;
using txlog_testing::kHeader;
using txlog_testing::UseNewLogDirectory;

namespace {

TEST(TransactionLogFiles, FreshDirectoryGetsTheFirstFileWithItsHeaderLines) {
  const std::string dir = UseNewLogDirectory() + "Log/deeper";  // no trailing "/"
  CPRegistry().SetTransactionLogDirectory(dir.c_str());
  {
    auto log = OpenViewerTransactionLog(CPRegistry());
    ASSERT_NE(log, nullptr);
    EXPECT_TRUE(fs::is_directory(dir));
    AddRequest(*log, "/first");
    AddRequest(*log, "/second");
    // Requests never touch the disk: nothing is written before a flush.
    EXPECT_FALSE(fs::exists(dir + "/Tx000001.log"));
  }
  const std::string text = ReadFile(dir + "/Tx000001.log");
  ASSERT_EQ(text.rfind(kHeader, 0), 0u) << text;
  const std::string body = text.substr(std::string(kHeader).size());
  EXPECT_EQ(CountOf(body, "\r\n"), 2u);
  EXPECT_LT(body.find(" /first "), body.find(" /second ")) << body;
  EXPECT_EQ(CPRegistry().GetTransactionLogCurrID(), 1u);
}

TEST(TransactionLogFiles, AdministrationLogHasItsOwnFilesAndFields) {
  const std::string dir = UseNewLogDirectory();
  {
    auto log = OpenAdminTransactionLog(CPRegistry());
    ASSERT_NE(log, nullptr);
    CPAdminTransactionLogEntry entry;
    FillEntry(entry, "/Admin");
    log->AddEntry(entry);
  }
  const std::string text = ReadFile(dir + "Adm00001.log");
  EXPECT_NE(text.find("#Fields: c-ip date time cs-method cs-uri sc-status bytes time-taken "
                      "x-agent\r\n"),
            std::string::npos);
  EXPECT_NE(text.find(" GET /Admin 200 512 0.2500 3\r\n"), std::string::npos) << text;
}

TEST(TransactionLogFiles, SizeLimitHasAMinimumAndFullFilesMoveToTheNextNumber) {
  const std::string dir = UseNewLogDirectory();
  CPRegistry settings;
  settings.SetTransactionLogMaxFileSize(10000);
  auto log = OpenViewerTransactionLog(settings);
  ASSERT_NE(log, nullptr);
  EXPECT_EQ(log->MaxFileSize(), 15360u);

  // About 100 bytes a line: the first file fills after some 150 lines.
  int added = 0;
  while (log->CurrentFileNumber() == 1 && added < 1000) {
    for (int i = 0; i < 20; ++i) AddRequest(*log, "/item/" + std::to_string(added++));
    ASSERT_EQ(log->Flush(), 1);
  }
  ASSERT_EQ(log->CurrentFileNumber(), 2u);
  EXPECT_EQ(CPRegistry().GetTransactionLogCurrID(), 2u);
  log.reset();

  const std::string first = ReadFile(dir + "Tx000001.log");
  const std::string second = ReadFile(dir + "Tx000002.log");
  EXPECT_LE(first.size(), 15360u);
  EXPECT_EQ(second.rfind(kHeader, 0), 0u);
  // Every line is in one of the two files, once.
  EXPECT_EQ(CountOf(first + second, " GET /item/"), static_cast<std::size_t>(added));
  EXPECT_EQ(CountOf(first + second, "/item/" + std::to_string(added - 1) + " "), 1u);
}

TEST(TransactionLogFiles, RestartAppendsToTheFileTheRegistryNames) {
  const std::string dir = UseNewLogDirectory();
  CPRegistry settings;
  settings.SetTransactionLogCurrID(5);
  WriteFile(dir + "Tx000005.log", std::string(kHeader) + "earlier line\r\n");
  {
    auto log = OpenViewerTransactionLog(settings);
    ASSERT_NE(log, nullptr);
    AddRequest(*log, "/after-restart");
  }
  const std::string text = ReadFile(dir + "Tx000005.log");
  EXPECT_EQ(CountOf(text, "#Software:"), 1u) << text;
  EXPECT_LT(text.find("earlier line"), text.find("/after-restart"));
  EXPECT_FALSE(fs::exists(dir + "Tx000001.log"));
}

TEST(TransactionLogFiles, LineLongerThanTheBufferIsWrittenWholeAndInOrder) {
  const std::string dir = UseNewLogDirectory();
  const std::string longUri = "/long/" + std::string(20000, 'x');
  {
    auto log = OpenViewerTransactionLog(CPRegistry());
    ASSERT_NE(log, nullptr);
    AddRequest(*log, "/before");
    AddRequest(*log, longUri);
    AddRequest(*log, "/after");
  }
  std::string all;
  for (int n = 1; fs::exists(dir + "Tx00000" + std::to_string(n) + ".log"); ++n) {
    all += ReadFile(dir + "Tx00000" + std::to_string(n) + ".log");
  }
  const std::size_t before = all.find(" /before ");
  const std::size_t whole = all.find(" " + longUri + " 200 512 0.2500 3 - -\r\n");
  const std::size_t after = all.find(" /after ");
  ASSERT_NE(whole, std::string::npos);
  EXPECT_LT(before, whole);
  EXPECT_LT(whole, after);
  EXPECT_NE(after, std::string::npos);
}

TEST(TransactionLogFiles, LongLineLargerThanTheSizeLimitStillGetsAFile) {
  const std::string dir = UseNewLogDirectory();
  const std::string longUri = "/long/" + std::string(40000, 'y');
  CPRegistry settings;
  settings.SetTransactionLogMaxFileSize(15360);
  {
    auto log = OpenViewerTransactionLog(settings);
    ASSERT_NE(log, nullptr);
    AddRequest(*log, "/small");
    ASSERT_EQ(log->Flush(), 1);
    AddRequest(*log, longUri);
    EXPECT_EQ(log->CurrentFileNumber(), 2u);
  }
  EXPECT_NE(ReadFile(dir + "Tx000002.log").find(longUri + " "), std::string::npos);
  EXPECT_FALSE(fs::exists(dir + "Tx000003.log"));
}

TEST(TransactionLogFiles, FileDeletedWhileOpenIsCreatedAfresh) {
  const std::string dir = UseNewLogDirectory();
  auto log = OpenViewerTransactionLog(CPRegistry());
  ASSERT_NE(log, nullptr);
  AddRequest(*log, "/one");
  ASSERT_EQ(log->Flush(), 1);
  fs::remove(dir + "Tx000001.log");
  AddRequest(*log, "/two");
  ASSERT_EQ(log->Flush(), 1);
  const std::string text = ReadFile(dir + "Tx000001.log");
  EXPECT_EQ(text.rfind(kHeader, 0), 0u);
  EXPECT_NE(text.find(" /two "), std::string::npos);
}

TEST(TransactionLogFiles, EmptyDirectorySettingFallsBackToTheHomeLogDirectory) {
  const std::string home = testing_support::MakeTempDir("home") + "/";
  CPRegistry settings;
  settings.SetHomeDirectory(home.c_str());
  settings.SetTransactionLogDirectory("");
  {
    auto log = OpenViewerTransactionLog(settings);
    ASSERT_NE(log, nullptr);
    AddRequest(*log, "/home");
  }
  EXPECT_NE(ReadFile(home + "Log/Tx000001.log").find(" /home "), std::string::npos);
}

TEST(TransactionLogFiles, DirectoryThatCannotBeCreatedGivesNoLog) {
  const std::string dir = UseNewLogDirectory();
  WriteFile(dir + "plain", "x");
  CPRegistry settings;
  settings.SetTransactionLogDirectory((dir + "plain/Log/").c_str());
  EXPECT_EQ(OpenViewerTransactionLog(settings), nullptr);
}

TEST(TransactionLogFiles, PurgeDeletesOldLogFilesAndKeepsOtherNames) {
  const std::string dir = UseNewLogDirectory();
  const auto old = std::chrono::system_clock::now() - std::chrono::hours(24 * 7 + 1);
  for (const char* name : {"Tx000001.log", "Tx000002.log", "Adm00001.log", "notes.txt",
                           "Tx000003.txt"}) {
    WriteFile(dir + name, "x");
    fs::last_write_time(dir + name, std::chrono::file_clock::from_sys(old));
  }
  WriteFile(dir + "Tx000004.log", "recent");
  CPRegistry settings;
  settings.SetTransactionLogCurrID(4);

  auto log = OpenViewerTransactionLog(settings);
  ASSERT_NE(log, nullptr);
  // The writer purges as it starts.
  ASSERT_TRUE(poolmgr_testing::Eventually([&] { return !fs::exists(dir + "Tx000002.log"); }));
  EXPECT_FALSE(fs::exists(dir + "Tx000001.log"));
  EXPECT_TRUE(fs::exists(dir + "Tx000004.log"));
  EXPECT_TRUE(fs::exists(dir + "Adm00001.log"));
  EXPECT_TRUE(fs::exists(dir + "notes.txt"));
  EXPECT_TRUE(fs::exists(dir + "Tx000003.txt"));
}

}  // namespace
