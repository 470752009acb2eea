// The stream against real peers started on loopback ports: an HTTP proxy
// that demands Basic proxy authentication, a SOCKS 4 firewall that passes
// one port and refuses another, and a scripted firewall for every reply code.
#include <gtest/gtest.h>
#include <unistd.h>

#include "platform/testing.h"
#include "upstream/http_stream.h"
#include "upstream/peer_process_testing.h"
#include "upstream/scripted_server_testing.h"
#include "upstream/upstream_servers.h"

namespace {

using upstream_testing::PeerProcess;
using upstream_testing::ScriptedServer;
using upstream_testing::Simulator;

const std::string kAgentListRequest =
    "GET /KIBO-1/67328-1 HTTP/1.0\r\nUser-Agent: test\r\nQRNReqType:4\r\nPragma: no-cache\r\n\r\n";

CPRegistry Settings(const std::string& server) {
  CPRegistry settings;
  settings.SetRecvTimeout(5);
  settings.SetConnectTimeout(5);
  settings.SetIPPort(1, server.c_str());
  return settings;
}

// Starts a peer program with a config file of its own; false when it does
// not come up on `port`.
bool StartPeer(PeerProcess& peer, const std::vector<std::string>& argv, const std::string& log, unsigned port) {
  return peer.Start(argv, log) && upstream_testing::WaitForPort(port) && peer.Running();
}

class HttpProxyPeer : public ::testing::Test {
 protected:
  void SetUp() override {
    program_ = upstream_testing::FindProgram("tinyproxy");
    if (program_.empty()) return testing_support::PeerMissing("tinyproxy", "tinyproxy");
    upstream::ClearLastGoodServer();
    ASSERT_TRUE(dc_.Start());
    dir_ = testing_support::MakeTempDir("tinyproxy");
    port_ = upstream_testing::FreeLoopbackPort();
    testing_support::WriteFile(dir_ + "/tinyproxy.conf",
                               "Port " + std::to_string(port_) +
                                   "\nListen 127.0.0.1\nTimeout 30\nMaxClients 20\nAllow 127.0.0.1\n"
                                   "BasicAuth alice s3cret\nLogLevel Info\n");
    ASSERT_TRUE(StartPeer(proxy_, {program_, "-d", "-c", dir_ + "/tinyproxy.conf"}, dir_ + "/tinyproxy.log", port_))
        << testing_support::ReadFile(dir_ + "/tinyproxy.log");
  }

  CPRegistry ProxySettings(const char* password) {
    CPRegistry settings = Settings(dc_.Address());
    settings.SetProxyHost("127.0.0.1");
    settings.SetProxyPort(port_);
    settings.SetProxyUser("alice");
    settings.SetProxyPassword(password);
    return settings;
  }

  std::string program_;
  Simulator dc_;
  std::string dir_;
  unsigned port_ = 0;
  PeerProcess proxy_;
};

TEST_F(HttpProxyPeer, A407IsAnsweredWithTheStoredProxyCredentials) {
  CPHTTPStream stream(ProxySettings("s3cret"));
  std::string header;
  CUpstreamResult result;
  ASSERT_EQ(stream.OpenAndGetHeader(kAgentListRequest, header, &result), 200) << header;
  EXPECT_EQ(result.port, dc_.Port());
  const int length = stream.GetContentLength(header);
  ASSERT_GT(length, 0);
  std::string body;
  char buffer[512];
  for (int n; static_cast<int>(body.size()) < length && (n = stream.Read(buffer, sizeof(buffer))) > 0;) {
    body.append(buffer, static_cast<std::size_t>(n));
  }
  EXPECT_EQ(body.substr(0, 4), "14\r\n");
  stream.Close();
  EXPECT_EQ(dc_.Stat("agentlist"), 1);
}

TEST_F(HttpProxyPeer, WrongProxyCredentialsEndWithTheProxysRefusal) {
  CPHTTPStream stream(ProxySettings("wrong"));
  std::string header;
  CUpstreamResult result;
  // This proxy refuses wrong credentials with 401 rather than a second 407.
  const int status = stream.OpenAndGetHeader(kAgentListRequest, header, &result);
  EXPECT_TRUE(status == 401 || status == 407) << header;
  EXPECT_EQ(result.status, status);
  EXPECT_EQ(dc_.Stat("requests"), 0);
}

class SocksPeer : public ::testing::Test {
 protected:
  void SetUp() override {
    program_ = upstream_testing::FindProgram("danted");
    if (program_.empty()) return testing_support::PeerMissing("danted", "dante-server");
    upstream::ClearLastGoodServer();
    ASSERT_TRUE(passed_.Start());
    ASSERT_TRUE(blocked_.Start());
    dir_ = testing_support::MakeTempDir("danted");
    port_ = upstream_testing::FreeLoopbackPort();
    std::string conf = "logoutput: " + dir_ + "/danted.log\n" + "internal: 127.0.0.1 port = " +
                       std::to_string(port_) + "\nexternal: 127.0.0.1\nclientmethod: none\nsocksmethod: none\n";
    // Its privilege switches only work for root.
    if (::geteuid() == 0) conf += "user.privileged: root\nuser.unprivileged: nobody\n";
    conf += "client pass { from: 127.0.0.0/8 to: 0.0.0.0/0 }\n"
            "socks block { from: 0.0.0.0/0 to: 127.0.0.1/32 port = " + std::to_string(blocked_.Port()) + " }\n"
            "socks pass { from: 127.0.0.0/8 to: 127.0.0.0/8 }\n";
    testing_support::WriteFile(dir_ + "/danted.conf", conf);
    ASSERT_TRUE(StartPeer(firewall_, {program_, "-f", dir_ + "/danted.conf", "-p", dir_ + "/danted.pid", "-N", "1"},
                          dir_ + "/danted.out", port_))
        << testing_support::ReadFile(dir_ + "/danted.out") << testing_support::ReadFile(dir_ + "/danted.log");
  }

