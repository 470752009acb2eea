// The house over local files: loading, reloading, posted data, readers, and
// files and images that must not replace what the house holds.
#include "channels/generic_house.h"

#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "agents/agent_testing.h"
#include "channels/house_testing.h"
#include "platform/testing.h"

namespace {

using agent_testing::TraceCapture;
using house_testing::FileErrorsAbout;
using house_testing::TestHouse;
namespace fs = std::filesystem;

void AgeFile(const std::string& path) {
  fs::last_write_time(path, fs::last_write_time(path) - std::chrono::hours(24));
}

std::vector<std::string> FilesIn(const std::string& dir) {
  std::vector<std::string> names;
  for (const fs::directory_entry& entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename());
  return names;
}

TEST(GenericHouseSource, HttpAndWwwInAnyCaseAreURLsFtpIsNot) {
  EXPECT_TRUE(CGenericHouse::IsURL("http://127.0.0.1/house.dat"));
  EXPECT_TRUE(CGenericHouse::IsURL("HTTP:\\\\127.0.0.1\\house.dat"));
  EXPECT_TRUE(CGenericHouse::IsURL("www.example.com/house.dat"));
  EXPECT_TRUE(CGenericHouse::IsURL("WWW.EXAMPLE.COM/HOUSE.DAT"));
  EXPECT_FALSE(CGenericHouse::IsURL("ftp://127.0.0.1/house.dat"));
  EXPECT_FALSE(CGenericHouse::IsURL("/data/www.house.dat"));
  EXPECT_FALSE(CGenericHouse::IsURL("http"));

  // A URL source is loaded by the init thread and its image mirrored; any
  // other source on the caller's thread. Neither needs the network here:
  // both fail and fall back to their mirror.
  const std::string dir = testing_support::MakeTempDir("house");
  testing_support::WriteFile(dir + "/www.mirror", "from the www mirror");
  testing_support::WriteFile(dir + "/ftp.mirror", "from the ftp mirror");
  {
    TraceCapture capture;
    TestHouse house("WWW.UNREACHABLE.INVALID/house.dat", dir + "/www.mirror", house_testing::Settings());
    EXPECT_EQ(house.Initialize(), 0);
    EXPECT_EQ(house.GetDataString(), "from the www mirror");
    EXPECT_NE(capture.Text().find("(InitializeGenericHouse): Thread beginning."), std::string::npos);
    EXPECT_NE(capture.Text().find("GenericHouse: Wrote \"" + dir + "/www.mirror\" to disk."), std::string::npos);
  }
  {
    TraceCapture capture;
    TestHouse house("ftp://127.0.0.1/house.dat", dir + "/ftp.mirror", house_testing::Settings());
    EXPECT_EQ(house.Initialize(), 0);
    EXPECT_EQ(house.GetDataString(), "from the ftp mirror");
    EXPECT_EQ(capture.Text().find("InitializeGenericHouse"), std::string::npos);
    EXPECT_EQ(capture.Text().find("to disk."), std::string::npos);
  }
}

TEST(GenericHouseRead, ReadersCopyOnlyWhatFitsAndLearnTheSize) {
  const std::string dir = testing_support::MakeTempDir("house");
  TestHouse empty(dir + "/missing.dat");
  EXPECT_EQ(empty.Initialize(), -1);
  EXPECT_FALSE(empty.IsInitialized());
  char buffer[16] = {};
  std::int32_t capacity = sizeof(buffer);
  EXPECT_EQ(empty.GetData(buffer, capacity), -1);
  EXPECT_EQ(capacity, 0);
  EXPECT_EQ(empty.GetDataString(), "");
  std::vector<char> copy;
  EXPECT_EQ(empty.GetDataCopy(copy), -1);
  EXPECT_EQ(empty.WriteToDisk(true), -1);

  testing_support::WriteFile(dir + "/house.dat", "0123456789");
  TestHouse house(dir + "/house.dat");
  ASSERT_EQ(house.Initialize(), 0);
  EXPECT_TRUE(house.HasChanged());
  capacity = 9;
  EXPECT_EQ(house.GetData(buffer, capacity), -1);
  EXPECT_EQ(capacity, 10);
  EXPECT_TRUE(house.HasChanged());  // nothing was taken
  capacity = -5;
  EXPECT_EQ(house.GetData(buffer, capacity), -1);
  EXPECT_EQ(capacity, 10);
  EXPECT_EQ(house.GetDataString(), "0123456789");
  EXPECT_TRUE(house.HasChanged());
  EXPECT_EQ(house.GetData(buffer, capacity), 0);
  EXPECT_EQ(std::string(buffer, 10), "0123456789");
  EXPECT_FALSE(house.HasChanged());

  platform::DWORD size = 0;
  ASSERT_EQ(house.GetDataCopy(copy, &size), 0);
  EXPECT_EQ(size, 10u);
  EXPECT_EQ(std::string(copy.begin(), copy.end()), "0123456789");
}

TEST(GenericHouseFiles, ReloadsTakeChangedFilesAndKeepTheImageOtherwise) {
  const std::string dir = testing_support::MakeTempDir("house");
  const std::string path = dir + "/house.dat";
  testing_support::WriteFile(path, "edition 1");
  AgeFile(path);
  TestHouse house(path);
  ASSERT_EQ(house.Initialize(), 0);
  EXPECT_EQ(house.GetModificationTime(), platform::FileModificationTime(path));
  std::vector<char> taken;
  house.GetDataCopy(taken);

  TraceCapture capture;
  testing_support::WriteFile(path, "edition 1");  // rewritten, same bytes
  EXPECT_FALSE(house.ReadFiles());
  EXPECT_FALSE(house.HasChanged());
  EXPECT_NE(capture.Text().find("GenericHouse: File \"" + path + "\" unchanged"), std::string::npos);

  testing_support::WriteFile(path, "edition 2");
  AgeFile(path);
  EXPECT_TRUE(house.ReadFiles());
  EXPECT_EQ(house.GetDataString(), "edition 2");
  EXPECT_EQ(house.GetModificationTime(), platform::FileModificationTime(path));
  // A later check that finds nothing new leaves the change to be taken.
  EXPECT_FALSE(house.ReadFiles());
  EXPECT_TRUE(house.HasChanged());

  testing_support::WriteFile(path, "bad edition");
  EXPECT_FALSE(house.ReadFiles());
  EXPECT_EQ(house.GetDataString(), "edition 2");
  EXPECT_NE(capture.Text().find("GenericHouse: File \"" + path + "\" not valid"), std::string::npos);

  // Too large to keep: refused before it is read, and reported.
  fs::resize_file(path, CGenericHouse::kMaxImageBytes + 1);
  EXPECT_FALSE(house.ReadFiles());
  EXPECT_EQ(house.GetDataString(), "edition 2");
  const std::vector<platform::EventRecord> reports = FileErrorsAbout(path);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].type, platform::EVENTLOG_WARNING_TYPE);
  EXPECT_EQ(reports[0].category, events::kHouseFileRefused.category);

  fs::remove(path);
  EXPECT_FALSE(house.ReadFiles());
  EXPECT_EQ(house.GetDataString(), "edition 2");
  EXPECT_NE(capture.Text().find("GenericHouse: File \"" + path + "\" does not exist!"), std::string::npos);
  EXPECT_TRUE(house.IsInitialized());
}

