// A whole request to the data centre against the real simulator: the server
// list and its built-in default, the last good server, redirection and
// self-routing, credentials, and upstreams that misbehave.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>

#include "upstream/http_stream.h"
#include "upstream/peer_process_testing.h"
#include "upstream/scripted_server_testing.h"
#include "upstream/upstream_servers.h"

namespace {

using upstream_testing::ScriptedServer;
using upstream_testing::Simulator;

const std::string kAgentListRequest =
    "GET /KIBO-1/67328-1 HTTP/1.0\r\nUser-Agent: test\r\nQRNReqType:4\r\nPragma: no-cache\r\n\r\n";
const std::string kDataRequest = "GET /KIBO-1/1000-0 HTTP/1.0\r\nUser-Agent: test\r\n\r\n";

CPRegistry Settings() {
  CPRegistry settings;
  settings.SetRecvTimeout(2);
  settings.SetConnectTimeout(2);
  return settings;
}

void UseServers(CPRegistry& settings, const std::vector<std::string>& entries) {
  for (unsigned n = 1; n <= upstream::kServerListEntries; ++n) settings.DeleteIPPort(n);
  for (unsigned n = 0; n < entries.size(); ++n) settings.SetIPPort(n + 1, entries[n].c_str());
}

unsigned ClosedPort() {
  ScriptedServer gone("");
  return gone.Port();
}

// Reads the whole announced body after OpenAndGetHeader.
std::string ReadBody(CPHTTPStream& stream, const std::string& header) {
  const int length = stream.GetContentLength(header);
  std::string body;
  char buffer[4096];
  while (static_cast<int>(body.size()) < length) {
    int n = stream.Read(buffer, sizeof(buffer));
    if (n <= 0) break;
    body.append(buffer, static_cast<std::size_t>(n));
  }
  return body;
}

class ServerListTest : public ::testing::Test {
 protected:
  void SetUp() override { upstream::ClearLastGoodServer(); }
};

TEST_F(ServerListTest, AnEmptyListInstallsTheBuiltInServersAndUsesEntryOne) {
  CPRegistry settings = Settings();
  settings.SetIPPort(7, "127.0.0.1,1");  // left over: goes with the install
  ScriptedServer atEntryOne([](platform::SOCKET client, const std::string&) {
    ScriptedServer::SendAll(client, "HTTP/1.0 204 No content\r\n\r\n");
  }, true, 80);

  CPHTTPStream stream(settings);
  std::string header;
  CUpstreamResult result;
  const int status = stream.OpenAndGetHeader(kDataRequest, header, &result);
  for (unsigned n = 0; n < upstream::kDefaultServerCount; ++n) {
    EXPECT_EQ(settings.GetIPPort(n + 1), upstream::DefaultServerEntries()[n]);
  }
  EXPECT_EQ(settings.GetIPPort(5), "");
  EXPECT_EQ(settings.GetIPPort(7), "");
  if (atEntryOne.Port() != 80) GTEST_SKIP() << "port 80 of 127.0.0.1 is not free: entry 1 cannot be answered";
  EXPECT_EQ(status, 204);
  EXPECT_EQ(result.host, "127.0.0.1");
  EXPECT_EQ(result.port, 80u);
  EXPECT_EQ(atEntryOne.Requests().size(), 1u);
}

TEST_F(ServerListTest, UnusableEntriesAreSkippedAndColonOrCommaBothWork) {
  Simulator dc;
  ASSERT_TRUE(dc.Start({"--items", "2", "--item-size", "10"}));
  CPRegistry settings = Settings();
  UseServers(settings, {"127.0.0.1," + std::to_string(ClosedPort()), "   ", "127.0.0.1,notaport",
                        "127.0.0.1:" + std::to_string(dc.Port())});
  CPHTTPStream stream(settings);
  std::string header;
  CUpstreamResult result;
  ASSERT_EQ(stream.OpenAndGetHeader(kAgentListRequest, header, &result), 200);
  EXPECT_EQ(result.host, "127.0.0.1");
  EXPECT_EQ(result.port, dc.Port());
  EXPECT_EQ(result.status, 200);
  const std::string body = ReadBody(stream, header);
  EXPECT_EQ(body.substr(0, 4), "14\r\n");
  EXPECT_NE(body.find("66560,5\r\n"), std::string::npos);
  stream.Close();
  EXPECT_EQ(dc.Stat("agentlist"), 1);
}

TEST_F(ServerListTest, TheLastGoodServerIsAskedFirst) {
  Simulator first;
  Simulator second;
  ASSERT_TRUE(first.Start());
  ASSERT_TRUE(second.Start());
  CPRegistry settings = Settings();
  UseServers(settings, {first.Address()});
  std::string header;
  {
    CPHTTPStream stream(settings);
    ASSERT_EQ(stream.OpenAndGetHeader(kDataRequest, header), 200);
  }
  UseServers(settings, {second.Address()});
  {
    CPHTTPStream stream(settings);
    ASSERT_EQ(stream.OpenAndGetHeader(kDataRequest, header), 200);
  }
  EXPECT_EQ(first.Stat("requests"), 2);
  EXPECT_EQ(second.Stat("requests"), 0);

  // Gone: the list is asked again, and its answer becomes the last good one.
  first.Stop();

  {
    CPHTTPStream stream(settings);
    CUpstreamResult result;
    ASSERT_EQ(stream.OpenAndGetHeader(kDataRequest, header, &result), 200);
    EXPECT_EQ(result.port, second.Port());
  }
  EXPECT_EQ(upstream::LastGoodServer().port, second.Port());
}

TEST_F(ServerListTest, NoServerAnsweringGivesTheLastStatus) {
  Simulator missing;
  ASSERT_TRUE(missing.Start());
  CPRegistry settings = Settings();
  UseServers(settings, {"127.0.0.1," + std::to_string(ClosedPort()), missing.Address()});
  missing.Set("auth", "u:p");
  CPHTTPStream stream(settings);
  std::string header;
  CUpstreamResult result;
  EXPECT_EQ(stream.OpenAndGetHeader(kDataRequest, header, &result), 401);
  EXPECT_EQ(result.status, 401);
  EXPECT_EQ(upstream::LastGoodServer().port, 0u);
}

TEST_F(ServerListTest, RedirectionIsFollowedOneLevelAndOnlyWithAPort) {
  Simulator target;
  Simulator further;
  Simulator redirector;
  ASSERT_TRUE(target.Start());
  ASSERT_TRUE(further.Start());
  ASSERT_TRUE(redirector.Start({"--redirect", "127.0.0.1:" + std::to_string(target.Port())}));
  CPRegistry settings = Settings();
  UseServers(settings, {redirector.Address()});
  std::string header;
  CUpstreamResult result;
  {
    CPHTTPStream stream(settings);
    ASSERT_EQ(stream.OpenAndGetHeader(kDataRequest, header, &result), 200);
    EXPECT_EQ(result.port, target.Port());
    EXPECT_NE(ReadBody(stream, header).find("LID:10\r\n"), std::string::npos);
  }
  EXPECT_EQ(redirector.Stat("redirected"), 1);
  EXPECT_EQ(target.Stat("data"), 1);

  // A second redirection is not followed: the next entry is asked.
  upstream::ClearLastGoodServer();
  target.Set("redirect", "127.0.0.1:" + std::to_string(further.Port()));
  {
    CPHTTPStream stream(settings);
    EXPECT_EQ(stream.OpenAndGetHeader(kDataRequest, header, &result), 302);
  }
  EXPECT_EQ(further.Stat("requests"), 0);

  // Without a port the Location is not followed.
  redirector.Set("redirect", "127.0.0.1");
  {
    CPHTTPStream stream(settings);
    EXPECT_EQ(stream.OpenAndGetHeader(kDataRequest, header, &result), 302);
  }
  EXPECT_EQ(target.Stat("requests"), 2);
}

TEST_F(ServerListTest, RedirectionToThisRelayEndsTheRequestWith500) {
  Simulator redirector;
  Simulator fallback;
  ASSERT_TRUE(fallback.Start());
  const unsigned own = upstream_testing::FreeLoopbackPort();
  ASSERT_TRUE(redirector.Start({"--redirect", "127.0.0.1:" + std::to_string(own)}));
  CPRegistry settings = Settings();
  UseServers(settings, {redirector.Address(), fallback.Address()});
  std::string header;
  CUpstreamResult result;

  // Listening on that address exactly.
  settings.SetServerLISTENIPPort(1, ("127.0.0.1," + std::to_string(own)).c_str());
  {
    CPHTTPStream stream(settings);
    EXPECT_EQ(stream.OpenAndGetHeader(kDataRequest, header, &result), 500);
  }
  // Listening on every interface with that port.
  settings.SetServerLISTENIPPort(1, std::to_string(own).c_str());
  redirector.Set("redirect", "localhost:" + std::to_string(own));
  {
    CPHTTPStream stream(settings);
    EXPECT_EQ(stream.OpenAndGetHeader(kDataRequest, header, &result), 500);
  }
  EXPECT_EQ(result.status, 500);
  EXPECT_EQ(fallback.Stat("requests"), 0);

  // Another port of this machine is another server.
  settings.SetServerLISTENIPPort(1, std::to_string(own + 1).c_str());
  redirector.Set("redirect", "127.0.0.1:" + std::to_string(fallback.Port()));
  CPHTTPStream stream(settings);
  EXPECT_EQ(stream.OpenAndGetHeader(kDataRequest, header, &result), 200);
}

// A stream that has credentials for the server, as the URL fetch's have.
class CredentialStream : public CPHTTPStream {
 public:
  CredentialStream(const CPRegistry& settings, std::string user, std::string password)
      : CPHTTPStream(settings), user_(std::move(user)), password_(std::move(password)) {}
  int GetCredentials(std::string& user, std::string& password) override {
    user = user_;
    password = password_;
    return 1;
  }

