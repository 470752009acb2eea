// HTTPFile against real servers on loopback: nginx for conditional GETs and
// 304, lighttpd behind tinyproxy with Basic proxy authentication, the
// simulator for a server that asks for credentials, and scripted servers for
// the answers no well-behaved server gives.
#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "platform/file.h"
#include "platform/testing.h"
#include "upstream/auth_http_file.h"
#include "upstream/file_url.h"
#include "upstream/http_file.h"
#include "upstream/peer_process_testing.h"
#include "upstream/scripted_server_testing.h"
#include "upstream/web_server_testing.h"

namespace {

using upstream_testing::ProxyServer;
using upstream_testing::ScriptedServer;
using upstream_testing::WebServer;

// Local copies go below this test's machine root.
CPRegistry Settings() {
  upstream_testing::UseTestTemporaryDirectory();
  CPRegistry settings;
  settings.DeleteProxyHost();
  settings.DeleteProxyPort();
  settings.DeleteNoProxyList();
  settings.SetRecvTimeout(5);
  settings.SetConnectTimeout(5);
  return settings;
}

std::string CopyOf(CPRegistry& settings, const std::string& url) {
  upstream::FileURL parts;
  EXPECT_EQ(upstream::ParseFileURL(url, parts), upstream::URLParse::kParsed);
  return upstream::LocalCopyName(settings.GetTempDirectory(), parts);
}

std::string ReadAll(HTTPFile& file) {
  std::string text;
  char buffer[300];
  for (long long n; (n = file.Read(buffer, sizeof(buffer))) > 0;) text.append(buffer, static_cast<std::size_t>(n));
  return text;
}

void SetModificationTime(const std::string& path, std::filesystem::file_time_type::duration shift) {
  std::filesystem::last_write_time(path, std::filesystem::last_write_time(path) + shift);
}

TEST(HTTPFileLocal, AnExistingFileIsReadWithoutNetworkAndLineByLine) {
  CPRegistry settings = Settings();
  // A proxy that would notice any fetch.
  ScriptedServer proxy("HTTP/1.0 500 No\r\n\r\n");
  settings.SetProxyHost("127.0.0.1");
  settings.SetProxyPort(proxy.Port());
  const std::string path = testing_support::MakeTempDir("local") + "/lines.txt";
  testing_support::WriteFile(path, "first\r\nsecond\n\nlast");
  HTTPFile file(settings);
  ASSERT_EQ(file.Open(path), 1);
  EXPECT_EQ(file.GetErrorCode(), 0u);
  EXPECT_EQ(file.GetFilePath(), path);
  EXPECT_EQ(file.GetLength(), 19);
  std::string line;
  std::vector<std::string> lines;
  while (file.ReadString(line)) lines.push_back(line);
  EXPECT_EQ(lines, (std::vector<std::string>{"first", "second", "", "last"}));
  ASSERT_TRUE(file.SeekToBegin());
  ASSERT_TRUE(file.ReadString(line));
  EXPECT_EQ(ReadAll(file), "second\n\nlast");  // buffered bytes come first
  EXPECT_TRUE(proxy.Requests().empty());
}

TEST(HTTPFileErrors, UnusableURLsAndUnreachableServersHaveTheirCodes) {
  CPRegistry settings = Settings();
  HTTPFile file(settings);
  EXPECT_EQ(file.Open("http://127.0.0.1"), 0);
  EXPECT_EQ(file.GetErrorCode(), HTTPFile::kErrorBadURL);
  EXPECT_EQ(file.Open("http:127.0.0.1/a.txt"), 0);
  EXPECT_EQ(file.GetErrorCode(), 4096u);
  EXPECT_EQ(file.Open("ftp://127.0.0.1/a.txt"), 0);
  EXPECT_EQ(file.GetErrorCode(), 4097u);
  const unsigned closed = upstream_testing::FreeLoopbackPort();
  EXPECT_EQ(file.Open("http://127.0.0.1:" + std::to_string(closed) + "/a.txt"), 0);
  EXPECT_EQ(file.GetErrorCode(), 4098u);
  EXPECT_FALSE(file.IsOpen());
}

TEST(HTTPFileRequest, TheRequestCarriesItsLinesAndBackslashesBecomeSlashes) {
  CPRegistry settings = Settings();
  ScriptedServer server("HTTP/1.0 200 OK\r\nContent-Length: 5\r\n\r\nhello");
  HTTPFile file(settings);
  const std::string url = "http:\\\\127.0.0.1:" + std::to_string(server.Port()) + "\\dir\\a.txt";
  ASSERT_EQ(file.Open(url), 1);
  EXPECT_EQ(ReadAll(file), "hello");
  EXPECT_EQ(file.GetFilePath(), CopyOf(settings, "http://127.0.0.1:" + std::to_string(server.Port()) + "/dir/a.txt"));
  ASSERT_EQ(file.Open(url, platform::File::Mode::kRead, 0, 1), 1);  // HEAD keeps the copy
  EXPECT_EQ(ReadAll(file), "hello");
  ASSERT_EQ(server.Requests().size(), 2u);
  const std::string first = server.Requests()[0];
  EXPECT_EQ(first.substr(0, first.find("\r\n") + 2), "GET /dir/a.txt HTTP/1.0\r\n");
  EXPECT_NE(first.find("\r\nUser-Agent: Zondrel/1.1 Build 1.1.68 domino ("), std::string::npos);
  EXPECT_NE(first.find("\r\nAccept: */*\r\n\r\n"), std::string::npos);
  EXPECT_EQ(first.find("IF-MODIFIED-SINCE"), std::string::npos);
  EXPECT_EQ(server.Requests()[1].substr(0, 24), "HEAD /dir/a.txt HTTP/1.0");
  EXPECT_NE(server.Requests()[1].find("\r\nIF-MODIFIED-SINCE: "), std::string::npos);
}

TEST(HTTPFileRequest, ACutDocumentLeavesTheCopyAsItWas) {
  CPRegistry settings = Settings();
  int answer = 0;
  ScriptedServer server(
      [&](platform::SOCKET client, const std::string&) {
        ScriptedServer::SendAll(client, ++answer == 1 ? "HTTP/1.0 200 OK\r\n\r\nwhole document"
                                                      : "HTTP/1.0 200 OK\r\nContent-Length: 100\r\n\r\ncut");
      },
      true);
  const std::string url = "http://127.0.0.1:" + std::to_string(server.Port()) + "/doc.txt";
  HTTPFile file(settings);
  ASSERT_EQ(file.Open(url), 1);  // without a length the document ends where the server closes
  EXPECT_EQ(ReadAll(file), "whole document");
  EXPECT_EQ(file.Open(url, platform::File::Mode::kRead, 1), 0);
  EXPECT_EQ(file.GetErrorCode(), HTTPFile::kErrorIncomplete);
  EXPECT_EQ(testing_support::ReadFile(CopyOf(settings, url)), "whole document");
  EXPECT_FALSE(std::filesystem::exists(CopyOf(settings, url) + ".part"));
}

class HTTPFileNginx : public ::testing::Test {
 protected:
  void SetUp() override {
    if (WebServer::Program(WebServer::Kind::kNginx).empty()) {
      return testing_support::PeerMissing("nginx", "nginx");
    }
    ASSERT_TRUE(web_.Start(WebServer::Kind::kNginx)) << web_.ErrorLog();
  }
  WebServer web_;
};

TEST_F(HTTPFileNginx, TheSecondFetchAsksConditionallyAndReusesTheCopyOn304) {
  CPRegistry settings = Settings();
  testing_support::WriteFile(web_.Root() + "news.txt", "edition 1\n");
  SetModificationTime(web_.Root() + "news.txt", -std::chrono::hours(1));
  const std::string url = web_.Url("/news.txt");
  HTTPFile file(settings);
  ASSERT_EQ(file.Open(url), 1) << file.GetErrorCode();
  EXPECT_EQ(ReadAll(file), "edition 1\n");
  file.Close();

  // The copy is newer than the document: the server answers 304 and the
  // copy (marked here so that its reuse shows) is what opens.
  const std::string copy = CopyOf(settings, url);
  testing_support::WriteFile(copy, "kept copy\n");
  ASSERT_EQ(file.Open(url), 1);
  EXPECT_EQ(ReadAll(file), "kept copy\n");
  EXPECT_TRUE(web_.AccessLogShows("\" 304 ")) << web_.AccessLog();

  // A changed document replaces the copy; force skips the condition.
  testing_support::WriteFile(web_.Root() + "news.txt", "edition 2\n");
  SetModificationTime(web_.Root() + "news.txt", std::chrono::hours(1));
  ASSERT_EQ(file.Open(url), 1);
  EXPECT_EQ(ReadAll(file), "edition 2\n");
  testing_support::WriteFile(copy, "stale\n");
  ASSERT_EQ(file.Open(url, platform::File::Mode::kRead, 1), 1);
  EXPECT_EQ(ReadAll(file), "edition 2\n");
}

TEST_F(HTTPFileNginx, A404LeavesError4500AndTheCopyUntouched) {
  CPRegistry settings = Settings();
  testing_support::WriteFile(web_.Root() + "gone.txt", "still here\n");
  const std::string url = web_.Url("/gone.txt");
  HTTPFile file(settings);
  ASSERT_EQ(file.Open(url), 1);
  file.Close();
  std::filesystem::remove(web_.Root() + "gone.txt");
  EXPECT_EQ(file.Open(url, platform::File::Mode::kRead, 1), 0);
  EXPECT_EQ(file.GetErrorCode(), 4500u);
  EXPECT_EQ(testing_support::ReadFile(CopyOf(settings, url)), "still here\n");
}

class HTTPFileThroughProxy : public ::testing::Test {
 protected:
  void SetUp() override {
    if (ProxyServer::Program().empty()) return testing_support::PeerMissing("tinyproxy", "tinyproxy");
    if (WebServer::Program(WebServer::Kind::kLighttpd).empty()) {
      return testing_support::PeerMissing("lighttpd", "lighttpd");
    }
    ASSERT_TRUE(web_.Start(WebServer::Kind::kLighttpd)) << web_.ErrorLog();
    testing_support::WriteFile(web_.Root() + "memo.txt", "memo\n");
    ASSERT_TRUE(proxy_.Start("alice", "s3cret")) << proxy_.Log();
  }

