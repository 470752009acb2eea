// Houses whose source is a URL: mirrored from a real web server on loopback,
// started from the mirror when the source cannot be reached, and loaded in
// the background when the source answers late.
#include "channels/generic_house.h"

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "base/eventually_testing.h"
#include "channels/house_testing.h"
#include "platform/testing.h"
#include "upstream/peer_process_testing.h"
#include "upstream/scripted_server_testing.h"
#include "upstream/web_server_testing.h"

namespace {

using house_testing::TestHouse;
using poolmgr_testing::Eventually;
using upstream_testing::ScriptedServer;
using upstream_testing::WebServer;
namespace fs = std::filesystem;

TEST(GenericHouseURL, AnUnreachableSourceAtStartLoadsTheLocalMirror) {
  const std::string dir = testing_support::MakeTempDir("house");
  const std::string url =
      "http://127.0.0.1:" + std::to_string(upstream_testing::FreeLoopbackPort()) + "/house.dat";

  TestHouse bare(url, dir + "/none.dat", house_testing::Settings());
  EXPECT_EQ(bare.Initialize(), -1);
  EXPECT_FALSE(bare.IsInitialized());

  testing_support::WriteFile(dir + "/mirror.dat", "last run's table");
  TestHouse house(url, dir + "/mirror.dat", house_testing::Settings());
  EXPECT_EQ(house.Initialize(), 0);
  EXPECT_TRUE(house.IsInitialized());
  EXPECT_EQ(house.GetDataString(), "last run's table");
  // Once loaded, a reload asks the source only.
  fs::remove(dir + "/mirror.dat");
  EXPECT_FALSE(house.ReadFiles());
  EXPECT_EQ(house.GetDataString(), "last run's table");
}

class GenericHouseWebServer : public ::testing::Test {
 protected:
  void SetUp() override {
    if (WebServer::Program(WebServer::Kind::kLighttpd).empty()) {
      GTEST_SKIP() << "lighttpd is not installed (Debian package lighttpd)";
    }
    ASSERT_TRUE(web_.Start(WebServer::Kind::kLighttpd)) << web_.ErrorLog();
  }
  WebServer web_;
};

TEST_F(GenericHouseWebServer, TheSourceIsMirroredAndTheMirrorServesTheNextStart) {
  testing_support::WriteFile(web_.Root() + "house.dat", "edition 1\n");
  const std::string url = web_.Url("/house.dat");
  const std::string mirror = testing_support::MakeTempDir("house") + "/mirror.dat";
  {
    TestHouse house(url, mirror, house_testing::Settings());
    ASSERT_EQ(house.Initialize(), 0);
    EXPECT_EQ(house.GetDataString(), "edition 1\n");
    EXPECT_EQ(testing_support::ReadFile(mirror), "edition 1\n");

    // Newer than the fetched copy, so it is sent again.
    testing_support::WriteFile(web_.Root() + "house.dat", "edition 2\n");
    fs::last_write_time(web_.Root() + "house.dat", fs::file_time_type::clock::now() + std::chrono::hours(1));
    EXPECT_TRUE(house.ReadFiles());
    EXPECT_EQ(house.GetDataString(), "edition 2\n");

    web_.Stop();
    EXPECT_FALSE(house.ReadFiles());
    EXPECT_EQ(house.GetDataString(), "edition 2\n");
  }
  // The server is gone: the next start serves what the first load mirrored.
  TestHouse restarted(url, mirror, house_testing::Settings());
  EXPECT_EQ(restarted.Initialize(), 0);
  EXPECT_EQ(restarted.GetDataString(), "edition 1\n");
}

TEST(GenericHouseURL, ASourceThatAnswersLateIsLoadedInTheBackground) {
  const std::string mirror = testing_support::MakeTempDir("house") + "/mirror.dat";
  ScriptedServer server(
      [](platform::SOCKET client, const std::string&) {
        std::this_thread::sleep_for(std::chrono::seconds(CGenericHouse::kInitializeWaitSeconds + 1));
        ScriptedServer::SendAll(client, "HTTP/1.0 200 OK\r\nContent-Length: 9\r\n\r\nlate news");
      },
      true);
  TestHouse house("http://127.0.0.1:" + std::to_string(server.Port()) + "/late.dat", mirror,
                  house_testing::Settings(20));
  EXPECT_EQ(house.Initialize(), -1);
  EXPECT_TRUE(Eventually([&] { return house.IsInitialized(); }, std::chrono::seconds(15)));
  EXPECT_EQ(house.GetDataString(), "late news");
  EXPECT_TRUE(Eventually([&] { return fs::exists(mirror); }));
  EXPECT_EQ(house.Initialize(), 0);
}

}  // namespace
