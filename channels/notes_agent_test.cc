// The Notes agent: the disabled channel, slots found by keyword or by their
// own file names, a posted description file, and files that must stay in
// the Notes directory.
#include "channels/notes_agent.h"

#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "agents/agent_testing.h"
#include "agents/simple_agents_testing.h"
#include "base/eventually_testing.h"
#include "channels/house_testing.h"
#include "channels/notes_house.h"
#include "platform/testing.h"

namespace {

using agent_testing::LogFields;
using agent_testing::Serve;
using agent_testing::SplitAnswer;
using testing_support::WriteFile;

std::string Request(const std::string& argument, const std::string& method = "GET", const std::string& body = {}) {
  std::string text = method + " /KIBO-1/66817-1?" + argument + " HTTP/1.0\r\n";
  if (!body.empty()) text += "Content-length: " + std::to_string(body.size()) + "\r\n";
  return text + "\r\n" + body;
}

class NotesAgentTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(m_Dir + "notes");
    WriteFile(m_Dir + "domino.dat", "ChannelName = \"News\"\r\nAD_Logo = \"domadlog.gif\"\r\nDV_Logo = \"dv.gif\"\r\n");
    WriteFile(m_Dir + "notes/domadlog.gif", "AD-LOGO");
    WriteFile(m_Dir + "notes/dv.gif", "DV-LOGO");
    WriteFile(m_Dir + "notes/other.txt", "another file");
    m_Settings = house_testing::Settings();
    m_Settings.SetEnableNotesChannel(1);
    m_Settings.SetNotesDominoURL(m_Dir.c_str());
    m_Settings.SetNotesDominoFileName("domino.dat");
    m_Settings.SetNotesDirectory((m_Dir + "notes").c_str());
    m_Settings.SetNotesUpdateFrequency(3600);
  }

  std::unique_ptr<CNotesAgent> StartedAgent(CNotesHouse& house) {
    auto agent = std::make_unique<CNotesAgent>(m_Settings, &house);
    EXPECT_EQ(agent->Init(), 1);
    EXPECT_TRUE(poolmgr_testing::Eventually([&] { return agent->Started(); }));
    return agent;
  }

  const std::string m_Dir = testing_support::MakeTempDir("notesagent") + "/";
  CPRegistry m_Settings;
};

TEST_F(NotesAgentTest, ADisabledChannelAnswersEveryRequest204) {
  m_Settings.SetEnableNotesChannel(0);
  CNotesHouse house(m_Settings);
  ASSERT_EQ(house.Initialize(), 0);
  CNotesAgent agent(m_Settings, &house);
  ASSERT_EQ(agent.Init(), 1);
  auto served = Serve(agent, Request("data_file"));
  EXPECT_EQ(served.wire.substr(0, 35), "HTTP/1.0 204 Notes Agent Disabled\r\n");
  EXPECT_EQ(LogFields(served.entry)[agent_testing::kStatusField], "204");
}

TEST_F(NotesAgentTest, SlotsAreFoundByKeywordOrByTheirOwnFileNames) {
  CNotesHouse house(m_Settings);
  ASSERT_EQ(house.Initialize(), 0);
  auto agent = StartedAgent(house);
  for (const std::string& argument : {std::string("data_file"), std::string("NOTES.DAT")}) {
    const auto answer = SplitAnswer(Serve(*agent, Request(argument)).wire);
    EXPECT_NE(answer.body.find("SRC:notes.dat"), std::string::npos) << argument;
    EXPECT_NE(answer.body.find("ChannelName = \"News\"\r\n"), std::string::npos) << argument;
  }
  EXPECT_NE(SplitAnswer(Serve(*agent, Request("adlogo_file")).wire).body.find("AD-LOGO"), std::string::npos);
  EXPECT_NE(SplitAnswer(Serve(*agent, Request("DomADLog.gif")).wire).body.find("AD-LOGO"), std::string::npos);
  EXPECT_NE(SplitAnswer(Serve(*agent, Request("dv.gif")).wire).body.find("DV-LOGO"), std::string::npos);
  EXPECT_EQ(Serve(*agent, Request("doze_file")).wire.substr(0, 22), "HTTP/1.0 204 No data\r\n");
  EXPECT_NE(SplitAnswer(Serve(*agent, Request("other.txt")).wire).body.find("another file"), std::string::npos);
  EXPECT_EQ(Serve(*agent, Request("\"../domino.dat\"")).wire.substr(0, 30), "HTTP/1.0 204 File not found.\r\n");
  EXPECT_EQ(agent->RequestCount(), 8u);
}

TEST_F(NotesAgentTest, APostedDescriptionReplacesTheHousesImage) {
  m_Settings.SetNotesDominoURL("http://127.0.0.1:9/");  // nobody there: the mirror serves
  WriteFile(m_Dir + "notes/domino.cache", "ChannelName = \"Mirror\"\r\n");
  CNotesHouse house(m_Settings);
  ASSERT_EQ(house.Initialize(), 0);
  EXPECT_EQ(house.GetDataString(), "ChannelName = \"Mirror\"\r\n");
  auto agent = StartedAgent(house);

  const std::string posted = "ChannelName = \"Posted\"\r\n";
  auto served = Serve(*agent, Request("notes.dat", "POST", posted));
  EXPECT_EQ(served.wire.substr(0, 46), "HTTP/1.0 204 Successful receipt of notes.dat\r\n");
  EXPECT_EQ(house.GetDataString(), posted);
  EXPECT_EQ(testing_support::ReadFile(m_Dir + "notes/domino.cache"), posted);
}

}  // namespace
