// Where temporary files go: the system's directory unless it is the machine
// root, then TempDirectory, with the machine root as the last resort.
#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "config/cp_registry.h"
#include "platform/registry.h"
#include "platform/system.h"
#include "platform/testing.h"

namespace {

std::string MachineRootDirectory() { return testing_support::TestRoot() + "/"; }

void UseSystemTempPath(const std::string& path) { ::setenv("TMPDIR", path.c_str(), 1); }

TEST(TempDirectory, SystemPathIsCreatedAndRemembered) {
  const std::string scratch = testing_support::TestRoot() + "/scratch";
  UseSystemTempPath(scratch);
  CPRegistry settings;
  EXPECT_EQ(settings.FindTempDirectory(), scratch + "/");
  EXPECT_TRUE(platform::DirectoryExists(scratch));
  EXPECT_EQ(settings.GetValue("TempTemp", static_cast<const char*>("")), scratch + "/");
}

TEST(TempDirectory, UnusableSystemPathFallsBackToMachineRoot) {
  CPRegistry settings;
  // Two levels missing: only one is created.
  UseSystemTempPath(testing_support::TestRoot() + "/missing/deeper");
  EXPECT_EQ(settings.FindTempDirectory(), MachineRootDirectory());

  const std::string file = testing_support::TestRoot() + "/plain-file";
  testing_support::WriteFile(file, "not a directory");
  UseSystemTempPath(file);
  EXPECT_EQ(settings.FindTempDirectory(), MachineRootDirectory());
  EXPECT_EQ(settings.GetValue("TempTemp", static_cast<const char*>("")), MachineRootDirectory());
}

TEST(TempDirectory, SettingDecidesWhenSystemPathIsTheMachineRoot) {
  UseSystemTempPath(MachineRootDirectory());
  CPRegistry settings;
  const std::string configured = testing_support::TestRoot() + "/configured";
  settings.SetValue("TempDirectory", (configured + "/").c_str(), platform::REG_SZ);
  EXPECT_EQ(settings.FindTempDirectory(), configured + "/");
  EXPECT_TRUE(platform::DirectoryExists(configured));

  // A relative setting would depend on the current directory.
  settings.SetValue("TempDirectory", "relative/dir", platform::REG_SZ);
  EXPECT_EQ(settings.FindTempDirectory(), MachineRootDirectory());
}

TEST(TempDirectory, WithoutSettingUsesTheSharedTmp) {
  UseSystemTempPath(MachineRootDirectory());
  CPRegistry settings;
  settings.DeleteValue("TempDirectory");  // left by earlier cases when run in one process
  const std::string expected = platform::DirectoryExists("/tmp") ? "/tmp/" : "/var/tmp/";
  EXPECT_EQ(settings.FindTempDirectory(), expected);
}

TEST(TempDirectory, IsWorkedOutOncePerProcess) {
  const std::string first = testing_support::TestRoot() + "/first";
  UseSystemTempPath(first);
  CPRegistry settings;
  const std::string answer = settings.GetTempDirectory();
  UseSystemTempPath(testing_support::TestRoot() + "/second");
  EXPECT_EQ(CPRegistry().GetTempDirectory(), answer);
  EXPECT_FALSE(platform::DirectoryExists(testing_support::TestRoot() + "/second"));
}

}  // namespace
