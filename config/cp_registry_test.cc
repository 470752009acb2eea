// The catalogue's special members and the rules its accessors share: home
// directory handling, trace lines, boolean texts, subkeys, listen entries,
// upstream entries and copies.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "platform/machine.h"

#include "config/cp_registry.h"
#include "config/settings_testing.h"
#include "platform/registry.h"
#include "platform/system.h"
#include "platform/testing.h"
#include "platform/trace.h"

namespace {

// The debugger output goes to standard error only when asked for before the
// first line of the process.
[[maybe_unused]] const bool g_debug_output_on = (::setenv("ZONDREL_DEBUG_OUTPUT", "1", 1), true);

// Collects the trace lines written while it lives, with every level enabled.
class TraceCapture {
 public:
  TraceCapture() : path_(testing_support::TestRoot() + "/stderr.txt") {
    QRRegistry raw = RawSettings();
    raw.SetValue("TraceMask", DWORD{0xFFFFFFFF}, platform::REG_DWORD);
    ModuleTraceLog().Reload();
    std::fflush(stderr);
    saved_ = ::dup(2);
    int file = ::open(path_.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0600);
    ::dup2(file, 2);
    ::close(file);
  }
  ~TraceCapture() { Restore(); }

  std::string Text() {
    Restore();
    return testing_support::ReadFile(path_);
  }

 private:
  void Restore() {
    if (saved_ < 0) return;
    std::fflush(stderr);
    ::dup2(saved_, 2);
    ::close(saved_);
    saved_ = -1;
  }

