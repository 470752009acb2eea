// The corporate channel through the running relay: every file of the
// channel answered from memory and logged with the corporate agent's kind,
// and a rebuild forced from another process.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "conn/conn_testing.h"
#include "conn/relay_process_testing.h"
#include "platform/sync.h"
#include "platform/testing.h"

namespace {

using conn_testing::Exchange;
using conn_testing::LogLine;
using Relay = conn_testing::RelayProcess;

constexpr std::size_t kStatus = 5;
constexpr std::size_t kAgent = 8;

const std::string kCorpDat =
    "NAME=Acme News\r\nDV_LOGO=dvlogo.gif\r\nAD_LOGO=adlogo.gif\r\nDV_FILE=doze.anm\r\nFLASH_FILE=flash.dat\r\n"
    "GROUP_FILE=g1.dat,,\r\n";
const std::string kGroup = "GROUP=Company\r\nDOC_ID=1\r\nDOC_SUBJECT=Hello\r\nDOC_SUMMARY=<p>hi</p>\r\nDOC_SUMMARY_END\r\n";

std::string Get(const Relay& relay, const std::string& target) {
  return Exchange(relay.Port(), "GET " + target + " HTTP/1.0\r\n\r\n");
}

std::string Body(const std::string& answer) {
  const std::size_t end = answer.find("\r\n\r\n");
  return end == std::string::npos ? std::string() : answer.substr(end + 4);
}

TEST(RelayCorporateChannel, ServesEveryFileOfTheChannelAndLogsTheCorporateAgent) {
  Relay relay;
  ASSERT_TRUE(relay.Start({.recvTimeoutSeconds = 2,
                           .homeFiles = {{"corp/corp.dat", kCorpDat},
                                         {"corp/GROUPS/g1.dat", kGroup},
                                         {"corp/dvlogo.gif", "DV-LOGO-BYTES"},
                                         {"corp/doze.anm", "DOZE-BYTES"},
                                         {"corp/flash.dat", "Flash: markets up"},
                                         {"corp/g1A2B8.dat", "a group file"}}}));
  const std::string corp = Get(relay, "/KIBO-1/66816-1?data_file");
  ASSERT_EQ(corp.rfind("HTTP/1.0 200 ", 0), 0u) << corp;
  EXPECT_NE(Body(corp).find("SRC:corp.dat"), std::string::npos);
  EXPECT_NE(Body(corp).find("NAME=Acme News\r\n"), std::string::npos);
  EXPECT_NE(Body(corp).find(kGroup), std::string::npos);

  EXPECT_NE(Body(Get(relay, "/KIBO-1/66816-1?dvlogo_file")).find("DV-LOGO-BYTES"), std::string::npos);
  EXPECT_NE(Body(Get(relay, "/KIBO-1/66816-1?doze_file")).find("DOZE-BYTES"), std::string::npos);
  EXPECT_NE(Body(Get(relay, "/KIBO-1/67072-1")).find("Flash: markets up"), std::string::npos);
  EXPECT_NE(Body(Get(relay, "/KIBO-1/66816-1?g1A2B8.dat")).find("a group file"), std::string::npos);
  EXPECT_EQ(Get(relay, "/KIBO-1/66816-1?adlogo_file").rfind("HTTP/1.0 204 No data\r\n", 0), 0u);
  EXPECT_EQ(Get(relay, "/KIBO-1/66816-1?\"../corp/corp.dat\"").rfind("HTTP/1.0 204 File not found.\r\n", 0), 0u);
  ASSERT_EQ(relay.Stop(), 0);

  const std::string log = relay.LogText();
  const std::vector<std::pair<std::string, std::string>> expected = {
      {"/KIBO-1/66816-1?data_file", "200"}, {"/KIBO-1/66816-1?dvlogo_file", "200"},
      {"/KIBO-1/66816-1?doze_file", "200"}, {"/KIBO-1/67072-1", "200"},
      {"/KIBO-1/66816-1?g1A2B8.dat", "200"}, {"/KIBO-1/66816-1?adlogo_file", "204"}};
  for (const auto& [uri, status] : expected) {
    const std::vector<std::string> fields = LogLine(log, uri);
    ASSERT_GT(fields.size(), kAgent) << uri << "\n" << log;
    EXPECT_EQ(fields[kStatus], status) << uri;
    EXPECT_EQ(fields[kAgent], "1") << uri;
  }
}

TEST(RelayCorporateChannel, TheNamedEventMakesAnEditedCorpDatVisibleAtOnce) {
  Relay relay;
  ASSERT_TRUE(relay.Start({.recvTimeoutSeconds = 2, .homeFiles = {{"corp/corp.dat", kCorpDat}}}));
  ASSERT_NE(Body(Get(relay, "/KIBO-1/66816-1?data_file")).find("NAME=Acme News"), std::string::npos);

  testing_support::WriteFile(relay.Home() + "corp/corp.dat", "NAME=Renamed\r\n" + kCorpDat.substr(kCorpDat.find("DV_LOGO")));
  // The update period is ten minutes: only the event can bring it now.
  const auto set = testing_support::Run({testing_support::ProgramPath("zondrelctl"), "event", "set", "BuildCorpFile"});
  ASSERT_EQ(set.exit_code, 0) << set.error;
  bool renamed = false;
  for (int i = 0; i < 100 && !renamed; ++i) {
    renamed = Body(Get(relay, "/KIBO-1/66816-1?data_file")).find("NAME=Renamed") != std::string::npos;
    if (!renamed) platform::Sleep(50);
  }
  EXPECT_TRUE(renamed);
  EXPECT_EQ(relay.Stop(), 0);
}

}  // namespace
