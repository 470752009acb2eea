#include "redirect/redirect_agent.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

#include "agents/agent_testing.h"
#include "agents/simple_agents_testing.h"
#include "base/event_catalogue.h"
#include "base/eventually_testing.h"
#include "platform/event_store.h"
#include "platform/sync.h"
#include "platform/testing.h"
#include "txlog/transaction_log_entry.h"
#include "upstream/scripted_server_testing.h"

namespace {

using agent_testing::ViewerConnection;

// The test's viewers come from 127.0.0.1. The relay is "relay9": 127.0.0.9
// and, as every relay, 127.0.0.1. Its master is alpha (127.0.0.3), where
// nothing listens; nothing here leaves loopback.
RedirectionIdentity Identity() {
  std::filesystem::create_directories(testing_support::TestRoot() + "/etc");
  testing_support::WriteFile(testing_support::TestRoot() + "/etc/hosts",
                             "127.0.0.1 localhost\n127.0.0.9 relay9\n127.0.0.3 alpha\n127.0.0.2 beta\n");
  RedirectionIdentity identity;
  identity.hostName = "relay9";
  identity.ownAddresses = {0x7F000009, 0x7F000001};
  identity.address = "127.0.0.9";
  identity.ports = {8080};
  return identity;
}

std::unique_ptr<QRNHTTP> Parse(const std::string& text) {
  auto parser = std::make_unique<QRNHTTP>();
  std::vector<char> buffer(text.begin(), text.end());
  unsigned int length = static_cast<unsigned int>(buffer.size());
  EXPECT_EQ(parser->HTTPprocess(buffer.data(), length), eHTTPComplete) << text;
  return parser;
}

std::string Post(const std::string& table) {
  return "POST /KIBO-1/66560-1?redirect.csv HTTP/1.0\r\nContent-Length: " + std::to_string(table.size()) +
         "\r\n\r\n" + table;
}

// alpha is the master; this relay serves 127/8.
const std::string kSlaveTable =
    "Acme, 127.0.0.3, 127.0.0.9\r\n127.0.0.3, 1, 8080\r\n127.0.0.0/8, , x\r\nall others, x\r\n";
// This relay is the master and serves nobody; its slave beta is not there.
const std::string kMasterTable = "Acme, 127.0.0.9, 127.0.0.2\r\n127.0.0.9, 8080, 1\r\nall others, , x\r\n";

class RedirectAgentTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CPRegistry settings;
    settings.SetHomeDirectory(testing_support::MakeTempDir("home").c_str());
    // No master anywhere: the relay must settle without one.
    settings.SetRedirectionMasterZondrel("127.0.0.1:(1)");
    settings.SetRedirectionRefreshFrequency(3600);
    m_House = std::make_unique<CRedirectionHouse>(settings, Identity());
  }
  void TearDown() override {
    m_Agent.reset();
    m_House.reset();
  }
  void StartAgent() {
    m_Agent = std::make_unique<CRedirectAgent>(CPRegistry(), m_House.get());
    ASSERT_EQ(m_Agent->Init(), 1);
  }
  void Hold(const std::string& table) {
    ASSERT_EQ(m_House->WriteNewData(table.data(), static_cast<platform::DWORD>(table.size()), true), 0);
    // The install runs on the house's update thread.
    ASSERT_TRUE(poolmgr_testing::Eventually([&] { return m_House->Map().CompanyName() == "Acme"; }));
  }
  // One request answered by the agent: the whole answer, and the logged status.
  std::string Ask(const std::string& request, std::string* status = nullptr) {
    std::unique_ptr<QRNHTTP> parsed = Parse(request);
    ViewerConnection viewer;
    viewer.StartReading();
    unsigned long sent = 0;
    CPTransactionLogEntry entry;
    m_Agent->HTTPProcess(viewer.Server(), sent, parsed.get(), &entry);
    if (status != nullptr) *status = agent_testing::LogFields(entry)[agent_testing::kStatusField];
    return viewer.Finish();
  }

  std::unique_ptr<CRedirectionHouse> m_House;
  std::unique_ptr<CRedirectAgent> m_Agent;
};

TEST_F(RedirectAgentTest, ARelayWithoutTableOrMasterServesTheDefaultTableNamingItself) {
  EXPECT_EQ(m_House->Initialize(), 0);
  EXPECT_TRUE(m_House->IsRefreshed());
  const std::string table = Identity().DefaultMasterTable();
  EXPECT_EQ(m_House->GetDataString(), table);
  EXPECT_TRUE(m_House->Map().IsMaster());
  // Written as the master's file; the configured master stays.
  EXPECT_EQ(testing_support::ReadFile(CPRegistry().GetRedirectionFile()), table);
  EXPECT_EQ(CPRegistry().GetRedirectionMasterZondrel(), "127.0.0.1:(1)");
  StartAgent();
  const std::string answer = Ask("GET /KIBO-1/66560-1 HTTP/1.0\r\n\r\n");
  EXPECT_NE(answer.find("SRC:0.dc\r\n"), std::string::npos) << answer;
  EXPECT_NE(answer.find("[DataCenter]\r\nEnableCorpChannel=1\r\nEnableDominoChannel=0\r\nName=My Company\r\n"
                        "UsageMode=1\r\nAddress1=127.0.0.9:(8080)\r\nName1=relay9\r\n"),
            std::string::npos)
      << answer;
}

