// The proxy agent against an upstream data centre (the simulator, or a
// scripted server for answers the simulator never gives): answers from
// memory, one fetch however many viewers wait, the entry times, trimming,
// failures, many arguments, and the transaction log line of every answer.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

#include "agents/agent_testing.h"
#include "cache/cache_testing.h"
#include "cache/proxy_agent.h"
#include "platform/event_log.h"
#include "platform/event_store.h"
#include "upstream/peer_process_testing.h"
#include "upstream/scripted_server_testing.h"

namespace {

using cache_testing::Ask;
using cache_testing::Exchange;
using cache_testing::Record;
using cache_testing::UpstreamAnswer;
using cache_testing::UpstreamSettings;

std::int64_t Now() { return static_cast<std::int64_t>(std::time(nullptr)); }

// The body of an answer after its next-update line.
std::string Records(const std::string& body) {
  const std::size_t end = body.find("\r\n");
  return end == std::string::npos ? std::string() : body.substr(end + 2);
}

std::size_t Occurrences(const std::string& text, const std::string& part) {
  std::size_t count = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

std::vector<std::uint32_t> EntryIds(CProxyAgent& agent, const std::string& directory) {
  std::vector<std::uint32_t> ids;
  CCacheEntry* entry = agent.Cache().Table()->Find(directory);
  if (entry == nullptr) return ids;
  const auto items = entry->Items();
  for (std::size_t i = 0; i < items->Count(); ++i) ids.push_back((*items)[i].ItemID());
  return ids;
}

class ProxyAgentTest : public testing::Test {
 protected:
  // The simulator with `options` as the only upstream server.
  void StartSimulator(const std::vector<std::string>& options) {
    ASSERT_TRUE(m_Simulator.Start(options));
    m_Agent = std::make_unique<CProxyAgent>(UpstreamSettings(m_Simulator.Address()));
    ASSERT_EQ(m_Agent->Init(), 1);
  }
  long Fetches() { return m_Simulator.Stat("requests"); }

  upstream_testing::Simulator m_Simulator;
  std::unique_ptr<CProxyAgent> m_Agent;
};

TEST_F(ProxyAgentTest, AnswersFromMemoryAfterOneFetchAndLogsEveryAnswer) {
  StartSimulator({"--items", "10", "--item-size", "300"});
  const std::string upstreamBody = agent_testing::SplitAnswer(m_Simulator.Get("/KIBO-1/NumItm-20/1000-0")).body;
  ASSERT_FALSE(upstreamBody.empty());
  const long before = Fetches();

  const Exchange miss = Ask(*m_Agent, "GET", "/KIBO-1/NumItm-20/1000-0");
  EXPECT_EQ(miss.result, 1);
  EXPECT_EQ(miss.answer.head.substr(0, 15), "HTTP/1.0 200 OK");
  EXPECT_EQ(Records(miss.answer.body), Records(upstreamBody)) << "records go out exactly as received";
  EXPECT_EQ(miss.answer.contentLength, static_cast<long long>(miss.answer.body.size()));
  EXPECT_EQ(miss.Status(), "200");
  EXPECT_EQ(miss.UpstreamHost(), "127.0.0.1");
  EXPECT_EQ(miss.UpstreamStatus(), "200");
  EXPECT_EQ(Fetches(), before + 1);

  // A hit: no upstream, and still a whole log line.
  const Exchange hit = Ask(*m_Agent, "GET", "/KIBO-1/NumItm-20/1000-7");
  EXPECT_EQ(Fetches(), before + 1);
  EXPECT_EQ(hit.Status(), "200");
  EXPECT_EQ(hit.UpstreamHost(), "-");
  EXPECT_EQ(hit.UpstreamStatus(), "-");
  EXPECT_EQ(hit.fields.at(6), std::to_string(hit.wire.size()));
  EXPECT_EQ(Occurrences(hit.answer.body, "LID:"), 3u);
  EXPECT_NE(hit.answer.body.find("LID:8\r\n"), std::string::npos);

  // Nothing newer than what the viewer has: an empty list, 204.
  const Exchange current = Ask(*m_Agent, "GET", "/KIBO-1/NumItm-20/1000-10");
  EXPECT_EQ(current.answer.head.substr(0, 23), "HTTP/1.0 204 No content");
  EXPECT_TRUE(current.answer.body.empty());
  EXPECT_EQ(current.Status(), "204");
  EXPECT_EQ(current.UpstreamHost(), "-");
  EXPECT_EQ(Fetches(), before + 1);
}

TEST_F(ProxyAgentTest, ViewersWaitingForOneStaleEntryCauseOneFetch) {
  StartSimulator({"--items", "3", "--delay", "700"});
  agent_testing::TraceCapture traces;
  const long before = Fetches();
  std::vector<Exchange> answers(2);
  std::thread first([&] { answers[0] = Ask(*m_Agent, "GET", "/KIBO-1/1001-0"); });
  std::this_thread::sleep_for(std::chrono::milliseconds(150));
  std::thread second([&] { answers[1] = Ask(*m_Agent, "GET", "/KIBO-1/1001-0"); });
  first.join();
  second.join();

  EXPECT_EQ(Fetches(), before + 1);
  EXPECT_EQ(answers[0].Status(), "200");
  EXPECT_EQ(answers[1].Status(), "200");
  EXPECT_EQ(Records(answers[0].answer.body), Records(answers[1].answer.body));
  const std::string text = traces.Text();
  EXPECT_EQ(Occurrences(text, "Class-A - refreshing cache in directory \"1001\""), 1u) << text;
  EXPECT_EQ(Occurrences(text, "Class-B - cache already refreshed in directory \"1001\""), 1u) << text;
}

TEST_F(ProxyAgentTest, NextUpdateZeroAsksAgainAndNoNewsKeepsTheItemsForAnHour) {
  StartSimulator({"--items", "4", "--nxtupd", "0"});
  const long before = Fetches();
  EXPECT_EQ(Ask(*m_Agent, "GET", "/KIBO-1/NumItm-10/1002-0").Status(), "200");
  CCacheEntry* entry = m_Agent->Cache().Table()->Find("1002");
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(entry->RefreshDeadline(), 0);
  EXPECT_EQ(entry->ViewerNextUpdate(), 0);

  // The next request asks again; upstream has nothing newer (204).
  const Exchange again = Ask(*m_Agent, "GET", "/KIBO-1/NumItm-10/1002-0");
  EXPECT_EQ(Fetches(), before + 2);
  EXPECT_EQ(again.UpstreamStatus(), "204");
  EXPECT_EQ(Occurrences(again.answer.body, "LID:"), 4u) << "a 204 keeps the items";
  EXPECT_NEAR(static_cast<double>(entry->RefreshDeadline()), static_cast<double>(Now() + 3600), 5);
  EXPECT_NE(again.answer.body.find("NXTUPD:3"), std::string::npos);

  Ask(*m_Agent, "GET", "/KIBO-1/NumItm-10/1002-0");
  EXPECT_EQ(Fetches(), before + 2) << "fresh for an hour";
}

TEST_F(ProxyAgentTest, AnEntryKeepsTheNumberOfItemsAskedFor) {
  StartSimulator({"--items", "10", "--nxtupd", "0"});
  Ask(*m_Agent, "GET", "/KIBO-1/NumItm-20/1003-0");
  EXPECT_EQ(EntryIds(*m_Agent, "1003").size(), 10u);
  ASSERT_TRUE(m_Simulator.Set("items", "12"));
  const Exchange trimmed = Ask(*m_Agent, "GET", "/KIBO-1/NumItm-5/1003-0");
  EXPECT_EQ(EntryIds(*m_Agent, "1003"), (std::vector<std::uint32_t>{8, 9, 10, 11, 12}));
  EXPECT_EQ(Occurrences(trimmed.answer.body, "LID:"), 5u);
}

TEST_F(ProxyAgentTest, AHeadRequestGetsThePrefixOnly) {
  StartSimulator({"--items", "2", "--item-size", "100"});
  const Exchange get = Ask(*m_Agent, "GET", "/KIBO-1/NumItm-5/1004-0");
  const Exchange head = Ask(*m_Agent, "HEAD", "/KIBO-1/NumItm-5/1004-0");
  EXPECT_EQ(head.result, 1);
  EXPECT_TRUE(head.answer.body.empty());
  EXPECT_EQ(head.wire, head.answer.head);
  EXPECT_EQ(head.answer.contentLength, static_cast<long long>(Records(get.answer.body).size()))
      << "the items' length, without a next-update line";
  EXPECT_EQ(head.Status(), "200");
}

TEST(ProxyAgentUpstream, ABrokenDataStreamEmptiesTheEntry) {
  std::atomic<int> served{0};
  const std::string good = "NXTUPD:0\r\n" + Record(1, 0, "one") + Record(2, 0, "two");
  std::string broken = "NXTUPD:0\r\n" + Record(3, 0, "three");
  broken.replace(broken.find("TLEN:5"), 6, "TLEN:500");
  upstream_testing::ScriptedServer upstream(
      [&](platform::SOCKET client, const std::string&) {
        upstream_testing::ScriptedServer::SendAll(client, UpstreamAnswer(served++ == 0 ? good : broken));
      },
      true);
  CProxyAgent agent(UpstreamSettings(upstream.Address()));
  const Exchange first = Ask(agent, "GET", "/KIBO-1/NumItm-10/1005-0");
  EXPECT_EQ(first.Status(), "200");
  EXPECT_EQ(EntryIds(agent, "1005"), (std::vector<std::uint32_t>{1, 2}));

  const Exchange second = Ask(agent, "GET", "/KIBO-1/NumItm-10/1005-0");
  EXPECT_EQ(second.answer.head.substr(0, 12), "HTTP/1.0 500");
  EXPECT_EQ(second.Status(), "500");
  EXPECT_EQ(second.UpstreamHost(), "127.0.0.1");
  EXPECT_EQ(second.UpstreamStatus(), "200");
  EXPECT_TRUE(EntryIds(agent, "1005").empty());
  ASSERT_EQ(upstream.Requests().size(), 2u);
  EXPECT_EQ(upstream.Requests()[1].substr(0, 35), "GET /KIBO-1/NumItm-10/1005-2 HTTP/1") << "asks for news after item 2";
}

TEST(ProxyAgentUpstream, AViewerThatWaitedThroughAFailedFetchFetchesAgainItself) {
  // The first fetch fails after more than the long lock wait; the viewer
  // that waited for it finds the entry still stale and asks upstream itself.
  std::atomic<int> served{0};
  const std::string good = "NXTUPD:0\r\n" + Record(1, 0, "one");
  upstream_testing::ScriptedServer upstream(
      [&](platform::SOCKET client, const std::string&) {
        if (served++ == 0) {
          // Slow, each read in time, and then cut short.
          std::this_thread::sleep_for(std::chrono::milliseconds(2700));
          upstream_testing::ScriptedServer::SendAll(client, "HTTP/1.0 200 OK\r\n\r\nNXTUPD:0\r\n");
          std::this_thread::sleep_for(std::chrono::milliseconds(2700));
          upstream_testing::ScriptedServer::SendAll(client, "OFF:0\r\nLEN");
          return;
        }
        upstream_testing::ScriptedServer::SendAll(client, UpstreamAnswer(good));
      },
      true);
  CProxyAgent agent(UpstreamSettings(upstream.Address()));
  agent_testing::TraceCapture traces;
  std::vector<Exchange> answers(2);
  std::thread first([&] { answers[0] = Ask(agent, "GET", "/KIBO-1/NumItm-10/1008-0"); });
  std::this_thread::sleep_for(std::chrono::milliseconds(150));
  std::thread second([&] { answers[1] = Ask(agent, "GET", "/KIBO-1/NumItm-10/1008-0"); });
  first.join();
  second.join();

  EXPECT_EQ(answers[0].Status(), "500");
  EXPECT_EQ(answers[1].Status(), "200");
  EXPECT_EQ(Occurrences(answers[1].answer.body, "LID:"), 1u);
  EXPECT_EQ(upstream.Requests().size(), 2u);
  const std::string text = traces.Text();
  EXPECT_EQ(Occurrences(text, "Class-A - refreshing cache in directory \"1008\""), 1u) << text;
  EXPECT_EQ(Occurrences(text, "Class-AB - refreshing cache in directory \"1008\""), 1u) << text;
}

TEST(ProxyAgentUpstream, AStreamWithoutNextUpdateKeepsItsItemsFreshForAnHour) {
  const std::string stream = Record(1, 0, "one") + Record(2, 0, "two");
  upstream_testing::ScriptedServer upstream(
      [&](platform::SOCKET client, const std::string&) {
        upstream_testing::ScriptedServer::SendAll(client, UpstreamAnswer(stream));
      },
      true);
  CProxyAgent agent(UpstreamSettings(upstream.Address()));
  const Exchange first = Ask(agent, "GET", "/KIBO-1/NumItm-10/1007-0");
  EXPECT_EQ(first.Status(), "200");
  EXPECT_EQ(EntryIds(agent, "1007"), (std::vector<std::uint32_t>{1, 2}));
  CCacheEntry* entry = agent.Cache().Table()->Find("1007");
  ASSERT_NE(entry, nullptr);
  EXPECT_NEAR(static_cast<double>(entry->RefreshDeadline()), static_cast<double>(Now() + 3600), 5);
  EXPECT_NE(first.answer.body.find("NXTUPD:3"), std::string::npos) << "viewers are told the same";
  EXPECT_EQ(Ask(agent, "GET", "/KIBO-1/NumItm-10/1007-0").Status(), "200");
  EXPECT_EQ(upstream.Requests().size(), 1u) << "fresh: no second fetch";
}

TEST(ProxyAgentUpstream, NoReachableUpstreamAnswers500WithTheReason) {
  CProxyAgent agent(UpstreamSettings("127.0.0.1," + std::to_string(upstream_testing::FreeLoopbackPort())));
  const Exchange answer = Ask(agent, "GET", "/KIBO-1/1006-0");
  EXPECT_EQ(answer.result, 0);
  EXPECT_EQ(answer.wire.substr(0, answer.wire.find("\r\n")),
            "HTTP/1.0 500 Unable to connect to the DataCenter to perform requested task");
  EXPECT_EQ(answer.Status(), "500");
  EXPECT_EQ(answer.UpstreamHost(), "-");
  EXPECT_EQ(answer.UpstreamStatus(), "-");
  CCacheEntry* entry = agent.Cache().Table()->Find("1006");
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(entry->RefreshDeadline(), 0) << "the next request tries again";
}

TEST(ProxyAgentUpstream, UpstreamFailuresReachTheEventLogAtMostFiveTimesAWindow) {
  constexpr platform::DWORD kNoDataCenter = 0xC000006E;
  constexpr platform::DWORD kReadFailed = 0xC000006F;
  platform::CMaskedEventLog::ClearLimit(platform::EVENTLOG_ERROR_TYPE, kNoDataCenter);
  platform::CMaskedEventLog::ClearLimit(platform::EVENTLOG_ERROR_TYPE, kReadFailed);
  const auto newest = platform::ReadEventRecords(1);
  const std::uint64_t first = newest.empty() ? 0 : newest.back().record + 1;
  auto reports = [first](platform::DWORD id) {
    std::size_t count = 0;
    for (const platform::EventRecord& record : platform::ReadEventRecords()) {
      count += record.record >= first && record.id == id ? 1 : 0;
    }
    return count;
  };

  CProxyAgent unreachable(UpstreamSettings("127.0.0.1," + std::to_string(upstream_testing::FreeLoopbackPort())));
  for (int i = 0; i < 7; ++i) EXPECT_EQ(Ask(unreachable, "GET", "/KIBO-1/1012-0").Status(), "500");
  EXPECT_EQ(reports(kNoDataCenter), static_cast<std::size_t>(CProxyCache::kEventRepeats));

  // The connection ends before the announced body does.
  const std::string cut = "HTTP/1.0 200 OK\r\nContent-Length: 1000\r\n\r\nNXTUPD:0\r\n" + Record(3, 0, "three");
  upstream_testing::ScriptedServer upstream(
      [&](platform::SOCKET client, const std::string&) { upstream_testing::ScriptedServer::SendAll(client, cut); },
      true);
  CProxyAgent reading(UpstreamSettings(upstream.Address()));
  EXPECT_EQ(Ask(reading, "GET", "/KIBO-1/1013-0").Status(), "500");
  EXPECT_EQ(reports(kReadFailed), 1u);
}

TEST_F(ProxyAgentTest, ArgumentsAreRefreshedInParallelAndEachAddsItsItemsOnce) {
  StartSimulator({"--items", "2", "--item-size", "64", "--delay", "400", "--max-connections", "80"});
  std::string target = "/KIBO-1/NumItm-2/1007-0?";
  for (int i = 0; i < 64; ++i) target += (i == 0 ? "a" : "+a") + std::to_string(i);
  const long before = Fetches();
  const auto start = std::chrono::steady_clock::now();
  const Exchange batch = Ask(*m_Agent, "GET", target);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_EQ(Fetches(), before + 64);
  EXPECT_LT(seconds, 4.0) << "64 fetches of 0.4 s each, in parallel";
  EXPECT_EQ(Occurrences(batch.answer.body, "LID:"), 128u);
  EXPECT_EQ(batch.Status(), "200");

  // More than one batch, and an argument named twice: every argument's
  // items once, in the order of the arguments.
  target += "+a3";
  for (int i = 64; i < 70; ++i) target += "+a" + std::to_string(i);
  const Exchange batches = Ask(*m_Agent, "GET", target);
  EXPECT_EQ(Fetches(), before + 70);
  EXPECT_EQ(Occurrences(batches.answer.body, "LID:"), 140u);
  for (int i = 0; i < 70; ++i) {
    EXPECT_EQ(Occurrences(batches.answer.body, " a" + std::to_string(i) + " item 1\n"), 1u) << i;
  }
  EXPECT_LT(batches.answer.body.find(" a63 item"), batches.answer.body.find(" a64 item"));
}

TEST_F(ProxyAgentTest, RefreshesBeyondTheRefreshPoolRunOnTheRequestsThread) {
  // Six batches of 64 arguments at once need more refresh threads than the
  // pool has: the rest refresh synchronously, and every answer is whole.
  // The first round also starts the pool's threads (slow under the race
  // checker); the second finds them idle, and its slower upstream keeps
  // them busy until every job is given out.
  StartSimulator({"--items", "1", "--item-size", "16", "--delay", "600", "--max-connections", "256"});
  agent_testing::TraceCapture traces;
  constexpr int kRequests = 6;
  static_assert(kRequests * 64 > CProxyCache::kRefreshThreads);
  for (const char* round : {"first", "second"}) {
    if (round[0] == 's') {
      ASSERT_TRUE(m_Simulator.Set("delay", "2000"));
    }
    const long before = Fetches();
    std::vector<Exchange> answers(kRequests);
    std::vector<std::thread> viewers;
    for (int r = 0; r < kRequests; ++r) {
      viewers.emplace_back([&, r] {
        std::string target = "/KIBO-1/NumItm-1/1011-0?";
        for (int i = 0; i < 64; ++i) target += (i == 0 ? "" : "+") + (round + std::to_string(r)) + "a" + std::to_string(i);
        answers[r] = Ask(*m_Agent, "GET", target);
      });
    }
    for (std::thread& viewer : viewers) viewer.join();

    EXPECT_EQ(Fetches(), before + kRequests * 64) << round;
    for (const Exchange& answer : answers) {
      EXPECT_EQ(answer.Status(), "200") << round;
      EXPECT_EQ(Occurrences(answer.answer.body, "LID:"), 64u) << round;
    }
  }
  EXPECT_NE(traces.Text().find("CProxyCache::FillCacheAsync - ran out of threads - Refreshing synchronously\n"),
            std::string::npos);
}

TEST_F(ProxyAgentTest, StatisticsAreSampledAndTheTableSizeIsKept) {
  {
    CPRegistry settings;
    settings.SetCacheSamplingFrequency(1);
    settings.SetCacheDirectoryNumFolders(1000);
  }
  agent_testing::TraceCapture traces;
  StartSimulator({"--items", "1"});
  EXPECT_NE(traces.Text().find("CProxyCache::Init() - Hash table initial size is 1202"), std::string::npos);
  Ask(*m_Agent, "GET", "/KIBO-1/1008-0");
  // The first sample is written at once, later ones a second after it.
  CPRegistry settings;
  EXPECT_EQ(settings.GetStatisticsCacheLoggedRequests(), 1u);
  Ask(*m_Agent, "GET", "/KIBO-1/1008-0");
  Ask(*m_Agent, "GET", "/KIBO-1/1008-0?x");
  EXPECT_EQ(settings.GetStatisticsCacheLoggedRequests(), 1u);
  std::this_thread::sleep_for(std::chrono::milliseconds(1100));
  Ask(*m_Agent, "GET", "/KIBO-1/1008-0?x");
  EXPECT_EQ(settings.GetStatisticsCacheLoggedRequests(), 4u);
  EXPECT_EQ(settings.GetStatisticsCacheLoggedHits(), 2u);

  // Shutting down writes what is left, and the number of entries.
  Ask(*m_Agent, "GET", "/KIBO-1/1008-0");
  m_Agent.reset();
  EXPECT_EQ(settings.GetStatisticsCacheLoggedRequests(), 5u);
  EXPECT_EQ(settings.GetStatisticsCacheLoggedHits(), 3u);
  EXPECT_EQ(settings.GetCacheDirectoryNumFolders(), 2u);
}

}  // namespace