  std::string program_;
  Simulator passed_;
  Simulator blocked_;
  std::string dir_;
  unsigned port_ = 0;
  PeerProcess firewall_;
};

TEST_F(SocksPeer, TheFirewallConnectsToAPassedTargetAndRefusesABlockedOne) {
  CPRegistry settings = Settings(passed_.Address());
  settings.SetSocksHost("127.0.0.1");
  settings.SetSocksPort(port_);
  settings.SetSocksUser("bob");
  {
    CPHTTPStream stream(settings);
    ASSERT_TRUE(stream.UsesSocks());
    std::string header;
    CUpstreamResult result;
    EXPECT_EQ(stream.OpenAndGetHeader(kAgentListRequest, header, &result), 200);
    EXPECT_EQ(result.port, passed_.Port());
  }
  EXPECT_EQ(passed_.Stat("agentlist"), 1);

  CPHTTPStream refused(settings);
  EXPECT_EQ(refused.Open("127.0.0.1", blocked_.Port()), CPHTTPStream::kOpenFailed);
  EXPECT_EQ(blocked_.Stat("requests"), 0);
}

TEST(SocksReplies, EveryReplyCodeHasItsResult) {
  struct Case {
    std::string reply;
    int result;
  };
  const std::vector<Case> cases = {
      {std::string("\0\x5A\0\0\0\0\0\0", 8), 0},
      {std::string("\0\x5B\0\0\0\0\0\0", 8), CPHTTPStream::kOpenFailed},
      {std::string("\0\x5C\0\0\0\0\0\0", 8), 10051},
      {std::string("\0\x5D\0\0\0\0\0\0", 8), 1326},
      {std::string("\0\x2A\0\0\0\0\0\0", 8), CPHTTPStream::kOpenFailed},
      {std::string("\0\x5A\0", 3), CPHTTPStream::kOpenFailed},  // too short, then closed
  };
  for (const std::string& user : {std::string("bob"), std::string()}) {
    for (const Case& c : cases) {
      std::string request;
      {
        ScriptedServer firewall([&](platform::SOCKET client, const std::string&) {
          request = ScriptedServer::ReceiveExactly(client, 8 + user.size() + 1);
          ScriptedServer::SendAll(client, c.reply);
        }, false);
        CPRegistry settings;
        settings.SetRecvTimeout(2);
        settings.SetSocksHost("127.0.0.1");
        settings.SetSocksPort(firewall.Port());
        settings.SetSocksUser(user.c_str());
        CPHTTPStream stream(settings);
        EXPECT_EQ(stream.Open("127.0.0.9", 0x1F90), c.result) << static_cast<int>(c.reply[1]);
      }  // the firewall has finished with the request
      EXPECT_EQ(request, std::string("\x04\x01\x1F\x90\x7F\x00\x00\x09", 8) + user + std::string(1, '\0'));
    }
  }
}

}  // namespace