  // The proxy for every fetch, with the password given.
  CPRegistry ProxySettings(const char* password) {
    CPRegistry settings = Settings();
    settings.SetProxyHost("127.0.0.1");
    settings.SetProxyPort(proxy_.Port());
    settings.SetProxyUser("alice");
    settings.SetProxyPassword(password);
    return settings;
  }

  WebServer web_;
  ProxyServer proxy_;
};

TEST_F(HTTPFileThroughProxy, The407IsAnsweredWithTheProxyCredentials) {
  HTTPFile file(ProxySettings("s3cret"));
  ASSERT_EQ(file.Open(web_.Url("/memo.txt")), 1) << file.GetErrorCode();
  EXPECT_EQ(ReadAll(file), "memo\n");
  EXPECT_TRUE(web_.AccessLogShows("GET /memo.txt"));
}

TEST_F(HTTPFileThroughProxy, RefusedProxyCredentialsFailWithTheProxysAnswer) {
  HTTPFile file(ProxySettings("wrong"));
  EXPECT_EQ(file.Open(web_.Url("/memo.txt")), 0);
  // This proxy refuses wrong credentials with 401 rather than a second 407.
  EXPECT_TRUE(file.GetErrorCode() == 4096u + 401 || file.GetErrorCode() == 4096u + 407) << file.GetErrorCode();
  EXPECT_EQ(web_.AccessLog().find("GET /memo.txt"), std::string::npos);
}

TEST_F(HTTPFileThroughProxy, AHostInNoProxyListIsFetchedDirectly) {
  CPRegistry settings = ProxySettings("wrong");
  settings.SetNoProxyList("intranet.example; 127.0.0.*");
  HTTPFile file(settings);
  ASSERT_EQ(file.Open(web_.Url("/memo.txt")), 1) << file.GetErrorCode();
  EXPECT_EQ(ReadAll(file), "memo\n");
}

TEST(HTTPFileCredentials, A401IsAnsweredOnceWithTheFilesCredentials) {
  CPRegistry settings = Settings();
  upstream_testing::Simulator dc;
  ASSERT_TRUE(dc.Start({"--auth", "Null:pass"}));
  const std::string url = "http://" + std::string("127.0.0.1:") + std::to_string(dc.Port()) + "/KIBO-1/5-1";

  HTTPFile plain(settings);
  EXPECT_EQ(plain.Open(url), 0);
  EXPECT_EQ(plain.GetErrorCode(), 4096u + 401);

  CAuthHTTPFile wrong(settings, "bob", "pass");
  EXPECT_EQ(wrong.Open(url), 0);
  EXPECT_EQ(wrong.GetErrorCode(), 4096u + 401);

  CAuthHTTPFile anonymous(settings, "", "pass");  // sent as user "Null"
  ASSERT_EQ(anonymous.Open(url), 1) << anonymous.GetErrorCode();
  EXPECT_GT(anonymous.GetLength(), 0);
  // One refusal each, and one more for the refused credentials: never a third try.
  EXPECT_EQ(dc.Stat("unauthorized"), 4);
}

}  // namespace
