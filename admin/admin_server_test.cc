// The administration web server's request handling over real connections:
// handlers chosen by path, the file agent's virtual directories, its depth
// and link checks, redirects, content types, Basic authentication, the
// methods it refuses, and the administration log.
#include "admin/admin_server.h"

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "admin/console_context.h"
#include "admin/file_agent.h"
#include "config/admin_password.h"
#include "base/kibo_folder.h"
#include "platform/registry.h"
#include "platform/socket.h"
#include "platform/testing.h"
#include "regwrap/qr_registry.h"

namespace {

using testing_support::WriteFile;
namespace fs = std::filesystem;

struct Answer {
  std::string head;
  std::string body;
  bool Has(const std::string& line) const { return head.find("\r\n" + line + "\r\n") != std::string::npos; }
};

class AdminServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(m_Home + "Java/com");
    fs::create_directories(m_Home + "corp");
    fs::create_directories(m_Home + "docs");
    WriteFile(m_Home + "Java/index.html", "<HTML>console</HTML>");
    WriteFile(m_Home + "Java/x/y.txt", "");
    fs::create_directories(m_Home + "Java/x");
    WriteFile(m_Home + "Java/y.txt", "why");
    WriteFile(m_Home + "corp/a.gif", "GIF89a");
    WriteFile(m_Home + "docs/manual.txt", "manual");
    WriteFile(m_Outside + "/secret.txt", "secret");
    fs::create_symlink(m_Outside + "/secret.txt", m_Home + "Java/link.txt");
    m_Settings.SetHomeDirectory(m_Home.c_str());
    m_Settings.SetCorpDirectory((m_Home + "corp").c_str());
    m_Settings.SetAdminPassword("");
    m_Settings.DeleteAdminServerPaths();
    m_Settings.DeleteFileAgentPaths();
  }

  // One request through a fresh server, on a real connection.
  Answer Ask(const std::string& request) {
    CAdminServer server(m_Settings, 5, &m_Console);
    testing_support::LoopbackPair pair;
    std::thread serve([&] {
      std::atomic<bool> stop{false};
      server.ServeConnection(pair.server, "127.0.0.1", std::chrono::steady_clock::now() + std::chrono::seconds(5), stop);
      pair.CloseServer();
    });
    platform::Send(pair.client, request.data(), static_cast<int>(request.size()), 0);
    std::string wire;
    char buffer[4096];
    for (int got; (got = platform::Recv(pair.client, buffer, sizeof(buffer), 0)) > 0;) wire.append(buffer, got);
    serve.join();
    const std::size_t end = wire.find("\r\n\r\n");
    if (end == std::string::npos) return {wire, ""};
    return {wire.substr(0, end + 2), wire.substr(end + 4)};
  }
  Answer Get(const std::string& path, const std::string& more = {}) {
    return Ask("GET " + path + " HTTP/1.0\r\n" + more + "\r\n");
  }

  const std::string m_Home = testing_support::MakeTempDir("adminhome") + "/";
  const std::string m_Outside = testing_support::MakeTempDir("outside");
  CPRegistry m_Settings;
  CConsoleContext m_Console;
};

TEST_F(AdminServerTest, DirectoriesRedirectAndServeTheirIndex) {
  const Answer admin = Get("/Admin");
  EXPECT_EQ(admin.head.substr(0, 13), "HTTP/1.0 302 ");
  EXPECT_TRUE(admin.Has("Location: /Admin/")) << admin.head;
  const Answer index = Get("/Admin/");
  EXPECT_EQ(index.head.substr(0, 13), "HTTP/1.0 200 ");
  EXPECT_TRUE(index.Has("Content-type: text/html")) << index.head;
  EXPECT_EQ(index.body, "<HTML>console</HTML>");
  EXPECT_EQ(index.head.find("Server: "), index.head.find("\r\n") + 2);

  // Case is ignored in the virtual path; the type comes from the extension.
  const Answer gif = Get("/ADMIN/CORP/a.gif");
  EXPECT_TRUE(gif.Has("Content-type: image/gif")) << gif.head;
  EXPECT_EQ(gif.body, "GIF89a");

  // HEAD: the head alone.
  const Answer head = Ask("HEAD /Admin/y.txt HTTP/1.0\r\n\r\n");
  EXPECT_EQ(head.head.substr(0, 13), "HTTP/1.0 200 ");
  EXPECT_TRUE(head.Has("Content-type: text/plain"));
  EXPECT_EQ(head.body, "");
}

