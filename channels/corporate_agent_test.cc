// The corporate agent answering viewers from its slots: the start-up
// answer, each corpType, files that must not leave the corporate directory,
// rebuilds on new flash data and the request count.
#include "channels/corporate_agent.h"

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "agents/agent_testing.h"
#include "agents/simple_agents_testing.h"
#include "base/event_catalogue.h"
#include "base/eventually_testing.h"
#include "channels/corporate_data.h"
#include "channels/flash_house.h"
#include "channels/house_testing.h"
#include "platform/event_store.h"
#include "platform/testing.h"

namespace {

namespace fs = std::filesystem;
using agent_testing::LogFields;
using agent_testing::Serve;
using agent_testing::SplitAnswer;
using testing_support::WriteFile;

const std::string kCorpDat =
    "NAME=Acme\r\nDV_LOGO=dvlogo.gif\r\nAD_LOGO=missing.gif\r\nDV_FILE=doze.anm\r\nFLASH_FILE=flash.dat\r\n"
    "GROUP_FILE=g1.dat,,\r\n";
const std::string kGroup = "GROUP=News\r\nDOC_ID=1\r\nDOC_SUBJECT=One\r\nDOC_SUMMARY=<p>1</p>\r\nDOC_SUMMARY_END\r\n";

std::string Request(int category, const std::string& argument = {}) {
  return "GET /KIBO-1/" + std::to_string(category) + "-1" + (argument.empty() ? "" : "?" + argument) +
         " HTTP/1.0\r\n\r\n";
}

// A corporate directory with corp.dat, a group file, a logo, a screen saver
// and a flash file, and the agent over it.
class CorporateAgentTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteFile(m_Dir + "corp.dat", kCorpDat);
    fs::create_directories(m_Dir + "GROUPS");
    WriteFile(m_Dir + "GROUPS/g1.dat", kGroup);
    WriteFile(m_Dir + "g1A2B8.dat", "group file in the corporate directory");
    WriteFile(m_Dir + "dvlogo.gif", agent_testing::PatternBytes(100 * 1024, 7));
    WriteFile(m_Dir + "doze.anm", "doze");
    WriteFile(m_Dir + "flash.dat", "ticker one");
    m_Settings = house_testing::Settings();
    m_Settings.SetCorpDirectory(m_Dir.c_str());
    m_Settings.SetCorporateUpdateFrequency(3600);
    m_Settings.SetStatisticsCorpRequests(0);
    ASSERT_EQ(m_Data.Initialize(m_Dir, "corp.dat"), 0);
    ASSERT_EQ(m_Flash.Initialize(), 0);
  }

  // The agent after its first rebuild.
  std::unique_ptr<CCorporateAgent> StartedAgent() {
    auto agent = std::make_unique<CCorporateAgent>(m_Settings, &m_Data, &m_Flash);
    EXPECT_EQ(agent->Init(), 1);
    EXPECT_TRUE(poolmgr_testing::Eventually([&] { return agent->Started(); }));
    return agent;
  }

  const std::string m_Dir = testing_support::MakeTempDir("corpagent") + "/";
  CPRegistry m_Settings;
  CCorporateData m_Data;
  CFlashHouse m_Flash{m_Dir + "flash.dat"};
};

TEST_F(CorporateAgentTest, BeforeTheFirstRebuildEveryRequestIsToldTheChannelIsStarting) {
  CCorporateAgent agent(m_Settings, &m_Data, &m_Flash);
  auto served = Serve(agent, Request(66816, "data_file"));
  EXPECT_EQ(SplitAnswer(served.wire).head.substr(0, 47), "HTTP/1.0 500 Corporate Channel Starting up\r\nSer");
  EXPECT_EQ(LogFields(served.entry)[agent_testing::kStatusField], "500");
  EXPECT_EQ(agent.RequestCount(), 0u);
}

TEST_F(CorporateAgentTest, EachSlotIsServedWithItsFileNameAndNextUpdate) {
  m_Settings.SetDVLogoNextUpdate(9000);
  auto agent = StartedAgent();

  // The argument's case does not matter.
  auto corp = Serve(*agent, Request(66816, "DATA_FILE"));
  auto answer = SplitAnswer(corp.wire);
  EXPECT_NE(answer.head.find("HTTP/1.0 200"), std::string::npos);
  EXPECT_NE(answer.body.find("SRC:corp.dat"), std::string::npos);
  EXPECT_NE(answer.body.find("NAME=Acme\r\n"), std::string::npos);
  EXPECT_NE(answer.body.find(kGroup), std::string::npos);  // the group inline
  EXPECT_EQ(LogFields(corp.entry)[agent_testing::kStatusField], "200");

  auto logo = Serve(*agent, Request(66816, "dvlogo_file"));
  answer = SplitAnswer(logo.wire);
  EXPECT_NE(answer.body.find("SRC:dvlogo.gif"), std::string::npos);
  EXPECT_NE(answer.body.find("NXTUPD:9000"), std::string::npos);
  EXPECT_EQ(answer.body.substr(answer.body.size() - 100 * 1024), agent_testing::PatternBytes(100 * 1024, 7));

  EXPECT_NE(SplitAnswer(Serve(*agent, Request(66816, "doze_file")).wire).body.find("doze"), std::string::npos);
  EXPECT_NE(SplitAnswer(Serve(*agent, Request(67072)).wire).body.find("ticker one"), std::string::npos);

  // A logo named in corp.dat that is not there.
  auto missing = Serve(*agent, Request(66816, "adlogo_file"));
  EXPECT_EQ(missing.wire.substr(0, 22), "HTTP/1.0 204 No data\r\n");
  EXPECT_EQ(LogFields(missing.entry)[agent_testing::kStatusField], "204");
}