 private:
  std::string user_;
  std::string password_;
};

TEST_F(ServerListTest, A401IsAnsweredOnceWithTheStreamsCredentials) {
  Simulator dc;
  ASSERT_TRUE(dc.Start({"--auth", "alice:s3cret"}));
  CPRegistry settings = Settings();
  UseServers(settings, {dc.Address()});
  std::string header;
  {
    CPHTTPStream plain(settings);
    EXPECT_EQ(plain.OpenAndGetHeader(kDataRequest, header), 401);
  }
  EXPECT_EQ(dc.Stat("unauthorized"), 1);
  {
    CredentialStream wrong(settings, "alice", "guess");
    EXPECT_EQ(wrong.OpenAndGetHeader(kDataRequest, header), 401);
  }
  EXPECT_EQ(dc.Stat("unauthorized"), 3);  // asked once more, not again
  CredentialStream right(settings, "alice", "s3cret");
  EXPECT_EQ(right.OpenAndGetHeader(kDataRequest, header), 200);
}

TEST_F(ServerListTest, ThroughAProxyTheRequestLineIsAbsoluteAnd407IsAnsweredOnce) {
  ScriptedServer proxy("HTTP/1.0 204 No content\r\n\r\n");
  CPRegistry settings = Settings();
  settings.SetProxyHost("127.0.0.1");
  settings.SetProxyPort(proxy.Port());
  settings.SetSocksHost("127.0.0.1");
  settings.SetSocksPort(1);  // never used while a proxy is set
  UseServers(settings, {"s,80"});
  std::string header;
  CUpstreamResult result;
  {
    CPHTTPStream stream(settings);
    EXPECT_TRUE(stream.UsesProxy());
    EXPECT_FALSE(stream.UsesSocks());
    ASSERT_EQ(stream.OpenAndGetHeader(kAgentListRequest, header, &result), 204);
  }
  ASSERT_EQ(proxy.Requests().size(), 1u);
  EXPECT_EQ(proxy.Requests()[0], "GET http://s:80/KIBO-1/67328-1 HTTP/1.0\r\nUser-Agent: test\r\n"
                                 "QRNReqType:4\r\nPragma: no-cache\r\n\r\n");
  EXPECT_EQ(result.host, "s");  // the server, not the proxy
  EXPECT_EQ(result.port, 80u);

  Simulator authenticating;
  ASSERT_TRUE(authenticating.Start({"--proxy-auth", "pu:pp"}));
  settings.SetProxyPort(authenticating.Port());
  settings.SetProxyUser("pu");
  settings.SetProxyPassword("wrong");
  upstream::ClearLastGoodServer();
  {
    CPHTTPStream stream(settings);
    EXPECT_EQ(stream.OpenAndGetHeader(kDataRequest, header, &result), 407);
    EXPECT_EQ(result.reason, "Proxy Authentication Required");
  }
  EXPECT_EQ(authenticating.Stat("proxyauth"), 2);
  settings.SetProxyPassword("pp");
  CPHTTPStream stream(settings);
  EXPECT_EQ(stream.OpenAndGetHeader(kDataRequest, header, &result), 200);
}

TEST_F(ServerListTest, TheBodyFollowsTheRequest) {
  std::promise<std::string> body;
  ScriptedServer server([&body](platform::SOCKET client, const std::string&) {
    body.set_value(ScriptedServer::ReceiveExactly(client, 7));
    ScriptedServer::SendAll(client, "HTTP/1.0 200 OK\r\nContent-Length: 0\r\n\r\n");
  }, true);
  CPRegistry settings = Settings();
  UseServers(settings, {server.Address()});
  CPHTTPStream stream(settings);
  std::string header;
  EXPECT_EQ(stream.OpenAndGetHeader("POST /KIBO-1/5-0 HTTP/1.0\r\nContent-length: 7\r\n\r\n", "payload", 7, header,
                                    nullptr),
            200);
  EXPECT_EQ(body.get_future().get(), "payload");
}

TEST_F(ServerListTest, MisbehavingServersGiveErrorsAndTheNextEntryIsAsked) {
  ScriptedServer endless(std::string(300000, 'x'));
  ScriptedServer garbage("HTTP/1.0 abc\r\n\r\n");
  ScriptedServer hangsUp("");
  Simulator good;
  ASSERT_TRUE(good.Start());
  CPRegistry settings = Settings();
  UseServers(settings, {endless.Address(), garbage.Address(), hangsUp.Address(), good.Address()});
  CPHTTPStream stream(settings);
  std::string header;
  CUpstreamResult result;
  EXPECT_EQ(stream.OpenAndGetHeader(kDataRequest, header, &result), 200);
  EXPECT_EQ(result.port, good.Port());
  EXPECT_EQ(endless.Requests().size(), 1u);
  EXPECT_EQ(garbage.Requests().size(), 1u);
  EXPECT_EQ(hangsUp.Requests().size(), 1u);
}

TEST_F(ServerListTest, AbortEndsARequestToASlowServer) {
  Simulator slow;
  ASSERT_TRUE(slow.Start({"--delay", "20000"}));
  CPRegistry settings = Settings();
  settings.SetRecvTimeout(60);
  UseServers(settings, {slow.Address(), slow.Address(), slow.Address()});
  auto request = std::async(std::launch::async, [&settings] {
    CPHTTPStream stream(settings);
    std::string header;
    return stream.OpenAndGetHeader(kDataRequest, header);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  const auto start = std::chrono::steady_clock::now();
  CPHTTPStream::AbortAll();
  ASSERT_EQ(request.wait_for(std::chrono::seconds(5)), std::future_status::ready);
  EXPECT_EQ(request.get(), 500);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
  EXPECT_EQ(slow.Stat("requests"), 1);  // no further entry was tried
}

}  // namespace
