// The agent list: loading from disk, the fetch from the simulated data
// centre (and from scripted servers with the answers it must not take),
// lookups during refreshes, and the refresh thread with its named update
// event.
#include "agents/agent_list.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>
#include <vector>

#include "agents/agent_kind.h"
#include "agents/agent_list_format.h"
#include "agents/agent_testing.h"
#include "platform/event_log.h"
#include "platform/sync.h"
#include "platform/testing.h"
#include "upstream/peer_process_testing.h"
#include "upstream/scripted_server_testing.h"
#include "upstream/upstream_servers.h"

namespace {

using upstream_testing::ScriptedServer;
using upstream_testing::Simulator;

// Settings whose server list names only `server` (a dead port when empty),
// with the home directory `home`.
CPRegistry Settings(const std::string& home, const std::string& server = {}) {
  upstream::ClearLastGoodServer();
  CPRegistry settings;
  settings.SetHomeDirectory(home.c_str());
  settings.SetRecvTimeout(3);
  settings.SetConnectTimeout(3);
  settings.SetIPPort(1, server.empty() ? ("127.0.0.1," + std::to_string(upstream_testing::FreeLoopbackPort())).c_str()
                                       : server.c_str());
  settings.DeleteAgentsDefaultList();
  return settings;
}

void WriteList(CAgentList& list, const std::string& body) {
  std::filesystem::create_directories(std::filesystem::path(list.FilePath()).parent_path());
  testing_support::WriteFile(list.FilePath(), "HTTP/1.0 200 OK\r\nContent-Length: 99\r\n\r\n" + body);
}

// Each test has a home directory of its own and counts the event reports
// made since it began.
class AgentListTest : public ::testing::Test {
 protected:
  void SetUp() override {
    home_ = testing_support::MakeTempDir("home") + "/";
    const auto records = platform::ReadEventRecords(1);
    first_ = records.empty() ? 0 : records.back().record + 1;
  }

  CPRegistry Settings(const std::string& server = {}) const { return ::Settings(home_, server); }

  std::size_t Reports(platform::DWORD id) const {
    std::size_t count = 0;
    for (const platform::EventRecord& record : platform::ReadEventRecords()) {
      count += record.record >= first_ && record.id == id ? 1 : 0;
    }
    return count;
  }

