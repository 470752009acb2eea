// The pass-through agent against the simulated data centre, a proxy that
// asks for credentials, and scripted servers for the answers the simulator
// does not give.
#include "agents/pass_through_agent.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "agents/agent_testing.h"
#include "agents/simple_agents_testing.h"
#include "base/eventually_testing.h"
#include "net/http_tables.h"
#include "platform/event_store.h"
#include "platform/testing.h"
#include "upstream/peer_process_testing.h"
#include "upstream/scripted_server_testing.h"
#include "upstream/upstream_servers.h"
#include "upstream/web_server_testing.h"

namespace {

using agent_testing::LogFields;
using agent_testing::Serve;
using agent_testing::SplitAnswer;
using upstream_testing::ScriptedServer;
using upstream_testing::Simulator;

const std::string kRequest = "GET /KIBO-1/5-1 HTTP/1.0\r\nUser-Agent: viewer\r\n\r\n";

CPRegistry Settings(const std::string& server) {
  upstream::ClearLastGoodServer();
  CPRegistry settings;
  settings.SetRecvTimeout(5);
  settings.SetConnectTimeout(5);
  settings.SetIPPort(1, server.c_str());
  settings.DeleteProxyHost();
  settings.DeleteProxyPort();
  return settings;
}

std::string ViaLine() { return "Via: " + net::HTTPUserAgent() + "\r\n\r\n"; }

TEST(PassThroughAgent, AnAnswerIsRelayedWithTheViaLineAndItsAnnouncedBody) {
  Simulator dc;
  ASSERT_TRUE(dc.Start({"--item-size", "20000"}));
  CPRegistry settings = Settings(dc.Address());
  settings.SetStatisticsPassThruRequests(50);
  CPassThroughAgent agent(settings);
  ASSERT_EQ(agent.Init(), 1);

  auto served = Serve(agent, kRequest);
  EXPECT_EQ(served.result, 1);
  const auto answer = SplitAnswer(served.wire);
  EXPECT_EQ(answer.head.substr(0, 17), "HTTP/1.0 200 OK\r\n");
  EXPECT_EQ(answer.head.substr(answer.head.size() - ViaLine().size()), ViaLine());
  const std::size_t length = answer.head.find("Content-Length: ");
  ASSERT_NE(length, std::string::npos);
  EXPECT_EQ(answer.body.size(), std::stoul(answer.head.substr(length + 16)));
  EXPECT_GT(answer.body.size(), 15000u);
  EXPECT_EQ(served.bytesSent, served.wire.size());
  const auto fields = LogFields(served.entry);
  EXPECT_EQ(fields[agent_testing::kStatusField], "200");
  EXPECT_EQ(fields[agent_testing::kUpstreamHostField], "127.0.0.1");
  EXPECT_EQ(fields[agent_testing::kUpstreamStatusField], "200");

  // HEAD: the header with its Via line, and nothing after it.
  served = Serve(agent, "HEAD /KIBO-1/5-1 HTTP/1.0\r\n\r\n");
  EXPECT_EQ(served.result, 1);
  EXPECT_EQ(served.wire, answer.head);

  // The count is this agent's, not added to what the registry held.
  EXPECT_EQ(agent.RequestCount(), 2u);
  EXPECT_TRUE(poolmgr_testing::Eventually([&] { return settings.GetStatisticsPassThruRequests() == 2u; }));
  EXPECT_EQ(dc.Stat("data"), 2);
}

TEST(PassThroughAgent, RequestsOnManyThreadsAreAllRelayedAndCounted) {
  Simulator dc;
  ASSERT_TRUE(dc.Start());
  CPRegistry settings = Settings(dc.Address());
  CPassThroughAgent agent(settings);
  std::vector<std::thread> threads;
  std::atomic<int> relayed{0};
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int n = 0; n < 3; ++n) relayed += Serve(agent, kRequest).wire.substr(0, 17) == "HTTP/1.0 200 OK\r\n";
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(relayed.load(), 12);
  EXPECT_EQ(agent.RequestCount(), 12u);
  EXPECT_TRUE(poolmgr_testing::Eventually([&] { return settings.GetStatisticsPassThruRequests() == 12u; }));
}

