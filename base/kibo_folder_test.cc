#include "base/kibo_folder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>
#include <vector>

#include "platform/testing.h"

namespace fs = std::filesystem;
using testing_support::WriteFile;

namespace {

// A new empty directory, ending in "/".
std::string NewDir(const std::string& prefix) {
  return testing_support::MakeTempDir(prefix) + "/";
}

// Sets a file's modification time to `age` before now.
void SetAge(const std::string& path, std::chrono::seconds age) {
  auto when = std::chrono::system_clock::now() - age;
  fs::last_write_time(path, std::chrono::file_clock::from_sys(when));
}

constexpr std::chrono::hours kDay{24};

TEST(CreateDirectoryPath, CreatesMissingLevelsAndLeavesExistingOnesAlone) {
  const std::string root = NewDir("folders");
  CKiboFolder::CreateDirectoryPath(root + "a/b/c/");
  EXPECT_TRUE(fs::is_directory(root + "a/b/c"));

  WriteFile(root + "a/b/c/kept.txt", "x");
  CKiboFolder::CreateDirectoryPath(root + "a/b/c");
  CKiboFolder::CreateDirectoryPath(root + "a/b/c/");
  EXPECT_TRUE(fs::exists(root + "a/b/c/kept.txt"));
}

TEST(CreateDirectoryPath, RaisesWithThePathWhenAFileIsInTheWay) {
  const std::string root = NewDir("folders");
  WriteFile(root + "plain", "x");
  try {
    CKiboFolder::CreateDirectoryPath(root + "plain/sub/deeper");
    FAIL() << "no exception";
  } catch (const CFileException& error) {
    EXPECT_NE(error.Error(), 0u);
    EXPECT_NE(error.Path().find(root + "plain"), std::string::npos);
    EXPECT_FALSE(error.Reason().empty());
  }
  EXPECT_THROW(CKiboFolder::CreateDirectoryPath(root + "plain"), CFileException);
}

TEST(CreateDirectoryPath, ThreadsCreatingTheSamePathAllSucceed) {
  const std::string root = NewDir("folders");
  for (int round = 0; round < 20; ++round) {
    const std::string path = root + std::to_string(round) + "/x/y/z/";
    std::vector<std::thread> threads;
    std::atomic<int> failures{0};
    for (int i = 0; i < 4; ++i) {
      threads.emplace_back([&] {
        try {
          CKiboFolder::CreateDirectoryPath(path);
        } catch (const CFileException&) {
          ++failures;
        }
      });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_TRUE(fs::is_directory(path));
  }
}

TEST(DeleteAgedFiles, HonoursTheAgeInWholeDays) {
  const std::string dir = NewDir("aged");
  WriteFile(dir + "Tx000001.log", "old");
  WriteFile(dir + "Tx000002.log", "almost");
  WriteFile(dir + "Tx000003.log", "new");
  SetAge(dir + "Tx000001.log", 7 * kDay + std::chrono::minutes(1));
  SetAge(dir + "Tx000002.log", 6 * kDay + std::chrono::hours(23));

  CKiboFolder::DeleteAgedFiles(dir, "Tx*.log", 7);
  EXPECT_FALSE(fs::exists(dir + "Tx000001.log"));
  EXPECT_TRUE(fs::exists(dir + "Tx000002.log"));
  EXPECT_TRUE(fs::exists(dir + "Tx000003.log"));

  CKiboFolder::DeleteAgedFiles(dir, "Tx*.log", 0);
  EXPECT_TRUE(fs::is_empty(dir));
}

TEST(DeleteAgedFiles, KeepsOtherNamesReadOnlyFilesAndDirectories) {
  const std::string dir = NewDir("aged");
  for (const char* name : {"Tx000001.log", "Adm00001.log", "notes.txt", "Tx000002.txt",
                           "Tx000003.log.bak", "readonly.log"}) {
    WriteFile(dir + name, "x");
    SetAge(dir + name, 30 * kDay);
  }
  fs::permissions(dir + "readonly.log", fs::perms::owner_write, fs::perm_options::remove);
  fs::create_directory(dir + "Tx-directory.log");
  SetAge(dir + "Tx-directory.log", 30 * kDay);

  CKiboFolder::DeleteAgedFiles(dir, "Tx*.log", 1);
  CKiboFolder::DeleteAgedFiles(dir, "*.log", 1);
  EXPECT_FALSE(fs::exists(dir + "Tx000001.log"));
  EXPECT_FALSE(fs::exists(dir + "Adm00001.log"));
  EXPECT_TRUE(fs::exists(dir + "notes.txt"));
  EXPECT_TRUE(fs::exists(dir + "Tx000002.txt"));
  EXPECT_TRUE(fs::exists(dir + "Tx000003.log.bak"));
  EXPECT_TRUE(fs::exists(dir + "readonly.log"));
  EXPECT_TRUE(fs::is_directory(dir + "Tx-directory.log"));
}

TEST(DeleteAgedFiles, AcceptsADirectoryWithoutTrailingSlashAndAMissingOne) {
  const std::string dir = NewDir("aged");
  WriteFile(dir + "a.log", "x");
  CKiboFolder::DeleteAgedFiles(dir.substr(0, dir.size() - 1), "*", 0);
  EXPECT_FALSE(fs::exists(dir + "a.log"));
  EXPECT_NO_THROW(CKiboFolder::DeleteAgedFiles(dir + "missing/", "*", 0));
}

TEST(MatchesPattern, WildcardsMatchRunsAndSingleCharacters) {
  EXPECT_TRUE(CKiboFolder::MatchesPattern("Tx000001.log", "Tx*.log"));
  EXPECT_TRUE(CKiboFolder::MatchesPattern("Tx.log", "Tx*.log"));
  EXPECT_TRUE(CKiboFolder::MatchesPattern("Tx1.log.log", "Tx*.log"));
  EXPECT_FALSE(CKiboFolder::MatchesPattern("Tx1.log.bak", "Tx*.log"));
  EXPECT_FALSE(CKiboFolder::MatchesPattern("tx000001.log", "Tx*.log"));
  EXPECT_TRUE(CKiboFolder::MatchesPattern("Adm00001.log", "Adm?????.log"));
  EXPECT_FALSE(CKiboFolder::MatchesPattern("Adm0001.log", "Adm?????.log"));
  EXPECT_TRUE(CKiboFolder::MatchesPattern("", "*"));
  EXPECT_TRUE(CKiboFolder::MatchesPattern("abc", "a**c"));
  EXPECT_FALSE(CKiboFolder::MatchesPattern("abc", ""));
}

}  // namespace