TEST_F(RedirectAgentTest, TheTableGoesToSlavesRawAndOnlyForTheExactArgument) {
  StartAgent();
  Hold(kSlaveTable);
  std::string status;
  EXPECT_EQ(Ask("GET /KIBO-1/66560-1?redirect.csv HTTP/1.0\r\n\r\n", &status),
            "HTTP/1.0 200 OK\r\nContent-length: " + std::to_string(kSlaveTable.size()) + "\r\n\r\n" + kSlaveTable);
  EXPECT_EQ(status, "200");
  // Another spelling is a viewer asking where to go.
  const std::string answer = Ask("GET /KIBO-1/66560-1?REDIRECT.CSV HTTP/1.0\r\n\r\n", &status);
  EXPECT_EQ(answer.rfind("HTTP/1.0 200 ", 0), 0u) << answer;
  EXPECT_NE(answer.find("Address1=127.0.0.9:(8080)"), std::string::npos) << answer;
  EXPECT_EQ(status, "200");
  EXPECT_EQ(m_Agent->Requests(), 1u);
}

TEST_F(RedirectAgentTest, NextUpdateFollowsWhetherThisRelayServesTheClient) {
  CPRegistry().SetRedirectionNextUpdate(1000000);
  StartAgent();
  EXPECT_EQ(m_Agent->NextUpdateSeconds(), 604800u);
  Hold(kSlaveTable);
  const std::string served = Ask("GET /KIBO-1/66560-1 HTTP/1.0\r\n\r\n");
  EXPECT_TRUE(served.find("NXTUPD:604800\r\n") != std::string::npos ||
              served.find("NXTUPD:604799\r\n") != std::string::npos)
      << served;
  // 127/8 no longer goes to this relay: ask again in a second.
  const std::string moved = "Acme, 127.0.0.3, 127.0.0.9\r\n127.0.0.3, 1, 8080\r\n127.0.0.0/8, x\r\n";
  ASSERT_EQ(m_House->WriteNewData(moved.data(), static_cast<platform::DWORD>(moved.size()), true), 0);
  ASSERT_TRUE(poolmgr_testing::Eventually(
      [&] { return m_House->Map().BuildRedirectAnswer("127.0.0.1").find("Name1=alpha") != std::string::npos; }));
  const std::string elsewhere = Ask("GET /KIBO-1/66560-1 HTTP/1.0\r\n\r\n");
  EXPECT_EQ(elsewhere.find("EnableCorpChannel"), std::string::npos) << elsewhere;
  EXPECT_TRUE(elsewhere.find("NXTUPD:1\r\n") != std::string::npos ||
              elsewhere.find("NXTUPD:0\r\n") != std::string::npos)
      << elsewhere;
  // A table that covers nobody: 204.
  const std::string nobody = "Acme, 127.0.0.3\r\n127.0.0.3, 1\r\n10/8, x\r\n";
  ASSERT_EQ(m_House->WriteNewData(nobody.data(), static_cast<platform::DWORD>(nobody.size()), true), 0);
  ASSERT_TRUE(poolmgr_testing::Eventually([&] { return m_House->Map().BuildRedirectAnswer("127.0.0.1").empty(); }));
  std::string status;
  EXPECT_EQ(Ask("GET /KIBO-1/66560-1 HTTP/1.0\r\n\r\n", &status).rfind("HTTP/1.0 204 No Redirection\r\n", 0), 0u);
  EXPECT_EQ(status, "204");
}

// A slave takes posts from its master alone: the test's 127.0.0.1 is not it.
TEST_F(RedirectAgentTest, ASlaveRefusesAPostFromAnyoneButItsMaster) {
  StartAgent();
  Hold(kSlaveTable);
  std::string status;
  const std::string other = "Evil, 10.6.6.6\r\n10.6.6.6, 80\r\nall others, x\r\n";
  EXPECT_EQ(Ask(Post(other), &status).rfind("HTTP/1.0 403 ", 0), 0u);
  EXPECT_EQ(status, "403");
  EXPECT_EQ(m_House->GetDataString(), kSlaveTable);
  bool reported = false;
  for (const platform::EventRecord& record : platform::ReadEventRecords()) {
    reported = reported || (record.id == events::kRedirectPostRefused.id && !record.strings.empty() &&
                            record.strings[0] == "127.0.0.1");
  }
  EXPECT_TRUE(reported);
  // The slave's copy is the cache file; the master's file is gone.
  EXPECT_EQ(testing_support::ReadFile(CPRegistry().GetRedirectionCacheFile()), kSlaveTable);
  EXPECT_FALSE(std::filesystem::exists(CPRegistry().GetRedirectionFile()));
}