TEST(PassThroughAgent, OnlyTheRequestLineAndThePostedBodyGoUpstreamWithCrLf) {
  ScriptedServer server(
      [](platform::SOCKET client, const std::string& head) {
        const std::string body = ScriptedServer::ReceiveExactly(client, 11);
        // No Content-Length: only the header is relayed, even for GET and POST.
        ScriptedServer::SendAll(client, "HTTP/1.0 200 OK\r\nX-Got: " + body + "\r\n\r\nnot relayed");
      },
      true);
  CPassThroughAgent agent(Settings(server.Address()));
  // The viewer's bare line feeds reach upstream as CR LF.
  auto served = Serve(agent, "POST /KIBO-1/5-1 HTTP/1.0\nCookie: secret\r\nContent-length: 11\n\nhello=world");
  EXPECT_EQ(served.result, 1);
  ASSERT_EQ(server.Requests().size(), 1u);
  EXPECT_EQ(server.Requests()[0], "POST /KIBO-1/5-1 HTTP/1.0\r\n\r\n");
  EXPECT_EQ(served.wire, "HTTP/1.0 200 OK\r\nX-Got: hello=world\r\n" + ViaLine());
}

TEST(PassThroughAgent, AnUpstream407ReachesTheViewerAs500WithTheRestOfTheHeader) {
  Simulator dc;
  ASSERT_TRUE(dc.Start({"--proxy-auth", "relay:secret"}));
  CPassThroughAgent agent(Settings(dc.Address()));
  auto served = Serve(agent, kRequest);
  EXPECT_EQ(served.result, 1);
  const auto answer = SplitAnswer(served.wire);
  EXPECT_EQ(answer.head.substr(0, 44), "HTTP/1.0 500 Proxy Authentication Required\r\n");
  EXPECT_NE(answer.head.find("\r\nProxy-Authenticate: Basic realm=\"dcsim\"\r\n"), std::string::npos);
  EXPECT_NE(answer.head.find("\r\nContent-Length: 0\r\n"), std::string::npos);
  EXPECT_EQ(answer.head.substr(answer.head.size() - ViaLine().size()), ViaLine());
  EXPECT_TRUE(answer.body.empty());
  const auto fields = LogFields(served.entry);
  EXPECT_EQ(fields[agent_testing::kStatusField], "500");
  EXPECT_EQ(fields[agent_testing::kUpstreamStatusField], "407");
}

TEST(PassThroughAgent, AProxyThatAsksForCredentialsGetsThemAndTheAnswerComesThrough) {
  using upstream_testing::ProxyServer;
  if (ProxyServer::Program().empty()) return testing_support::PeerMissing("tinyproxy", "tinyproxy");
  ProxyServer proxy;
  ASSERT_TRUE(proxy.Start("alice", "s3cret")) << proxy.Log();
  Simulator dc;
  ASSERT_TRUE(dc.Start());
  CPRegistry settings = Settings(dc.Address());
  settings.SetProxyHost("127.0.0.1");
  settings.SetProxyPort(proxy.Port());
  settings.SetProxyUser("alice");
  settings.SetProxyPassword("s3cret");
  CPassThroughAgent agent(settings);
  auto served = Serve(agent, kRequest);
  EXPECT_EQ(served.result, 1);
  EXPECT_EQ(served.wire.substr(0, 17), "HTTP/1.0 200 OK\r\n");
  EXPECT_EQ(LogFields(served.entry)[agent_testing::kUpstreamStatusField], "200");
  EXPECT_EQ(dc.Stat("data"), 1);
}

TEST(PassThroughAgent, NoReachableServerAnswers500AndOtherMethodsNothing) {
  CPassThroughAgent agent(Settings("127.0.0.1," + std::to_string(upstream_testing::FreeLoopbackPort())));
  auto served = Serve(agent, kRequest);
  EXPECT_EQ(served.result, 1);
  EXPECT_EQ(served.wire.substr(0, 36), "HTTP/1.0 500 Internal Server Error\r\n");
  auto fields = LogFields(served.entry);
  EXPECT_EQ(fields[agent_testing::kStatusField], "500");
  EXPECT_EQ(fields[agent_testing::kUpstreamHostField], "-");

  served = Serve(agent, "PUT /KIBO-1/5-1 HTTP/1.0\r\nContent-length: 2\r\n\r\nab");
  EXPECT_EQ(served.result, 0);
  EXPECT_TRUE(served.wire.empty());
  EXPECT_FALSE(served.entry.IsFilled());
  EXPECT_EQ(agent.RequestCount(), 1u);
}

TEST(PassThroughAgent, AViewerThatLeftIsLogged408AndReported) {
  Simulator dc;
  ASSERT_TRUE(dc.Start({"--items", "1", "--item-size", "8000000"}));
  CPassThroughAgent agent(Settings(dc.Address()));
  auto served = Serve(agent, "GET /KIBO-1/5-0 HTTP/1.0\r\n\r\n", true);
  EXPECT_EQ(served.result, 0);
  EXPECT_EQ(LogFields(served.entry)[agent_testing::kStatusField], "408");
  const auto records = platform::ReadEventRecords(1);
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].id, 0x80000072u);
  ASSERT_EQ(records[0].strings.size(), 2u);
  EXPECT_EQ(records[0].strings[1], "Sending pass-thru response");
}

}  // namespace