TEST(GenericHouseWrite, PostedDataIsStoredOnceValidatedAndWrittenWhole) {
  const std::string dir = testing_support::MakeTempDir("house");
  const std::string source = dir + "/house.dat";
  testing_support::WriteFile(source, "table 1");
  AgeFile(source);
  const fs::file_time_type aged = fs::last_write_time(source);
  TestHouse house(source);
  ASSERT_EQ(house.Initialize(), 0);
  std::vector<char> taken;
  house.GetDataCopy(taken);

  TraceCapture capture;
  EXPECT_EQ(house.WriteNewData("table 1", 7, false), 0);
  EXPECT_NE(capture.Text().find("GenericHouse: (" + source + ") Attempt to write identical data."),
            std::string::npos);
  EXPECT_EQ(house.NewDataCalls(), 0);
  EXPECT_FALSE(house.HasChanged());
  EXPECT_EQ(fs::last_write_time(source), aged);

  EXPECT_EQ(house.WriteNewData("table 2", 7, false), 0);
  EXPECT_EQ(house.NewDataCalls(), 1);
  EXPECT_TRUE(house.HasChanged());
  EXPECT_EQ(house.GetDataString(), "table 2");
  EXPECT_EQ(testing_support::ReadFile(source), "table 2");
  EXPECT_EQ(FilesIn(dir), std::vector<std::string>{"house.dat"});  // no temporary file left

  // Refused: invalid, empty, too large. The image and the file stay.
  EXPECT_EQ(house.WriteNewData("bad table", 9, false), -2);
  EXPECT_EQ(house.WriteNewData("", 0, false), -1);
  const std::vector<char> huge(CGenericHouse::kMaxImageBytes + 1, 'x');
  EXPECT_EQ(house.WriteNewData(huge.data(), static_cast<platform::DWORD>(huge.size()), false), -2);
  EXPECT_EQ(FileErrorsAbout(source).size(), 1u);
  EXPECT_EQ(house.NewDataCalls(), 1);
  EXPECT_EQ(house.GetDataString(), "table 2");
  EXPECT_EQ(testing_support::ReadFile(source), "table 2");
}

