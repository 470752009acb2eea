// The null agent: 204 without a blocking message, the message itself from a
// local file or from a web server, and the request count.
#include "agents/null_agent.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "agents/agent_testing.h"
#include "agents/simple_agents_testing.h"
#include "platform/testing.h"
#include "upstream/web_server_testing.h"

namespace {

using agent_testing::LogFields;
using agent_testing::Serve;
using agent_testing::SplitAnswer;

const std::string kBlockedRequest = "GET /KIBO-1/777-1 HTTP/1.0\r\n\r\n";

CPRegistry Settings(const std::string& blockingMessage) {
  upstream_testing::UseTestTemporaryDirectory();
  CPRegistry settings;
  settings.SetBlockingMessageURL(blockingMessage.c_str());
  settings.SetBlockingNextUpdate(600);
  settings.SetRecvTimeout(5);
  settings.DeleteProxyHost();
  settings.DeleteProxyPort();
  return settings;
}

TEST(NullAgent, WithoutABlockingMessageTheAnswerIs204AndEveryRequestCounts) {
  CPRegistry settings = Settings("");
  settings.SetStatisticsNullAgentRequests(41);
  CNullAgent agent(settings);
  ASSERT_EQ(agent.Init(), 1);
  auto served = Serve(agent, kBlockedRequest);
  EXPECT_EQ(served.result, 1);
  EXPECT_EQ(served.wire.substr(0, 25), "HTTP/1.0 204 No Content\r\n");
  EXPECT_EQ(LogFields(served.entry)[agent_testing::kStatusField], "204");
  served = Serve(agent, kBlockedRequest);
  EXPECT_EQ(settings.GetStatisticsNullAgentRequests(), 43u);

  // A message that cannot be opened is as good as none.
  CNullAgent missing(Settings(testing_support::TestRoot() + "/no/such/message.htm"));
  served = Serve(missing, kBlockedRequest);
  EXPECT_EQ(served.result, 1);
  EXPECT_EQ(served.wire.substr(0, 25), "HTTP/1.0 204 No Content\r\n");
}

TEST(NullAgent, RequestsOnManyThreadsAreEachCountedOnce) {
  CPRegistry settings = Settings("");
  settings.SetStatisticsNullAgentRequests(0);
  CNullAgent agent(settings);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int n = 0; n < 5; ++n) Serve(agent, kBlockedRequest);
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(settings.GetStatisticsNullAgentRequests(), 20u);
}

TEST(NullAgent, ALocalMessageIsSentAsOneItemAndAGoneViewerIsLogged408) {
  const std::string path = testing_support::MakeTempDir("blocking") + "/blocked.htm";
  testing_support::WriteFile(path, "<html>blocked by your administrator</html>");
  CNullAgent agent(Settings(path));
  auto served = Serve(agent, kBlockedRequest);
  EXPECT_EQ(served.result, 1);
  const auto answer = SplitAnswer(served.wire);
  EXPECT_EQ(answer.head.substr(0, 17), "HTTP/1.0 200 OK\r\n");
  EXPECT_EQ(answer.contentLength, static_cast<long long>(answer.body.size()));
  EXPECT_EQ(answer.body.substr(answer.body.size() - 42), "<html>blocked by your administrator</html>");
  EXPECT_EQ(served.bytesSent, served.wire.size());
  EXPECT_EQ(LogFields(served.entry)[agent_testing::kStatusField], "200");

  // HEAD gets the head alone.
  served = Serve(agent, "HEAD /KIBO-1/777-1 HTTP/1.0\r\n\r\n");
  EXPECT_EQ(SplitAnswer(served.wire).head, answer.head);
  EXPECT_TRUE(SplitAnswer(served.wire).body.empty());

  testing_support::WriteFile(path, std::string(8 * 1024 * 1024, 'x'));
  served = Serve(agent, kBlockedRequest, true);
  EXPECT_EQ(served.result, 1);
  EXPECT_EQ(LogFields(served.entry)[agent_testing::kStatusField], "408");
}

TEST(NullAgent, AMessageURLIsFetchedFromItsServer) {
  using upstream_testing::WebServer;
  if (WebServer::Program(WebServer::Kind::kLighttpd).empty()) {
    return testing_support::PeerMissing("lighttpd", "lighttpd");
  }
  WebServer web;
  ASSERT_TRUE(web.Start(WebServer::Kind::kLighttpd)) << web.ErrorLog();
  testing_support::WriteFile(web.Root() + "blocked.htm", "<p>blocked</p>");
  CNullAgent agent(Settings(web.Url("/blocked.htm")));
  auto served = Serve(agent, kBlockedRequest);
  EXPECT_EQ(SplitAnswer(served.wire).body.substr(SplitAnswer(served.wire).body.size() - 14), "<p>blocked</p>");
  EXPECT_TRUE(web.AccessLogShows("GET /blocked.htm"));

  CNullAgent missing(Settings(web.Url("/missing.htm")));
  served = Serve(missing, kBlockedRequest);
  EXPECT_EQ(served.wire.substr(0, 25), "HTTP/1.0 204 No Content\r\n");
}

}  // namespace
