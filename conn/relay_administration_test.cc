// The administration ports of the running relay: the web server on its
// listen address only, and the Java administration protocol changing what
// the viewers get, driven by zondrelctl's client from another process.
#include <string>

#include <gtest/gtest.h>

#include "conn/conn_testing.h"
#include "conn/relay_process_testing.h"
#include "platform/socket.h"
#include "platform/sync.h"
#include "platform/testing.h"
#include "upstream/scripted_server_testing.h"

namespace {

using Relay = conn_testing::RelayProcess;

std::string Body(const std::string& answer) {
  const std::size_t end = answer.find("\r\n\r\n");
  return end == std::string::npos ? std::string() : answer.substr(end + 4);
}

TEST(RelayAdministration, TheJavaPortChangesWhatTheViewersGet) {
  const unsigned webPort = upstream_testing::FreeLoopbackPort();
  const unsigned javaPort = upstream_testing::FreeLoopbackPort();
  Relay::Settings settings;
  settings.recvTimeoutSeconds = 5;
  settings.homeFiles = {{"corp/corp.dat", "NAME=Acme\r\nDV_LOGO=d\r\nAD_LOGO=a\r\nDV_FILE=f\r\nFLASH_FILE=flash.dat\r\n"},
                        {"corp/flash.dat", "Last Updated On : then\r\nOld news\r\n"},
                        {"Java/index.html", "<HTML>console</HTML>"}};
  settings.configure = [&](CPRegistry& registry, const std::string&) {
    registry.SetWebPort(webPort);
    registry.SetJavaPort(javaPort);
    registry.SetAdminListenAddress("127.0.0.2");
  };
  Relay relay;
  ASSERT_TRUE(relay.Start(settings));
  ASSERT_TRUE(upstream_testing::WaitForPort(0x7F000002, static_cast<unsigned short>(webPort), std::chrono::seconds(10)));

  // The administration ports listen on their own address only.
  const std::string index =
      upstream_testing::ExchangeWith(0, 0x7F000002, static_cast<unsigned short>(webPort), "GET /Admin/ HTTP/1.0\r\n\r\n");
  EXPECT_EQ(Body(index), "<HTML>console</HTML>") << index;
  EXPECT_EQ(upstream_testing::ExchangeWith(0, 0x7F000001, static_cast<unsigned short>(webPort),
                                           "GET /Admin/ HTTP/1.0\r\n\r\n"),
            "");

  // The flash text posted with the client reaches the viewers at once.
  const std::string file = relay.Home() + "new-flash.txt";
  testing_support::WriteFile(file, "first line goes\r\nMarkets up\r\n");
  const auto java = [&](std::vector<std::string> words) {
    std::vector<std::string> argv = {testing_support::ProgramPath("zondrelctl"), "java", "--host", "127.0.0.2",
                                     "--port", std::to_string(javaPort)};
    argv.insert(argv.end(), words.begin(), words.end());
    return testing_support::Run(argv);
  };
  const auto put = java({"put-flash", file});
  ASSERT_EQ(put.exit_code, 0) << put.error;
  bool shown = false;
  for (int i = 0; i < 100 && !shown; ++i) {
    const std::string flash = Body(conn_testing::Exchange(relay.Port(), "GET /KIBO-1/67072-1 HTTP/1.0\r\n\r\n"));
    shown = flash.find("Last Updated On : ") != std::string::npos && flash.find("Markets up\r\n") != std::string::npos;
    if (!shown) platform::Sleep(50);
  }
  EXPECT_TRUE(shown);
  const auto got = java({"get-flash"});
  EXPECT_EQ(got.output.substr(got.output.find("\r\n")), "\r\nMarkets up\r\n");
  const auto corp = java({"get-corp"});
  EXPECT_EQ(corp.output.rfind("NAME=Acme\r\n", 0), 0u) << corp.error;
  EXPECT_EQ(java({"corp-enabled"}).output, "1\n");
  EXPECT_EQ(relay.Stop(), 0);
}

}  // namespace
