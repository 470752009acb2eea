#include "redirect/redirection_map.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/hosts_file.h"
#include "platform/testing.h"
#include "redirect/redirect_csv.h"
#include "upstream/scripted_server_testing.h"

namespace {

using redirect::Block;

// A relay named "relay9" on 10.9.9.9:8080; the servers of the tables below
// have names in the machine's hosts file.
RedirectionIdentity TestIdentity(const std::string& address = "10.9.9.9") {
  testing_support::WriteFile(testing_support::TestRoot() + "/etc/hosts",
                             "127.0.0.1 localhost\n10.9.9.9 relay9\n10.0.0.1 alpha\n10.0.0.2 beta\n10.0.0.3 gamma\n");
  RedirectionIdentity identity;
  identity.hostName = "relay9";
  std::uint32_t own = 0;
  platform::ParseDottedAddress(address, &own);
  identity.ownAddresses = {own};
  identity.address = address;
  identity.ports = {8080};
  return identity;
}

class RedirectionMapTest : public ::testing::Test {
 protected:
  void SetUp() override { std::filesystem::create_directories(testing_support::TestRoot() + "/etc"); }
  int Install(CRedirectionMap& map, const std::string& table) {
    return map.SetRedirectCsv(table.data(), static_cast<platform::DWORD>(table.size()));
  }
  CPRegistry m_Settings;
};

const char* const kHeader = "Acme, 10.0.0.1, 10.0.0.2, 10.0.0.3\r\n10.0.0.1, 8080, 8081|8082, (8083)\r\n";

std::string Server(int number, const std::string& address, const std::string& name) {
  const std::string n = std::to_string(number);
  return "Address" + n + "=" + address + "\r\nName" + n + "=" + name + "\r\n";
}

const std::string kAnswerHead = "[DataCenter]\r\nName=Acme\r\nUsageMode=1\r\n";

TEST_F(RedirectionMapTest, LongestPrefixWinsAndAllOthersCoversTheRest) {
  CRedirectionMap map(m_Settings, TestIdentity());
  ASSERT_EQ(Install(map, std::string(kHeader) + "10.0.0.0/8, x\r\n10.1.0.0/16, , x\r\nall others, , , x\r\n"), 1);
  EXPECT_EQ(map.BuildRedirectAnswer("10.1.2.3"), kAnswerHead + Server(1, "10.0.0.2:(8081,8082)", "beta"));
  EXPECT_EQ(map.BuildRedirectAnswer("10.2.0.1"), kAnswerHead + Server(1, "10.0.0.1:(8080)", "alpha"));
  EXPECT_EQ(map.BuildRedirectAnswer("192.168.0.1"), kAnswerHead + Server(1, "10.0.0.3:(8083)", "gamma"));
  // Not an address: only "all others" can cover it.
  EXPECT_EQ(map.BuildRedirectAnswer("not-an-address"), kAnswerHead + Server(1, "10.0.0.3:(8083)", "gamma"));
  EXPECT_EQ(map.CompanyName(), "Acme");
  EXPECT_EQ(map.MasterAddress(), "10.0.0.1");
  EXPECT_FALSE(map.IsMaster());
}

TEST_F(RedirectionMapTest, KeysAreStoredInCanonicalForm) {
  CRedirectionMap map(m_Settings, TestIdentity());
  ASSERT_EQ(Install(map, std::string(kHeader) +
                             "10.1.0.0/8, x\r\n172.16.5.0/20, x\r\n192.168.1.7, , x\r\n"
                             "10.0.0.1-10.0.0.6, , , x\r\n0.0.0.0/0, x\r\n"),
            1);
  const std::vector<std::pair<std::string, std::string>> expected = {
      {"0/0", "x"},           {"10.0.0.1/32", "  x"}, {"10.0.0.2/31", "  x"}, {"10.0.0.4/31", "  x"},
      {"10.0.0.6/32", "  x"}, {"10/8", "x"},          {"172.16.0/20", "x"},     {"192.168.1.7/32", " x"},
  };
  EXPECT_EQ(map.Entries(), expected);
  const CRedirectionMap::Statistics stats = map.GetStatistics();
  EXPECT_EQ(stats.keys, 8u);
  EXPECT_EQ(stats.smallest, 0);
  EXPECT_EQ(stats.largest, 32);
  EXPECT_EQ(stats.lengthsInUse, (1u << 7) | (1u << 19) | (1u << 30) | (1u << 31));
  // 0/0 alone covers every address; the rest add to it.
  EXPECT_EQ(stats.addressesCovered, (1ull << 32) + (1ull << 24) + (1ull << 12) + 1 + 2 + 2 + 1 + 1);
  // 0/0 catches what nothing longer does.
  EXPECT_EQ(map.BuildRedirectAnswer("8.8.8.8"), kAnswerHead + Server(1, "10.0.0.1:(8080)", "alpha"));
  EXPECT_EQ(map.BuildRedirectAnswer("10.0.0.3"), kAnswerHead + Server(1, "10.0.0.3:(8083)", "gamma"));
}

TEST_F(RedirectionMapTest, RangesBecomeTheSmallestSetOfBlocks) {
  std::vector<Block> blocks;
  ASSERT_TRUE(redirect::RangeToBlocks("10.0.0.1-10.0.0.6", blocks));
  EXPECT_EQ(blocks, (std::vector<Block>{{0x0A000001, 32}, {0x0A000002, 31}, {0x0A000004, 31}, {0x0A000006, 32}}));
  ASSERT_TRUE(redirect::RangeToBlocks("0.0.0.0-255.255.255.255", blocks));
  EXPECT_EQ(blocks, (std::vector<Block>{{0, 0}}));
  ASSERT_TRUE(redirect::RangeToBlocks("10.0.0.7 - 10.0.0.7", blocks));
  EXPECT_EQ(blocks, (std::vector<Block>{{0x0A000007, 32}}));
  // The worst case there is: 62 blocks.
  ASSERT_TRUE(redirect::RangeToBlocks("0.0.0.1-255.255.255.254", blocks));
  EXPECT_EQ(blocks.size(), 62u);
  EXPECT_FALSE(redirect::RangeToBlocks("10.0.0.6-10.0.0.1", blocks));
  EXPECT_FALSE(redirect::RangeToBlocks("10.0.0.1-10.0.0", blocks));
  EXPECT_FALSE(redirect::RangeToBlocks("10.0.0.1-10.0.0.256", blocks));
  EXPECT_FALSE(redirect::RangeToBlocks("10.0.0.1-", blocks));
}

TEST_F(RedirectionMapTest, AKeyGivenTwiceGetsTheUnionOfItsMarks) {
  CRedirectionMap map(m_Settings, TestIdentity());
  ASSERT_EQ(Install(map, std::string(kHeader) + "10.5/16, x\r\n10.5.0.0/16, , , x\r\nALL OTHERS, x\r\nall others, , x\r\n"), 1);
  EXPECT_EQ(map.BuildRedirectAnswer("10.5.1.1"),
            kAnswerHead + Server(1, "10.0.0.1:(8080)", "alpha") + Server(2, "10.0.0.3:(8083)", "gamma"));
  EXPECT_EQ(map.BuildRedirectAnswer("1.2.3.4"),
            kAnswerHead + Server(1, "10.0.0.1:(8080)", "alpha") + Server(2, "10.0.0.2:(8081,8082)", "beta"));
}

TEST_F(RedirectionMapTest, AClientNoKeyCoversGetsNothingWithoutADefault) {
  CRedirectionMap map(m_Settings, TestIdentity());
  ASSERT_EQ(Install(map, std::string(kHeader) + "10/8, x\r\n"), 1);
  EXPECT_EQ(map.BuildRedirectAnswer("11.0.0.1"), "");
  EXPECT_EQ(map.BuildRedirectAnswer(""), "");
  // An empty map answers nobody.
  CRedirectionMap empty(m_Settings, TestIdentity());
  EXPECT_EQ(empty.BuildRedirectAnswer("10.0.0.1"), "");
}

TEST_F(RedirectionMapTest, ABadKeyDropsOnlyItsOwnLine) {
  CRedirectionMap map(m_Settings, TestIdentity());
  ASSERT_EQ(Install(map, std::string(kHeader) +
                             "10.256.0.0/16, x\r\n10.3.0.0/33, x\r\nintranet.example, x\r\n10.1.2.3.4, x\r\n"
                             "10..1, x\r\n-, x\r\n10.4/-1, x\r\n, x\r\n10.7.0.0/16, , x\r\n10.8, , , x\r\n"),
            1);
  // Fewer octets: the missing ones are 0 and the length follows the octets given.
  const std::vector<std::pair<std::string, std::string>> expected = {{"10.7/16", " x"}, {"10.8/16", "  x"}};
  EXPECT_EQ(map.Entries(), expected);
  Block block;
  ASSERT_TRUE(redirect::ParseAddressKey("10", block));
  EXPECT_EQ(block, (Block{0x0A000000, 8}));
  ASSERT_TRUE(redirect::ParseAddressKey("10.1.2/30", block));
  EXPECT_EQ(block, (Block{0x0A010200, 30}));
  EXPECT_FALSE(redirect::ParseAddressKey("1000.1.2.3", block));
  EXPECT_FALSE(redirect::ParseAddressKey("10.1.2.3/", block));
  EXPECT_FALSE(redirect::ParseAddressKey("10.1.2.3/100", block));
}

TEST_F(RedirectionMapTest, AnInvalidTableChangesNothing) {
  CRedirectionMap map(m_Settings, TestIdentity());
  ASSERT_EQ(Install(map, std::string(kHeader) + "all others, x\r\n"), 1);
  EXPECT_EQ(Install(map, "Acme, a, b\r\n"), 0);
  EXPECT_EQ(Install(map, "Acme, a, b\r\nmaster, 1\r\nall others, x\r\n"), 0);
  EXPECT_EQ(Install(map, ""), 0);
  EXPECT_EQ(map.BuildRedirectAnswer("1.1.1.1"), kAnswerHead + Server(1, "10.0.0.1:(8080)", "alpha"));
  // Too many server columns.
  std::string wide = "Acme", ports = "m";
  for (int i = 0; i <= static_cast<int>(redirect::kMaxServers); ++i) {
    wide += ", h" + std::to_string(i);
    ports += ", 80";
  }
  EXPECT_FALSE(redirect::HeaderIsValid(wide + "\r\n" + ports + "\r\n"));
  EXPECT_FALSE(redirect::HeaderIsValid(std::string(kHeader) + std::string(redirect::kMaxTableBytes, ' ')));
  // Bare line feeds end lines too.
  EXPECT_EQ(Install(map, "Acme, 10.0.0.2\nm, 9000\nall others, x\n"), 1);
  EXPECT_EQ(map.BuildRedirectAnswer("1.1.1.1"), kAnswerHead + Server(1, "10.0.0.2:(9000)", "beta"));
}

TEST_F(RedirectionMapTest, ThisServerInTheAnswerAddsTheChannelFlags) {
  CRedirectionMap map(m_Settings, TestIdentity("10.0.0.2"));
  ASSERT_EQ(Install(map, std::string(kHeader) + "10/8, x, x\r\nall others, x\r\n"), 1);
  EXPECT_EQ(map.GetStatistics().serverIndex, 1);
  EXPECT_EQ(map.BuildRedirectAnswer("10.0.0.9"),
            "[DataCenter]\r\nEnableCorpChannel=1\r\nEnableDominoChannel=0\r\nName=Acme\r\nUsageMode=1\r\n" +
                Server(1, "10.0.0.1:(8080)", "alpha") + Server(2, "10.0.0.2:(8081,8082)", "beta"));
  EXPECT_EQ(map.BuildRedirectAnswer("11.0.0.1"), kAnswerHead + Server(1, "10.0.0.1:(8080)", "alpha"));
}

TEST_F(RedirectionMapTest, DesignatorsAndTheDefaultTable) {
  const redirect::Designator designator = redirect::ParseDesignator(" zmaster:(8080, 8081|8082 x 70000) ");
  EXPECT_EQ(designator.host, "zmaster");
  EXPECT_EQ(designator.ports, (std::vector<int>{8080, 8081, 8082}));
  EXPECT_EQ(redirect::ParseDesignator("zmaster").FirstPort(), -1);
  RedirectionIdentity identity = TestIdentity();
  identity.ports = {8080, 9090};
  EXPECT_EQ(identity.Designator(), "relay9:(8080,9090)");
  EXPECT_EQ(identity.DefaultMasterTable(), "My Company, relay9\r\nrelay9, 8080|9090\r\nall others, x\r\n");
}

// The master posts each new table to every server that is not itself, with
// the exact request head, and notes the master's designator.
TEST_F(RedirectionMapTest, TheMasterPostsANewTableToEachSlave) {
  std::string body;
  upstream_testing::ScriptedServer slave(
      [&](platform::SOCKET client, const std::string& head) {
        const std::size_t at = head.find("Content-Length: ");
        const std::size_t length = at == std::string::npos ? 0 : std::stoul(head.substr(at + 16));
        body = upstream_testing::ScriptedServer::ReceiveExactly(client, length);
        upstream_testing::ScriptedServer::SendAll(client, "HTTP/1.0 204 Successful receipt of redirect.dat\r\n\r\n");
      },
      true);
  ASSERT_NE(slave.Port(), 0u);
  CRedirectionMap map(m_Settings, TestIdentity());
  const std::string table = "Acme, 10.9.9.9, 127.0.0.1\r\n10.9.9.9, 8080, " + std::to_string(slave.Port()) +
                            "\r\nall others, x\r\n";
  ASSERT_EQ(Install(map, table), 1);
  EXPECT_TRUE(map.IsMaster());
  ASSERT_EQ(slave.Requests().size(), 1u);
  EXPECT_EQ(slave.Requests()[0],
            "POST /KIBO-1/66560-1?redirect.csv HTTP/1.0\r\nContent-Length: " + std::to_string(table.size()) +
                "\r\nQRNReqType:4\r\n"
            "User-Agent:QRNviewer\r\nAccept: application/octet-stream; q=0.1\r\n"
            "Content-type:application/octet-stream\r\n\r\n");
  EXPECT_EQ(body, table);
  EXPECT_EQ(map.MasterDesignator(), "10.9.9.9:(8080)");
  EXPECT_EQ(CPRegistry().GetRedirectionMasterZondrel(), "10.9.9.9:(8080)");
}

TEST_F(RedirectionMapTest, TheDefaultTableLeavesTheConfiguredMasterAlone) {
  CPRegistry settings;
  settings.SetRedirectionMasterZondrel("zmaster:(8080)");
  CRedirectionMap map(m_Settings, TestIdentity());
  ASSERT_EQ(Install(map, map.Identity().DefaultMasterTable()), 1);
  EXPECT_TRUE(map.IsMaster());
  EXPECT_EQ(CPRegistry().GetRedirectionMasterZondrel(), "zmaster:(8080)");
}

}  // namespace
