// The admin agent's cache-dump command on the viewer port: the report file
// in the transaction log directory, the answers 204 and 500, and requests
// without a known command.
#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <string>

#include "admin/admin_agent.h"
#include "cache/cache_dump.h"
#include "cache/cache_testing.h"
#include "cache/proxy_agent.h"
#include "platform/event_store.h"
#include "platform/testing.h"

namespace {

using cache_testing::Ask;
using cache_testing::Exchange;

class AdminAgentTest : public testing::Test {
 protected:
  void SetUp() override {
    m_LogDirectory = testing_support::MakeTempDir("log") + "/";
    CPRegistry settings;
    settings.SetTransactionLogDirectory(m_LogDirectory.c_str());
    // Nothing upstream: the dump only reads what the cache holds.
    m_Proxy = std::make_unique<CProxyAgent>(cache_testing::UpstreamSettings("127.0.0.1,9"));
    m_Admin = std::make_unique<CAdminAgent>(settings, m_Proxy.get());
    ASSERT_EQ(m_Admin->Init(), 1);
  }

  // The dump files in the log directory.
  std::vector<std::string> Dumps() const {
    std::vector<std::string> found;
    for (const auto& entry : std::filesystem::directory_iterator(m_LogDirectory)) {
      if (entry.path().filename().string().rfind("Dump for ", 0) == 0) found.push_back(entry.path().string());
    }
    return found;
  }

  std::string m_LogDirectory;
  std::unique_ptr<CProxyAgent> m_Proxy;
  std::unique_ptr<CAdminAgent> m_Admin;
};

TEST_F(AdminAgentTest, DumpCommandWritesTheReportAndAnswers204) {
  CCacheEntry* entry = m_Proxy->Cache().Table()->FindOrCreate("1000");
  ASSERT_NE(entry, nullptr);
  const std::time_t before = std::time(nullptr);
  const Exchange answer = Ask(*m_Admin, "GET", "/KIBO-1/1-0?pxyagent");
  EXPECT_EQ(answer.result, 1);
  EXPECT_EQ(answer.wire.substr(0, answer.wire.find("\r\n")), "HTTP/1.0 204 No Content");
  EXPECT_EQ(answer.Status(), "204");

  const std::vector<std::string> dumps = Dumps();
  ASSERT_EQ(dumps.size(), 1u);
  const std::string name = std::filesystem::path(dumps[0]).filename().string();
  EXPECT_TRUE(name == std::filesystem::path(CAdminAgent::DumpFileName(m_LogDirectory, before)).filename() ||
              name == std::filesystem::path(CAdminAgent::DumpFileName(m_LogDirectory, before + 1)).filename())
      << name;
  const std::string report = testing_support::ReadFile(dumps[0]);
  EXPECT_NE(report.find("Cache Folder Name: 1000\r\n"), std::string::npos) << "default flags: entry sections";
  EXPECT_NE(report.find("Total Buffer Bytes in Cache: 0\r\n"), std::string::npos);
}

TEST_F(AdminAgentTest, TheNextArgumentChoosesTheParts) {
  m_Proxy->Cache().Table()->FindOrCreate("1000");
  EXPECT_EQ(Ask(*m_Admin, "GET", "/KIBO-1/1-0?PxyAgent+0").Status(), "204");
  ASSERT_EQ(Dumps().size(), 1u);
  const std::string line = std::string(69, '=') + "\r\n";
  EXPECT_EQ(testing_support::ReadFile(Dumps()[0]),
            line + line + "\r\nTotal number of folders: 1\r\nTotal number of files: 0\r\n");
}

TEST_F(AdminAgentTest, ADumpFileThatCannotBeCreatedAnswers500AndReports) {
  CPRegistry settings;
  settings.SetTransactionLogDirectory((m_LogDirectory + "missing/").c_str());
  CAdminAgent admin(settings, m_Proxy.get());
  const Exchange answer = Ask(admin, "GET", "/KIBO-1/1-0?PxyAgent");
  EXPECT_EQ(answer.result, 0);
  EXPECT_EQ(answer.wire.substr(0, 12), "HTTP/1.0 500");
  EXPECT_EQ(answer.Status(), "500");
  bool reported = false;
  for (const platform::EventRecord& record : platform::ReadEventRecords()) {
    reported = reported || (record.id == 0xC0000065 && record.category == 18);
  }
  EXPECT_TRUE(reported);
}

TEST_F(AdminAgentTest, RequestsWithoutAKnownCommandAreRefused) {
  for (const char* target : {"/KIBO-1/1-0", "/KIBO-1/1-0?Shutdown+now"}) {
    const Exchange answer = Ask(*m_Admin, "GET", target);
    EXPECT_EQ(answer.result, 0);
    EXPECT_EQ(answer.wire.substr(0, 12), "HTTP/1.0 400") << target;
    EXPECT_EQ(answer.Status(), "400");
  }
  EXPECT_TRUE(Dumps().empty());

  // Without a proxy agent there is no cache to report on.
  CPRegistry settings;
  settings.SetTransactionLogDirectory(m_LogDirectory.c_str());
  CAdminAgent withoutCache(settings, nullptr);
  const Exchange answer = Ask(withoutCache, "GET", "/KIBO-1/1-0?PxyAgent");
  EXPECT_EQ(answer.wire.substr(0, answer.wire.find("\r\n")), "HTTP/1.0 500 No proxy cache");
  EXPECT_EQ(answer.Status(), "500");
  EXPECT_TRUE(Dumps().empty()) << "no empty report is left behind";
}

}  // namespace