TEST(GenericHouseWrite, DataPostedBeforeAnyLoadMakesTheHouseValidAndReachesTheMirror) {
  const std::string dir = testing_support::MakeTempDir("house");
  TestHouse house(dir + "/missing.dat", dir + "/mirror.dat");
  EXPECT_EQ(house.Initialize(), -1);
  EXPECT_EQ(house.WriteNewData("posted", 6, true), 0);
  EXPECT_TRUE(house.IsInitialized());
  EXPECT_EQ(house.Initialize(), 0);
  EXPECT_EQ(testing_support::ReadFile(dir + "/mirror.dat"), "posted");
}

// Readers of the memory image and of the file on disk only ever see one
// whole image while posts replace it.
TEST(GenericHouseConcurrency, ReadersSeeWholeImagesWhileWritersReplaceThem) {
  const std::string dir = testing_support::MakeTempDir("house");
  const std::string mirror = dir + "/mirror.dat";
  const std::string first(64 * 1024, 'a');
  const std::string second(64 * 1024, 'b');
  testing_support::WriteFile(dir + "/house.dat", first);
  TestHouse house(dir + "/house.dat", mirror);
  ASSERT_EQ(house.Initialize(), 0);
  ASSERT_EQ(house.WriteNewData(second.data(), static_cast<platform::DWORD>(second.size()), true), 0);

  std::atomic<bool> done{false};
  std::atomic<int> torn{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < 3; ++i) {
    threads.emplace_back([&] {
      while (!done) {
        const std::string seen = house.GetDataString();
        if (seen != first && seen != second) ++torn;
      }
    });
  }
  threads.emplace_back([&] {
    while (!done) {
      const std::string seen = testing_support::ReadFile(mirror);
      if (seen != first && seen != second) ++torn;
    }
  });
  for (int round = 0; round < 60; ++round) {
    const std::string& next = round % 2 == 0 ? first : second;
    EXPECT_EQ(house.WriteNewData(next.data(), static_cast<platform::DWORD>(next.size()), true), 0);
    if (round % 10 == 0) house.ReadFiles();  // the source holds `first`
  }
  done = true;
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(torn.load(), 0);
}

}  // namespace