// The master takes posts from its own addresses; an identical table is
// acknowledged and not installed (nor posted) again; an invalid one fails.
TEST_F(RedirectAgentTest, TheMasterTakesAPostFromItself) {
  StartAgent();
  std::string status;
  EXPECT_EQ(Ask(Post(kMasterTable), &status), "HTTP/1.0 204 Successful receipt of redirect.dat\r\nServer: "
                                               "Orrinvale, Inc. Zondrel\r\n\r\n");
  EXPECT_EQ(status, "204");
  ASSERT_TRUE(poolmgr_testing::Eventually([&] { return m_House->Map().CompanyName() == "Acme"; }));
  EXPECT_TRUE(m_House->Map().IsMaster());
  EXPECT_EQ(testing_support::ReadFile(CPRegistry().GetRedirectionFile()), kMasterTable);
  EXPECT_EQ(Ask(Post(kMasterTable), &status).rfind("HTTP/1.0 204 Successful receipt", 0), 0u);
  EXPECT_EQ(Ask(Post("just one line"), &status).rfind("HTTP/1.0 500 Failed receiving redirect.dat", 0), 0u);
  EXPECT_EQ(status, "500");
  EXPECT_EQ(m_House->GetDataString(), kMasterTable);
  // Other posters only once Redirection\AllowedPosters names them.
  std::string reason;
  EXPECT_FALSE(m_Agent->PosterAllowed(0x0A050505, reason));
  CPRegistry().SetRedirectionAllowedPosters({"10.5.5.5"});
  EXPECT_TRUE(m_Agent->PosterAllowed(0x0A050505, reason));
}

// The agent's wake-up reads the relay's files again: a table edited on the
// master's disk is installed when the named event is set.
TEST_F(RedirectAgentTest, TheNamedEventInstallsATableEditedOnDisk) {
  ASSERT_EQ(m_House->Initialize(), 0);
  StartAgent();
  // The first run, at start, is over before the file changes.
  platform::Sleep(300);
  ASSERT_EQ(m_House->Map().CompanyName(), "My Company");
  const std::string edited = "Acme, 127.0.0.9\r\n127.0.0.9, 8080\r\nall others, x\r\n";
  testing_support::WriteFile(CPRegistry().GetRedirectionFile(), edited);
  std::unique_ptr<platform::Event> event = platform::Event::OpenNamed("RefreshRedirectionFiles");
  ASSERT_NE(event, nullptr);
  ASSERT_TRUE(event->Set());
  EXPECT_TRUE(poolmgr_testing::Eventually([&] { return m_House->Map().CompanyName() == "Acme"; }));
  EXPECT_EQ(m_House->GetDataString(), edited);
}

}  // namespace

namespace {

// A relay that made the default table in an earlier run asks its master
// again at the next start, and becomes its slave when the master answers.
TEST(RedirectionHouseRestart, TheDefaultTableOfAnEarlierRunDoesNotSettleTheMaster) {
  std::string table;
  upstream_testing::ScriptedServer master(
      [&](platform::SOCKET client, const std::string& head) {
        upstream_testing::ScriptedServer::SendAll(
            client, "HTTP/1.0 200 OK\r\nContent-length: " + std::to_string(table.size()) + "\r\n\r\n" + table);
      },
      true);
  ASSERT_NE(master.Port(), 0u);
  table = "Acme, 127.0.0.1, 127.0.0.9\r\n127.0.0.1, " + std::to_string(master.Port()) +
          ", 8080\r\nall others, , x\r\n";

  // This relay is 127.0.0.9 alone: the master at 127.0.0.1 is another.
  RedirectionIdentity identity = Identity();
  identity.ownAddresses = {0x7F000009};
  CPRegistry settings;
  settings.SetHomeDirectory(testing_support::MakeTempDir("home").c_str());
  settings.SetRedirectionMasterZondrel(("127.0.0.1:(" + std::to_string(master.Port()) + ")").c_str());
  testing_support::WriteFile(settings.GetRedirectionFile(), identity.DefaultMasterTable());

  CRedirectionHouse house(settings, identity);
  ASSERT_EQ(house.Initialize(), 0);
  ASSERT_TRUE(poolmgr_testing::Eventually([&] { return house.IsRefreshed(); }));
  ASSERT_EQ(master.Requests().size(), 1u);
  EXPECT_EQ(master.Requests()[0].rfind("GET /KIBO-1/66560-1?redirect.csv HTTP/1.0\r\n", 0), 0u) << master.Requests()[0];
  EXPECT_EQ(house.GetDataString(), table);
  EXPECT_FALSE(house.Map().IsMaster());
  EXPECT_TRUE(poolmgr_testing::Eventually([&] { return house.Map().CompanyName() == "Acme"; }));
  // Now a slave: the cache file holds the table, its own default is gone.
  EXPECT_EQ(testing_support::ReadFile(settings.GetRedirectionCacheFile()), table);
  EXPECT_FALSE(std::filesystem::exists(settings.GetRedirectionFile()));
}

}  // namespace
