// The simulator as its users meet it: the program on a loopback port, its
// answers read with the relay's own upstream reader, its switches, its
// counters, and its end on SIGTERM.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <future>

#include "net/fetched_item_collector.h"
#include "net/iqrn_http.h"
#include "platform/testing.h"
#include "upstream/peer_process_testing.h"

namespace {

using upstream_testing::Exchange;
using upstream_testing::Simulator;

struct Answer {
  std::string head;
  std::string body;
};

Answer Split(const std::string& whole) {
  const std::size_t end = whole.find("\r\n\r\n");
  if (end == std::string::npos) return {whole, {}};
  return {whole.substr(0, end + 4), whole.substr(end + 4)};
}

// Reads a data-stream body the way the relay does.
struct Stream {
  CFetchedItemCollector items;
  std::int64_t nextUpdate = 0;
  bool complete = false;
};
void ReadStream(const std::string& body, Stream& stream) {
  IQRNHTTP reader;
  reader.BeginAnswer(static_cast<std::int64_t>(body.size()), &stream.items);
  std::string buffer = body;
  unsigned int length = static_cast<unsigned int>(buffer.size());
  stream.complete = reader.HTTPrespState(buffer.data(), length) == eHTTPComplete;
  stream.nextUpdate = reader.NextUpdateTime();
}

std::vector<std::uint32_t> Ids(const Stream& stream) {
  std::vector<std::uint32_t> ids;
  for (const auto& item : stream.items.Items()) ids.push_back(item->ItemID());
  return ids;
}

TEST(DcsimProgram, ServesTheAgentListAndDataStreamsWithNextUpdate) {
  Simulator dc;
  ASSERT_TRUE(dc.Start({"--items", "6", "--item-size", "300", "--nxtupd", "120"}));
  Answer list = Split(dc.Get("/KIBO-1/67328-1"));
  EXPECT_EQ(list.head.rfind("HTTP/1.0 200", 0), 0u);
  EXPECT_NE(list.head.find("Content-Length: " + std::to_string(list.body.size()) + "\r\n"), std::string::npos);
  EXPECT_EQ(list.body.substr(0, 4), "14\r\n");

  Answer data = Split(dc.Get("/KIBO-1/NumItm-4/1000-1"));
  EXPECT_NE(data.head.find("Content-Length: " + std::to_string(data.body.size()) + "\r\n"), std::string::npos);
  Stream stream;
  ReadStream(data.body, stream);
  ASSERT_TRUE(stream.complete);
  EXPECT_EQ(Ids(stream), (std::vector<std::uint32_t>{3, 4, 5, 6}));  // newest 4 after item 1
  for (const auto& item : stream.items.Items()) EXPECT_EQ(item->DataLength(), 300u);
  const std::int64_t now = std::time(nullptr);
  EXPECT_GE(stream.nextUpdate, now + 110);
  EXPECT_LE(stream.nextUpdate, now + 130);

  // Nothing newer than the newest item: nothing new.
  EXPECT_EQ(dc.Get("/KIBO-1/1000-6").rfind("HTTP/1.0 204", 0), 0u);
  // Absolute targets, as a proxy passes them on, and HEAD.
  EXPECT_EQ(Split(Exchange(dc.Port(), "GET http://127.0.0.1:9/KIBO-1/1000-5 HTTP/1.0\r\n\r\n")).body.size() > 0, true);
  EXPECT_EQ(Split(Exchange(dc.Port(), "HEAD /KIBO-1/1000-5 HTTP/1.0\r\n\r\n")).body, "");

  dc.Set("nxtupd", "0");
  Stream zero;
  ReadStream(Split(dc.Get("/KIBO-1/1000-5")).body, zero);
  EXPECT_EQ(zero.nextUpdate, 0);
  EXPECT_EQ(dc.Stat("data"), 4);
  EXPECT_EQ(dc.Stat("agentlist"), 1);
  EXPECT_EQ(dc.Stat("nocontent"), 1);
}

TEST(DcsimProgram, ItemsComeFromTheItemDirectory) {
  const std::string dir = testing_support::MakeTempDir("items");
  std::filesystem::create_directories(dir + "/2000/sports");
  testing_support::WriteFile(dir + "/2000/7", "seven");
  testing_support::WriteFile(dir + "/2000/12.gif", "twelve");
  testing_support::WriteFile(dir + "/2000/notes.txt", "not an item");
  testing_support::WriteFile(dir + "/2000/sports/3", "sports three");
  testing_support::WriteFile(dir + "/secret", "outside");
  testing_support::WriteFile(dir + "/agents.lst", "# routes\r\n2000,3\r\n66560,5\n");
  Simulator dc;
  ASSERT_TRUE(dc.Start({"--item-dir", dir, "--agents", dir + "/agents.lst"}));
  Stream all;
  ReadStream(Split(dc.Get("/KIBO-1/NumItm-0/2000-0")).body, all);
  ASSERT_TRUE(all.complete);
  ASSERT_EQ(Ids(all), (std::vector<std::uint32_t>{7, 12}));
  EXPECT_EQ(std::string(all.items.Items()[1]->Data().begin(), all.items.Items()[1]->Data().end()), "twelve");

  Stream sports;
  ReadStream(Split(dc.Get("/KIBO-1/2000-0/sports")).body, sports);
  EXPECT_EQ(Ids(sports), (std::vector<std::uint32_t>{3}));
  // An argument never leads out of the category.
  Stream escaped;
  ReadStream(Split(dc.Get("/KIBO-1/2000-0?..")).body, escaped);
  EXPECT_EQ(Ids(escaped), (std::vector<std::uint32_t>{12}));
  EXPECT_EQ(dc.Get("/KIBO-1/2001-0").rfind("HTTP/1.0 204", 0), 0u);
  // The agent list file's lines are the list.
  EXPECT_EQ(Split(dc.Get("/KIBO-1/67328-1")).body, "2\r\n2000,3\r\n66560,5\r\n");
}

TEST(DcsimProgram, AnswerSwitchesApplyInOrderAndChangeWhileRunning) {
  Simulator dc;
  ASSERT_TRUE(dc.Start({"--answer-204", "--redirect", "127.0.0.1:9000"}));
  const std::string path = "/KIBO-1/1000-0";
  std::string answer = dc.Get(path);
  EXPECT_EQ(answer.rfind("HTTP/1.0 302", 0), 0u);
  EXPECT_NE(answer.find("Location: http://127.0.0.1:9000/KIBO-1/1000-0\r\n"), std::string::npos);
  ASSERT_TRUE(dc.Set("redirect", "off"));
  EXPECT_EQ(dc.Get(path).rfind("HTTP/1.0 204", 0), 0u);
  ASSERT_TRUE(dc.Set("answer-204", "off"));
  EXPECT_EQ(dc.Get(path).rfind("HTTP/1.0 200", 0), 0u);

  ASSERT_TRUE(dc.Set("auth", "u:p"));
  ASSERT_TRUE(dc.Set("proxy-auth", "pu:pp"));
  EXPECT_EQ(dc.Get(path).rfind("HTTP/1.0 407", 0), 0u);
  const std::string proxyLine = "Proxy-Authorization: Basic cHU6cHA=\r\n";
  answer = Exchange(dc.Port(), "GET " + path + " HTTP/1.0\r\n" + proxyLine + "\r\n");
  EXPECT_EQ(answer.rfind("HTTP/1.0 401", 0), 0u);
  EXPECT_NE(answer.find("WWW-Authenticate: Basic"), std::string::npos);
  answer = Exchange(dc.Port(), "GET " + path + " HTTP/1.0\r\n" + proxyLine + "Authorization: Basic dTpw\r\n\r\n");
  EXPECT_EQ(answer.rfind("HTTP/1.0 200", 0), 0u);

  EXPECT_FALSE(dc.Set("listen", "127.0.0.1:1"));
  EXPECT_FALSE(dc.Set("items", "many"));
  EXPECT_EQ(dc.Stat("redirected"), 1);
  EXPECT_EQ(dc.Stat("proxyauth"), 1);
  EXPECT_EQ(dc.Stat("unauthorized"), 1);
  EXPECT_EQ(dc.Stat("requests"), 6);
  dc.Get("/dcsim/reset");
  EXPECT_EQ(dc.Stat("requests"), 0);
}

TEST(DcsimProgram, BadRequestsGetErrorsAndTheServerGoesOn) {
  Simulator dc;
  ASSERT_TRUE(dc.Start({"--max-connections", "2"}));
  EXPECT_EQ(Exchange(dc.Port(), "GET /not-the-protocol HTTP/1.0\r\n\r\n").rfind("HTTP/1.0 400", 0), 0u);
  EXPECT_EQ(Exchange(dc.Port(), "\r\n\r\n").rfind("HTTP/1.0 400", 0), 0u);
  // A head without end, larger than any request: refused, not kept.
  EXPECT_EQ(Exchange(dc.Port(), "GET /" + std::string(200000, 'a')).rfind("HTTP/1.0 400", 0), 0u);
  EXPECT_EQ(Exchange(dc.Port(), "GET /dcsim/nothing HTTP/1.0\r\n\r\n").rfind("HTTP/1.0 404", 0), 0u);
  EXPECT_EQ(dc.Get("/KIBO-1/1000-0").rfind("HTTP/1.0 200", 0), 0u);
  EXPECT_EQ(dc.Stat("invalid"), 3);
}

TEST(DcsimProgram, SlowAnswersAreSlowAndSigtermEndsThemAtOnce) {
  Simulator dc;
  ASSERT_TRUE(dc.Start({"--delay", "400"}));
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(dc.Get("/KIBO-1/1000-0").rfind("HTTP/1.0 200", 0), 0u);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(390));

  dc.Set("delay", "600000");
  auto pending = std::async(std::launch::async, [&dc] { return Exchange(dc.Port(), "GET /KIBO-1/1000-0 HTTP/1.0\r\n\r\n"); });
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  start = std::chrono::steady_clock::now();
  EXPECT_EQ(dc.Stop(), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
  EXPECT_EQ(pending.get(), "");
  EXPECT_NE(testing_support::ReadFile(dc.LogPath()).find("dcsim: stopped"), std::string::npos);
}

TEST(DcsimProgram, RefusesToListenBeyondLoopback) {
  auto run = testing_support::Run({testing_support::ProgramPath("dcsim"), "--listen", "0.0.0.0:0"}, "",
                                   std::chrono::seconds(10));
  EXPECT_EQ(run.exit_code, 2);
  EXPECT_NE(run.error.find("loopback"), std::string::npos);
  run = testing_support::Run({testing_support::ProgramPath("dcsim"), "--agents", "/no/such/file", "--listen",
                              "127.0.0.1:0"}, "", std::chrono::seconds(10));
  EXPECT_EQ(run.exit_code, 1);
}

}  // namespace