  std::string home_;
  std::uint64_t first_ = 0;
};
class AgentListDisk : public AgentListTest {};
class AgentListUpstream : public AgentListTest {};
class AgentListConcurrency : public AgentListTest {};
class AgentListThread : public AgentListTest {};

template <typename Condition>
bool Eventually(Condition condition, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

TEST_F(AgentListDisk, TheRegistryDefaultWinsAndOnlyTheLowestByteRoutes) {
  CPRegistry settings = Settings();
  settings.SetAgentsDefaultList({"500,9", " 600 , 1 ", "junk"});
  CAgentList list(settings);
  EXPECT_EQ(list.FilePath(), settings.GetHomeDirectory() + "Agents.lst");
  EXPECT_EQ(list.Lookup(500), 0);  // empty before the first load
  WriteList(list, "3\r\n500,3\r\n700,775\r\n800,8\r\n");
  ASSERT_EQ(list.Refresh(CAgentList::kInitialLoad), 1);
  EXPECT_EQ(list.Lookup(500), eNullAgent);  // the registry's value
  EXPECT_EQ(list.Lookup(600), eCorporateAgent);
  EXPECT_EQ(list.Lookup(700), 7);  // 775 = 0x307
  std::uint32_t value = 0;
  ASSERT_TRUE(list.LookupValue(700, value));
  EXPECT_EQ(value, 775u);
  EXPECT_EQ(list.Lookup(800), eNotesAgent);
  EXPECT_EQ(list.Lookup(900), 0);
  EXPECT_EQ(list.Lookup(0x100000000UL + 500), 0);
  EXPECT_EQ(list.Count(), 4u);
}

TEST_F(AgentListDisk, AListThatIsNoListLeavesRoutingUnchanged) {
  CPRegistry settings = Settings();
  CAgentList list(settings);
  WriteList(list, "1\r\n500,3\r\n");
  ASSERT_EQ(list.Refresh(CAgentList::kInitialLoad), 1);
  WriteList(list, "0\r\n500,9\r\n");
  EXPECT_EQ(list.Refresh(CAgentList::kInitialLoad), 0);
  EXPECT_EQ(list.Lookup(500), eProxyAgent);
  // A count no list can have is refused with a report, without sizing anything by it.
  WriteList(list, "4000000000\r\n500,9\r\n");
  EXPECT_EQ(list.Refresh(CAgentList::kInitialLoad), 0);
  EXPECT_EQ(list.Lookup(500), eProxyAgent);
  EXPECT_EQ(Reports(0xC000006F), 1u);
}

TEST_F(AgentListDisk, NoFileAndNoUpstreamMeansEveryCategoryPassesThrough) {
  CPRegistry settings = Settings();
  settings.SetAgentsDefaultList({"500,9"});
  CAgentList list(settings);
  EXPECT_EQ(list.Refresh(CAgentList::kInitialLoad), 0);
  EXPECT_EQ(list.Lookup(500), 0);  // the defaults wait for a list
  EXPECT_EQ(Reports(0xC0000065), 1u);  // the missing file
  EXPECT_EQ(Reports(0xC000006E), 1u);  // no server answered
  EXPECT_FALSE(std::filesystem::exists(list.FilePath()));
}

TEST_F(AgentListUpstream, AFetchedListIsStoredAndServesTheNextStartWithoutUpstream) {
  Simulator dc;
  ASSERT_TRUE(dc.Start());
  {
    CAgentList list(Settings(dc.Address()));
    ASSERT_EQ(list.Refresh(CAgentList::kFetchUpstream), 1);
    EXPECT_EQ(dc.Stat("agentlist"), 1);
    EXPECT_GT(list.Count(), 0u);
  }
  const std::string stored = testing_support::ReadFile(Settings().GetHomeDirectory() + "Agents.lst");
  EXPECT_EQ(stored.substr(0, 15), "HTTP/1.0 200 OK");
  EXPECT_NE(stored.find("\r\n\r\n"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(Settings().GetHomeDirectory() + "Agents.lst.tmp"));
  dc.Stop();

  CAgentList next(Settings());
  ASSERT_EQ(next.Refresh(CAgentList::kInitialLoad), 1);
  agents::AgentMap expected;
  std::uint64_t count = 0;
  ASSERT_NE(agents::ParseAgentList(stored, expected, CAgentList::kMaxEntries, count), agents::ListParse::kRejected);
  EXPECT_EQ(next.Count(), expected.size());
  for (const auto& [category, value] : expected) EXPECT_EQ(next.Lookup(category), static_cast<int>(value & 0xFF));
}

TEST_F(AgentListUpstream, TheRequestIsTheListRequest) {
  ScriptedServer server("HTTP/1.0 200 OK\r\nContent-Length: 8\r\n\r\n1\r\n42,3\r\n");
  CAgentList list(Settings(server.Address()));
  ASSERT_EQ(list.Refresh(CAgentList::kFetchUpstream), 1);
  EXPECT_EQ(list.Lookup(42), eProxyAgent);
  ASSERT_EQ(server.Requests().size(), 1u);
  EXPECT_EQ(server.Requests()[0], CAgentList::UpstreamRequest());
  EXPECT_EQ(CAgentList::UpstreamRequest().substr(0, 43), "GET /KIBO-1/67328-1 HTTP/1.0\r\nUser-Agent: Z");
  EXPECT_NE(CAgentList::UpstreamRequest().find("\r\nQRNReqType:4\r\nPragma: no-cache\r\n\r\n"), std::string::npos);
}

TEST_F(AgentListUpstream, AnswersThatAreNoListLeaveRoutingAndTheStoredFileUnchanged) {
  struct Case {
    const char* answer;
    platform::DWORD event;
  };
  const Case cases[] = {
      {"HTTP/1.0 404 Not Found\r\nContent-Length: 8\r\n\r\n1\r\n42,9\r\n", 0xC000006E},
      {"HTTP/1.0 302 Moved\r\nLocation: http://elsewhere/\r\n\r\n", 0xC000006E},
      {"HTTP/1.0 200 OK\r\n\r\n1\r\n42,9\r\n", 0xC000006F},                        // no length
      {"HTTP/1.0 200 OK\r\nContent-Length: 0\r\n\r\n", 0xC000006F},                 // empty
      {"HTTP/1.0 200 OK\r\nContent-Length: 2000000000\r\n\r\n1\r\n42,9\r\n", 0xC000006F},  // too large to take
      {"HTTP/1.0 200 OK\r\nContent-Length: 100\r\n\r\n1\r\n42,9\r\n", 0xC000006F},  // cut short
  };
  CPRegistry settings = Settings();
  CAgentList list(settings);
  WriteList(list, "1\r\n42,3\r\n");
  ASSERT_EQ(list.Refresh(CAgentList::kInitialLoad), 1);
  const std::string stored = testing_support::ReadFile(list.FilePath());
  for (const Case& c : cases) {
    const std::size_t before = Reports(c.event);
    ScriptedServer server(c.answer);
    settings.SetIPPort(1, server.Address().c_str());
    upstream::ClearLastGoodServer();
    EXPECT_EQ(list.Refresh(CAgentList::kFetchUpstream), 0) << c.answer;
    EXPECT_EQ(list.Lookup(42), eProxyAgent) << c.answer;
    EXPECT_EQ(Reports(c.event), before + 1) << c.answer;
  }
  EXPECT_EQ(testing_support::ReadFile(list.FilePath()), stored);
}

TEST_F(AgentListConcurrency, LookupsDuringRefreshesSeeOneWholeListOrTheOther) {
  CPRegistry settings = Settings();
  CAgentList list(settings);
  std::string first = "200\r\n";
  std::string second = "200\r\n";
  for (int category = 1; category <= 200; ++category) {
    first += std::to_string(category) + ",3\r\n";
    second += std::to_string(category) + ",9\r\n";
  }
  WriteList(list, first);
  ASSERT_EQ(list.Refresh(CAgentList::kInitialLoad), 1);
  std::atomic<bool> done{false};
  std::atomic<int> wrong{0};
  std::vector<std::thread> readers;
  for (int t = 0; t < 3; ++t) {
    readers.emplace_back([&] {
      for (unsigned long category = 1; !done.load(); category = category % 200 + 1) {
        const int kind = list.Lookup(category);
        if (kind != eProxyAgent && kind != eNullAgent) ++wrong;
      }
    });
  }
  for (int round = 0; round < 100; ++round) {
    WriteList(list, round % 2 == 0 ? second : first);
    ASSERT_EQ(list.Refresh(CAgentList::kInitialLoad), 1);
  }
  done = true;
  for (std::thread& reader : readers) reader.join();
  EXPECT_EQ(wrong.load(), 0);
  EXPECT_EQ(list.Lookup(1), eProxyAgent);
}

TEST_F(AgentListThread, TheNightlyRefreshIsSpreadOverTheFirstHour) {
  ::setenv("TZ", "UTC", 1);
  ::tzset();
  std::tm when{};
  when.tm_year = 124;
  when.tm_mon = 2;
  when.tm_mday = 5;
  when.tm_hour = 22;
  when.tm_min = 10;
  when.tm_sec = 17;
  const std::time_t now = std::mktime(&when);
  // To 2024-03-06 00:17:00.
  EXPECT_EQ(CAgentList::NightlySleepSeconds(now), 1 * 3600 + 49 * 60 + 43 + 17 * 60);
  when.tm_hour = 23;
  when.tm_min = 59;
  when.tm_sec = 59;
  EXPECT_EQ(CAgentList::NightlySleepSeconds(std::mktime(&when)), 1 + 59 * 60);
}

TEST_F(AgentListThread, LoadsAtStartAndFetchesWhenTheNamedEventIsSet) {
  agent_testing::TraceCapture traces;
  Simulator dc;
  const std::string dir = testing_support::MakeTempDir("dcagents");
  testing_support::WriteFile(dir + "/agents.lst", "4242,9\r\n");
  ASSERT_TRUE(dc.Start({"--agents", dir + "/agents.lst"}));
  CAgentList list(Settings(dc.Address()));
  WriteList(list, "1\r\n4242,3\r\n");
  list.Start();
  ASSERT_TRUE(Eventually([&] { return list.Lookup(4242) == eProxyAgent; }));
  ASSERT_TRUE(Eventually([this] { return Reports(0x400007E4) == 1; }));
  EXPECT_EQ(dc.Stat("agentlist"), 0);

  std::unique_ptr<platform::Event> update;
  ASSERT_TRUE(Eventually([&] { return (update = platform::Event::OpenNamed("BuildAgentList")) != nullptr; }));
  ASSERT_TRUE(update->Set());
  ASSERT_TRUE(Eventually([&] { return list.Lookup(4242) == eNullAgent; }));
  ASSERT_TRUE(Eventually([this] { return Reports(0x400007E4) == 2; }));
  EXPECT_EQ(dc.Stat("agentlist"), 1);

  const auto start = std::chrono::steady_clock::now();
  list.Stop();  // during the wait before the old map is emptied
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  const std::string text = traces.Text();
  EXPECT_NE(text.find("CAgentList::RefreshThreadInit - Initial refresh succeeded.\n"), std::string::npos);
  EXPECT_NE(text.find("CAgentList::RefreshThreadInit - Refreshing\n"), std::string::npos);
  EXPECT_NE(text.find("CAgentList::RefreshThreadInit - Refresh done.  Sleep time is "), std::string::npos);
}

TEST_F(AgentListThread, AFailedStartIsReportedAndRetriedOnTheNamedEvent) {
  const unsigned port = upstream_testing::FreeLoopbackPort();
  CAgentList list(Settings("127.0.0.1," + std::to_string(port)));
  list.Start();  // no file, and nothing answers yet
  ASSERT_TRUE(Eventually([this] { return Reports(0xC00007E5) == 1; }));
  EXPECT_EQ(list.Count(), 0u);

  Simulator dc;
  ASSERT_TRUE(dc.Start({"--listen", "127.0.0.1:" + std::to_string(port)}));
  std::unique_ptr<platform::Event> update;
  ASSERT_TRUE(Eventually([&] { return (update = platform::Event::OpenNamed("BuildAgentList")) != nullptr; }));
  ASSERT_TRUE(update->Set());  // instead of ten minutes
  ASSERT_TRUE(Eventually([&] { return list.Count() > 0; }));
  EXPECT_TRUE(Eventually([this] { return Reports(0x400007E4) == 1; }));
  list.Stop();
  EXPECT_TRUE(std::filesystem::exists(list.FilePath()));
}

}  // namespace