  std::string path_;
  int saved_ = -1;
};

TEST(HomeDirectory, GainsOneTrailingSlashAndFeedsRelativeDefaults) {
  CPRegistry settings;
  QRRegistry raw = RawSettings();

  settings.SetHomeDirectory("");
  EXPECT_TRUE(raw.DoesValueExist("HomeDirectory"));
  EXPECT_EQ(settings.GetHomeDirectory(), "/");
  EXPECT_EQ(settings.GetCorpDirectory(), "/corp");

  settings.SetHomeDirectory("/srv/relay/");
  EXPECT_EQ(settings.GetHomeDirectory(), "/srv/relay/");
  EXPECT_EQ(settings.GetTransactionLogDirectory(), "/srv/relay/Log/");

  // A setting of its own wins over the home-relative default.
  settings.SetCorpDirectory("/data/corp");
  EXPECT_EQ(settings.GetCorpDirectory(), "/data/corp");

  settings.DeleteHomeDirectory();
  EXPECT_EQ(settings.GetHomeDirectory(), platform::MachineRoot() + "/home/");
}

TEST(TraceLines, ShowNameDefaultAndValueOfEachRead) {
  CPRegistry settings;
  settings.SetFlashFile("custom.dat");
  settings.SetProxyPassword("s3cret-word");
  settings.SetEnableCorpChannel(0);

  TraceCapture capture;
  EXPECT_EQ(settings.GetEventViewMask(), 0xFFFFFFFFu);
  EXPECT_EQ(settings.GetFlashFile(), "custom.dat");
  EXPECT_EQ(settings.GetProxyPassword(), "s3cret-word");
  EXPECT_EQ(settings.GetEnableCorpChannel(), 0);
  std::string text = capture.Text();

  EXPECT_NE(text.find("CPRegistry(EventViewMask, 4294967295) = 4294967295\n"), std::string::npos)
      << text;
  EXPECT_NE(text.find("CPRegistry(FlashFile, \"flash.dat\") = \"custom.dat\"\n"), std::string::npos)
      << text;
  EXPECT_NE(text.find("CPRegistry(EnableCorpChannel, 1) = 0\n"), std::string::npos) << text;
  // The read is traced, the password is not.
  EXPECT_NE(text.find("CPRegistry(HTTPProxyPassword, \"\") = "), std::string::npos) << text;
  EXPECT_EQ(text.find("s3cret-word"), std::string::npos) << text;
}

TEST(Booleans, ReadTextsAndKeepNumericStorage) {
  CPRegistry settings;
  QRRegistry raw = RawSettings();
  raw.SetValue("EnableCorpChannel", "off", platform::REG_SZ);
  EXPECT_EQ(settings.GetEnableCorpChannel(), 0);
  raw.SetValue("EnableCorpChannel", "yes", platform::REG_SZ);
  EXPECT_EQ(settings.GetEnableCorpChannel(), 1);

  // A numeric value written by another tool stays numeric.
  raw.SetValue("EnableDominoChannel", DWORD{0}, platform::REG_DWORD);
  settings.SetEnableNotesChannel(1);
  DWORD stored = 0;
  EXPECT_TRUE(raw.GetValue("EnableDominoChannel", &stored));
  EXPECT_EQ(stored, 1u);
  EXPECT_EQ(settings.GetEnableNotesChannel(), 1);
}

TEST(Subkeys, AreCreatedOnWriteAndNotOnRead) {
  CPRegistry settings;
  QRRegistry raw = RawSettings();
  raw.DeleteKey("ThreadPools");  // left by earlier cases when run in one process
  EXPECT_EQ(settings.GetServerMaxClientThreads(), 300u);
  EXPECT_FALSE(raw.DoesKeyExist("ThreadPools"));

  settings.SetServerMaxClientThreads(42);
  ASSERT_TRUE(raw.DoesKeyExist("ThreadPools"));
  QRRegistry pools(raw, "ThreadPools");
  EXPECT_EQ(pools.GetValue("MaxClientThreads", DWORD{0}), 42u);
  EXPECT_EQ(settings.GetServerMaxClientThreads(), 42u);
}

TEST(ListenEntries, NumberAndTextFormsShareOneValue) {
  CPRegistry settings;
  EXPECT_EQ(settings.GetServerLISTENPort(1), 8080u);
  EXPECT_EQ(settings.GetServerLISTENIPPort(1), "8080");
  EXPECT_EQ(settings.GetDefaultServerLISTENPort(), 8080u);
  EXPECT_EQ(settings.GetDefaultServerLISTENIPPort(), "8080");

  settings.SetServerLISTENPort(1, 8181);
  EXPECT_EQ(settings.GetServerLISTENIPPort(1), "8181");
  settings.SetServerLISTENIPPort(2, "127.0.0.1,9090");
  EXPECT_EQ(settings.GetServerLISTENIPPort(2), "127.0.0.1,9090");
  settings.SetServerLISTENIPPort(1, "9191");
  EXPECT_EQ(settings.GetServerLISTENPort(1), 9191u);

  QRRegistry comm(RawSettings(), "Comm");
  EXPECT_EQ(comm.GetValue("LISTEN2", static_cast<const char*>("")), "127.0.0.1,9090");
  settings.DeleteServerLISTENPort(2);
  EXPECT_FALSE(comm.DoesValueExist("LISTEN2"));
  EXPECT_EQ(settings.GetServerLISTENIPPort(2), "8080");
}

TEST(ListenEntries, CountIsOneWithoutCommAndCountsOnlyListenValues) {
  CPRegistry settings;
  EXPECT_EQ(settings.GetServerLISTENIPPortCount(), 1u);

  settings.SetServerNoOfListenThreads(3);
  EXPECT_EQ(settings.GetServerLISTENIPPortCount(), 1u);

  settings.SetServerLISTENIPPort(1, "127.0.0.1,8080");
  settings.SetServerLISTENIPPort(2, "127.0.0.2,8080");
  settings.SetServerLISTENPort(3, 8083);
  EXPECT_EQ(settings.GetServerLISTENIPPortCount(), 3u);
}

TEST(UpstreamEntries, LiveUnderIPList) {
  CPRegistry settings;
  EXPECT_EQ(settings.GetIPPort(3), "");
  settings.SetIPPort(3, "127.0.0.1:8000");
  EXPECT_EQ(settings.GetIPPort(3), "127.0.0.1:8000");
  QRRegistry list(RawSettings(), "IPList");
  EXPECT_EQ(list.GetValue("IP:PORT-3", static_cast<const char*>("")), "127.0.0.1:8000");
  settings.DeleteIPPort(3);
  EXPECT_FALSE(list.DoesValueExist("IP:PORT-3"));
  EXPECT_EQ(settings.GetIPPort(3), "");
}

TEST(Catalogue, CopiesAndOtherKeysReadTheirOwnKey) {
  CPRegistry settings;
  settings.SetRecvTimeout(33);
  CPRegistry copy(settings);
  EXPECT_EQ(copy.GetRecvTimeout(), 33u);
  EXPECT_EQ(copy.GetKeyPath(), "SOFTWARE\\Orrinvale\\Zondrel");

  CPRegistry other(QRRegistry(platform::HKEY_LOCAL_MACHINE), "SOFTWARE\\Orrinvale\\Other", nullptr);
  EXPECT_EQ(other.GetRecvTimeout(), 20u);
  other.SetRecvTimeout(44);
  copy = other;
  EXPECT_EQ(copy.GetRecvTimeout(), 44u);
  EXPECT_EQ(settings.GetRecvTimeout(), 33u);
}

TEST(Catalogue, HostNameComesFromTheMachineNotTheRegistry) {
  CPRegistry settings;
  settings.SetHostName("written-by-admin");
  EXPECT_EQ(RawSettings().GetValue("HostName", static_cast<const char*>("")), "written-by-admin");
  EXPECT_EQ(CPRegistry::GetHostName(), platform::GetHostName());
  EXPECT_EQ(settings.GetSecurityServer(), platform::GetHostName());
}

}  // namespace