TEST_F(AdminServerTest, PathsThatLeaveTheirDirectoryAreNotFound) {
  EXPECT_EQ(Get("/Admin/../../x").head.substr(0, 13), "HTTP/1.0 404 ");
  EXPECT_EQ(Get("/Admin/x/../y.txt").body, "why");
  EXPECT_EQ(Get("/Admin/./../../x").head.substr(0, 13), "HTTP/1.0 404 ");
  const Answer link = Get("/Admin/link.txt");
  EXPECT_EQ(link.head.substr(0, 13), "HTTP/1.0 404 ");
  EXPECT_EQ(link.body.find("secret"), std::string::npos);
  EXPECT_EQ(Get("/Admin/missing.txt").head.substr(0, 13), "HTTP/1.0 404 ");
}

TEST_F(AdminServerTest, BasicAuthenticationAgainstTheStoredPassword) {
  m_Settings.SetAdminPassword(admin_password::Store("admin:s3cret").c_str());
  const Answer none = Get("/Admin/");
  EXPECT_EQ(none.head.substr(0, 13), "HTTP/1.0 401 ");
  EXPECT_TRUE(none.Has("WWW-Authenticate: Basic realm=\"Zondrel Administration\"")) << none.head;
  EXPECT_EQ(none.body, "<BODY><H1>Authentication required to access the Zondrel Administration Server</H1></BODY>\n");
  const auto basic = [](const std::string& credentials) {
    return "Authorization: Basic " + CKiboFolder::Base64Encode(credentials) + "\r\n";
  };
  EXPECT_EQ(Get("/Admin/", basic("admin:wrong")).head.substr(0, 13), "HTTP/1.0 401 ");
  EXPECT_EQ(Get("/Admin/", basic("ADMIN:s3cret")).head.substr(0, 13), "HTTP/1.0 401 ");
  EXPECT_EQ(Get("/Admin/", basic("admin:s3cret")).body, "<HTML>console</HTML>");
  EXPECT_EQ(Get("/Admin/", "authorization: basic   " + CKiboFolder::Base64Encode("admin:s3cret") + "  \r\n").body,
            "<HTML>console</HTML>");
  EXPECT_EQ(admin_password::Recover(admin_password::Store("admin:s3cret")), "admin:s3cret");
}

TEST_F(AdminServerTest, TheConsoleApiAnswersEveryCallOverHttpBehindThePassword) {
  m_Settings.SetAdminPassword(admin_password::Store("admin:s3cret").c_str());
  m_Settings.SetTransactionLogDirectory((m_Home + "Log/").c_str());
  const std::string user = "Authorization: Basic " + CKiboFolder::Base64Encode("admin:s3cret") + "\r\n";
  const std::string marker = "X-Zondrel-Console: 1\r\n";
  const auto post = [&](const std::string& path, const std::string& body, const std::string& more) {
    return Ask("POST " + path + " HTTP/1.0\r\n" + more + "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" +
               body);
  };
  // Every reading call, with and without credentials. The channel objects
  // are not there: those calls say so (503) in JSON all the same.
  for (const auto& [path, status] : std::vector<std::pair<std::string, std::string>>{
           {"/api/status", "200"}, {"/api/settings", "200"}, {"/api/flash", "503"}, {"/api/corp", "503"},
           {"/api/redirect", "503"}, {"/api/logs", "200"}, {"/api/logs/analysis", "200"},
           {"/api/relays", "200"}, {"/api/nothing", "404"}}) {
    EXPECT_EQ(Get(path).head.substr(9, 3), "401") << path;
    const Answer answer = Get(path, user);
    EXPECT_EQ(answer.head.substr(9, 3), status) << path << answer.body;
    EXPECT_TRUE(answer.Has("Content-type: application/json")) << path << answer.head;
    EXPECT_EQ(answer.body.front(), '{') << path;
  }
  // Changing calls need the credentials and the marker.
  for (const auto& [path, body] : std::vector<std::pair<std::string, std::string>>{
           {"/api/settings", R"({"name": "RecvTimeout", "value": 21})"},
           {"/api/flash", R"({"text": "x"})"},
           {"/api/corp", R"({"text": "NAME=x"})"},
           {"/api/redirect", R"({"text": "x"})"},
           {"/api/actions/BuildCorpFile", "{}"},
           {"/api/cache-dump", "{}"},
           {"/api/diagnostics", R"({"category": "5-0", "target": "relay"})"}}) {
    EXPECT_EQ(post(path, body, marker).head.substr(9, 3), "401") << path;
    EXPECT_EQ(post(path, body, user).head.substr(9, 3), "403") << path;
    EXPECT_NE(post(path, body, user + marker).head.substr(9, 1), "4") << path;
  }
  EXPECT_EQ(m_Settings.GetRecvTimeout(), 21u);
  EXPECT_EQ(post("/api/settings", "{", user + marker).head.substr(9, 3), "400");
}

