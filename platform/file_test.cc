#include "platform/file.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/testing.h"

namespace platform {
namespace {

// The names in `dir`, sorted.
std::vector<std::string> Names(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

TEST(FileReplace, TheTargetIsReplacedWholeAndNothingIsLeftBeside) {
  const std::string dir = testing_support::MakeTempDir("replace");
  const std::string target = dir + "/list";
  ASSERT_TRUE(ReplaceFileContents(target, "first, longer contents\n"));
  EXPECT_EQ(testing_support::ReadFile(target), "first, longer contents\n");
  ASSERT_TRUE(ReplaceFileContents(target, "second\n"));
  EXPECT_EQ(testing_support::ReadFile(target), "second\n");
  ASSERT_TRUE(ReplaceFileContents(target, ""));
  EXPECT_TRUE(std::filesystem::exists(target));
  EXPECT_EQ(std::filesystem::file_size(target), 0u);
  EXPECT_EQ(Names(dir), std::vector<std::string>{"list"});

  // A temporary file that an interrupted replacement left does not block.
  const std::string temporary = target + ".tmp";
  testing_support::WriteFile(temporary, "stale");
  EXPECT_EQ(ReplaceFileContents(target, "third\n", temporary, 3), ReplaceResult::kReplaced);
  EXPECT_EQ(testing_support::ReadFile(target), "third\n");
  EXPECT_EQ(Names(dir), std::vector<std::string>{"list"});
}

TEST(FileReplace, TemporaryNamesAreBesideTheTargetAndNeverRepeat) {
  const std::string a = TemporaryFileFor("/some/dir/file");
  const std::string b = TemporaryFileFor("/some/dir/file");
  EXPECT_NE(a, b);
  EXPECT_EQ(std::filesystem::path(a).parent_path(), "/some/dir");
  EXPECT_TRUE(a.starts_with("/some/dir/file."));
}

TEST(FileReplace, AFailedStepLeavesTheTargetAsItWasAndNoTemporaryFile) {
  const std::string dir = testing_support::MakeTempDir("replace");

  // The temporary file cannot be made: nothing is written anywhere.
  SetLastError(0);
  EXPECT_EQ(ReplaceFileContents(dir + "/missing/list", "x", dir + "/missing/list.tmp"), ReplaceResult::kWriteFailed);
  EXPECT_NE(GetLastError(), 0u);
  EXPECT_TRUE(Names(dir).empty());

  // The target is a directory with something in it: the rename fails, after
  // every attempt, and the written temporary file goes again.
  const std::string target = dir + "/taken";
  std::filesystem::create_directories(target + "/inside");
  SetLastError(0);
  const auto started = std::chrono::steady_clock::now();
  EXPECT_EQ(ReplaceFileContents(target, "x", target + ".tmp", 3), ReplaceResult::kRenameFailed);
  EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(20));
  EXPECT_EQ(GetLastError(), kErrorAccessDenied);
  EXPECT_EQ(Names(dir), std::vector<std::string>{"taken"});
  EXPECT_FALSE(ReplaceFileContents(target, "x"));
  EXPECT_EQ(Names(dir), std::vector<std::string>{"taken"});
  EXPECT_TRUE(std::filesystem::is_directory(target + "/inside"));
}

TEST(FileReplace, RenameOverTakesAWrittenFileOrRemovesIt) {
  const std::string dir = testing_support::MakeTempDir("rename");
  testing_support::WriteFile(dir + "/copy", "old");
  testing_support::WriteFile(dir + "/copy.part", "new");
  ASSERT_TRUE(RenameOver(dir + "/copy.part", dir + "/copy"));
  EXPECT_EQ(testing_support::ReadFile(dir + "/copy"), "new");
  EXPECT_EQ(Names(dir), std::vector<std::string>{"copy"});

  std::filesystem::create_directories(dir + "/folder/inside");
  testing_support::WriteFile(dir + "/folder.part", "new");
  EXPECT_FALSE(RenameOver(dir + "/folder.part", dir + "/folder"));
  EXPECT_EQ(Names(dir), (std::vector<std::string>{"copy", "folder"}));

  // Nothing to rename: a failure, not a wait.
  EXPECT_FALSE(RenameOver(dir + "/absent.part", dir + "/copy"));
  EXPECT_EQ(GetLastError(), kErrorFileNotFound);
  EXPECT_EQ(testing_support::ReadFile(dir + "/copy"), "new");
}

TEST(FileReplace, AReaderSeesTheOldOrTheNewContentsNeverAPart) {
  const std::string target = testing_support::MakeTempDir("replace") + "/list";
  // Large enough that a write takes several system calls' worth of pages.
  const std::string a(1 << 20, 'a');
  const std::string b((1 << 20) + 4096, 'b');
  ASSERT_TRUE(ReplaceFileContents(target, a));

  std::atomic<bool> done{false};
  std::atomic<int> torn{0};
  std::atomic<int> reads{0};
  std::thread reader([&] {
    while (!done.load()) {
      const std::string seen = testing_support::ReadFile(target);
      if (seen != a && seen != b) torn.fetch_add(1);
      reads.fetch_add(1);
    }
  });
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
  for (int round = 0; round < 200 && std::chrono::steady_clock::now() < deadline; ++round) {
    if (!ReplaceFileContents(target, round % 2 == 0 ? b : a)) {
      ADD_FAILURE() << "replacement " << round << " failed";
      break;
    }
  }
  done.store(true);
  reader.join();
  EXPECT_GT(reads.load(), 0);
  EXPECT_EQ(torn.load(), 0);
}

}  // namespace
}  // namespace platform