TEST_F(CorporateAgentTest, OtherArgumentsNameFilesOfTheCorporateDirectoryOnly) {
  auto agent = StartedAgent();
  auto group = Serve(*agent, Request(66816, "g1A2B8.dat"));
  EXPECT_NE(SplitAnswer(group.wire).body.find("group file in the corporate directory"), std::string::npos);
  EXPECT_EQ(LogFields(group.entry)[agent_testing::kStatusField], "200");

  // Outside the directory, through a link, or no file at all: "not found".
  const std::string outside = testing_support::MakeTempDir("outside") + "/secret.txt";
  WriteFile(outside, "secret");
  fs::create_symlink(outside, m_Dir + "link.txt");
  for (const std::string& name : {std::string("missing.dat"), std::string("..%2fcorp.dat"),
                                 std::string("\"../corp.dat\""), std::string("\"" + outside + "\""),
                                 std::string("link.txt"), std::string("GROUPS"), std::string("a%5cb")}) {
    auto refused = Serve(*agent, Request(66816, name));
    EXPECT_EQ(refused.wire.substr(0, 30), "HTTP/1.0 204 File not found.\r\n") << name;
    EXPECT_EQ(refused.wire.find("secret"), std::string::npos) << name;
  }
}

TEST_F(CorporateAgentTest, RequestsItCannotAnswer) {
  auto agent = StartedAgent();
  auto other = Serve(*agent, Request(66560));
  EXPECT_EQ(other.wire.substr(0, 34), "HTTP/1.0 500 No default response\r\n");
  EXPECT_EQ(other.result, 0);

  const std::size_t eventsBefore = platform::ReadEventRecords().size();
  auto bare = Serve(*agent, Request(66816));
  EXPECT_EQ(bare.wire.substr(0, 34), "HTTP/1.0 500 No default response\r\n");
  const auto records = platform::ReadEventRecords();
  ASSERT_GT(records.size(), eventsBefore);
  EXPECT_EQ(records.back().id, events::kChannelArgumentMissing.id);
  ASSERT_EQ(records.back().strings.size(), 1u);
  EXPECT_EQ(records.back().strings[0], "127.0.0.1");
}

TEST_F(CorporateAgentTest, NewFlashDataRebuildsAtOnceAndIdenticalBytesChangeNothing) {
  auto agent = StartedAgent();
  const std::string fresh = "ticker two";
  ASSERT_EQ(m_Flash.WriteNewData(fresh.data(), static_cast<platform::DWORD>(fresh.size()), false), 0);
  EXPECT_NE(SplitAnswer(Serve(*agent, Request(67072)).wire).body.find("ticker two"), std::string::npos);

  // The same bytes written again are "unchanged".
  WriteFile(m_Dir + "flash.dat", fresh);
  EXPECT_FALSE(m_Flash.ReadFiles());

  // An edited corp.dat is picked up by the next rebuild.
  WriteFile(m_Dir + "corp.dat", "NAME=Edited\r\n" + kCorpDat.substr(kCorpDat.find("DV_LOGO")));
  agent->BuildCorpFile();
  EXPECT_NE(SplitAnswer(Serve(*agent, Request(66816, "data_file")).wire).body.find("NAME=Edited"),
            std::string::npos);
}

TEST_F(CorporateAgentTest, AnsweredRequestsAreCountedInTheStatistics) {
  {
    auto agent = StartedAgent();
    Serve(*agent, Request(66816, "data_file"));
    Serve(*agent, Request(66816, "nothing.dat"));
    Serve(*agent, Request(67072));
    EXPECT_EQ(agent->RequestCount(), 3u);
  }
  // The last count is written as the agent ends.
  EXPECT_EQ(m_Settings.GetStatisticsCorpRequests(), 3u);
}

TEST_F(CorporateAgentTest, ReadersAndRebuildsRunTogether) {
  auto agent = StartedAgent();
  std::atomic<bool> stop{false};
  std::thread rebuilder([&] {
    while (!stop) agent->BuildCorpFile();
  });
  for (int i = 0; i < 50; ++i) {
    const std::string wire = Serve(*agent, Request(66816, i % 2 == 0 ? "data_file" : "dvlogo_file")).wire;
    ASSERT_EQ(wire.substr(0, 12), "HTTP/1.0 200");
  }
  stop = true;
  rebuilder.join();
}

}  // namespace