TEST_F(AdminServerTest, MethodsOtherThanGetAndHead) {
  EXPECT_EQ(Ask("POST /Admin/ HTTP/1.0\r\nContent-Length: 2\r\n\r\nhi").head.substr(0, 13), "HTTP/1.0 405 ");
  EXPECT_EQ(Ask("DELETE /Admin/y.txt HTTP/1.0\r\n\r\n").head.substr(0, 13), "HTTP/1.0 405 ");
  EXPECT_EQ(Ask("BREW /Admin/ HTTP/1.0\r\n\r\n").head.substr(0, 13), "HTTP/1.0 501 ");
}

TEST_F(AdminServerTest, PathTableChoosesTheMostSpecificHandler) {
  CAdminServer builtIn(m_Settings, 5);
  EXPECT_EQ(builtIn.HandlerFor("/admin/corp/x.htm"), CAdminServer::kFileHandler);
  EXPECT_EQ(builtIn.HandlerFor("/Administrator"), CAdminServer::kErrorHandler);
  EXPECT_EQ(builtIn.HandlerFor("/"), CAdminServer::kFileHandler);
  EXPECT_EQ(builtIn.HandlerFor("/docs/manual.txt"), CAdminServer::kErrorHandler);
  EXPECT_EQ(Get("/Administrator").head.substr(0, 13), "HTTP/1.0 404 ");

  m_Settings.SetAdminServerPaths({"/docs,1", " /Admin , 0 ", "/one", "/a,1,2", "/free,3"});
  m_Settings.SetFileAgentPaths({"/docs," + m_Home + "docs", "bad"});
  CAdminServer configured(m_Settings, 5);
  EXPECT_EQ(configured.HandlerFor("/docs/manual.txt"), CAdminServer::kFileHandler);
  EXPECT_EQ(configured.HandlerFor("/Admin/y.txt"), CAdminServer::kErrorHandler);
  EXPECT_EQ(configured.HandlerFor("/Admin/Corp/a.gif"), CAdminServer::kFileHandler);
  EXPECT_EQ(configured.HandlerFor("/free"), CAdminServer::kErrorHandler);  // no handler in slot 3
  EXPECT_EQ(Get("/docs/manual.txt").body, "manual");
}

TEST_F(AdminServerTest, ContentTypesComeFromTheMachineRegistryFirst) {
  EXPECT_EQ(CFileAgent::ContentType("a/b.HTM"), "text/html");
  EXPECT_EQ(CFileAgent::ContentType("a.b/c"), "application/octet-stream");
  EXPECT_EQ(CFileAgent::ContentType("x.weird"), "application/octet-stream");
  QRRegistry key(QRRegistry(platform::HKEY_CLASSES_ROOT), ".weird", nullptr);
  ASSERT_TRUE(key.Open(1));
  ASSERT_TRUE(key.SetValue("Content Type", "application/x-weird", platform::REG_SZ));
  key.Close(1);
  EXPECT_EQ(CFileAgent::ContentType("x.weird"), "application/x-weird");
}

TEST_F(AdminServerTest, EveryRequestIsLogged) {
  m_Settings.SetTransactionLogDirectory((m_Home + "Log/").c_str());
  {
    Get("/Admin/");
    Get("/Administrator");
    // A change names its user ("alice:pw").
    Ask("POST /Admin/y.txt HTTP/1.0\r\nAuthorization: Basic YWxpY2U6cHc=\r\nContent-Length: 0\r\n\r\n");
  }
  std::string log;
  for (int i = 0; i < 100 && log.find("user=alice") == std::string::npos; ++i) {
    log = testing_support::ReadFile(m_Home + "Log/Adm00001.log");
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  EXPECT_NE(log.find("c-ip date time cs-method cs-uri sc-status bytes time-taken x-agent\r\n"), std::string::npos)
      << log;
  EXPECT_NE(log.find(" GET /Admin/ 200 "), std::string::npos) << log;
  EXPECT_NE(log.find(" GET /Administrator 404 "), std::string::npos) << log;
  EXPECT_NE(log.find(" POST /Admin/y.txt?user=alice 405 "), std::string::npos) << log;
}

}  // namespace
