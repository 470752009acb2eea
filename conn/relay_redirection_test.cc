// Redirection between relays: a master and two slaves on one machine, each
// on a machine root of its own (its own registry, computer name and
// loopback address), with one hosts file naming all three.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>

#include "base/eventually_testing.h"
#include "conn/relay_process_testing.h"
#include "platform/testing.h"
#include "upstream/peer_process_testing.h"

namespace {

using conn_testing::RelayProcess;
using poolmgr_testing::Eventually;
using upstream_testing::ExchangeWith;

constexpr std::uint32_t kMaster = 0x7F00000B;  // 127.0.0.11
constexpr std::uint32_t kSlave1 = 0x7F00000C;
constexpr std::uint32_t kSlave2 = 0x7F00000D;
constexpr std::uint32_t kViewerOfSlave1 = 0x7F000041;  // 127.0.0.65, in 127.0.0.64/26
constexpr std::uint32_t kStranger = 0x7F0000C8;        // 127.0.0.200, in no block

const char* const kHosts = "127.0.0.11 zmaster\n127.0.0.12 zslave1\n127.0.0.13 zslave2\n";

class RelayRedirectionTest : public ::testing::Test {
 protected:
  void SetUp() override { m_Port = static_cast<unsigned short>(upstream_testing::FreeLoopbackPort()); }

  // A machine named `name` on `address`; its master is zmaster.
  bool StartRelay(RelayProcess& relay, const std::string& name, const std::string& address,
                  const std::string& more = {}) {
    const std::string root = testing_support::MakeTempDir("machine-" + name);
    std::filesystem::create_directories(root + "/etc");
    testing_support::WriteFile(root + "/etc/hosts", kHosts);
    RelayProcess::Settings settings;
    settings.machineRoot = root;
    settings.listenAddress = address;
    settings.port = m_Port;
    settings.regText =
        "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\ComputerName\\ComputerName]\r\n"
        "\"ComputerName\"=\"" + name + "\"\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Orrinvale\\Zondrel]\r\n"
        "\"RedirectionMasterZondrel\"=\"zmaster:(" + std::to_string(m_Port) + ")\"\r\n"
        "\"TraceFilename\"=\"" + root + "/trace\"\r\n" + more;
    m_Roots[name] = root;
    return relay.Start(settings);
  }
  std::string Ask(std::uint32_t from, std::uint32_t relay, const std::string& request) {
    return ExchangeWith(from, relay, m_Port, request);
  }
  std::string Redirection(std::uint32_t from, std::uint32_t relay) {
    return Ask(from, relay, "GET /KIBO-1/66560-1 HTTP/1.0\r\n\r\n");
  }
  std::string Post(std::uint32_t from, std::uint32_t relay, const std::string& table) {
    return Ask(from, relay,
               "POST /KIBO-1/66560-1?redirect.csv HTTP/1.0\r\nContent-Length: " + std::to_string(table.size()) +
                   "\r\n\r\n" + table);
  }
  std::string Table(const std::string& company) {
    const std::string p = std::to_string(m_Port);
    return company + ", zmaster, zslave1, zslave2\r\nzmaster, " + p + ", " + p + ", " + p +
           "\r\n127.0.0.64/26, , x\r\n127.0.0.128-127.0.0.191, , , x\r\nall others, x\r\n";
  }
  std::string Servers(int number, const std::string& address, const std::string& name) {
    const std::string n = std::to_string(number);
    return "Address" + n + "=" + address + ":(" + std::to_string(m_Port) + ")\r\nName" + n + "=" + name + "\r\n";
  }

  unsigned short m_Port = 0;
  std::map<std::string, std::string> m_Roots;
};

TEST_F(RelayRedirectionTest, ASlaveWithoutCacheOrMasterServesTheDefaultTableNamingItself) {
  RelayProcess slave;
  ASSERT_TRUE(StartRelay(slave, "zslave1", "127.0.0.12"));
  const std::string answer = Redirection(kViewerOfSlave1, kSlave1);
  EXPECT_EQ(answer.rfind("HTTP/1.0 200 ", 0), 0u) << answer;
  EXPECT_NE(answer.find("[DataCenter]\r\nEnableCorpChannel=1\r\nEnableDominoChannel=0\r\nName=My Company\r\n"
                        "UsageMode=1\r\n" + Servers(1, "127.0.0.12", "zslave1")),
            std::string::npos)
      << answer;
  EXPECT_EQ(testing_support::ReadFile(slave.Home() + "redirect.csv"),
            "My Company, zslave1\r\nzslave1, " + std::to_string(m_Port) + "\r\nall others, x\r\n");
  EXPECT_EQ(slave.Stop(), 0);
}

TEST_F(RelayRedirectionTest, TheMasterKeepsItsSlavesInStep) {
  // zslave2 comes up first and, finding no master, serves itself.
  RelayProcess slave2;
  ASSERT_TRUE(StartRelay(slave2, "zslave2", "127.0.0.13"));
  ASSERT_NE(Redirection(kViewerOfSlave1, kSlave2).find("Name1=zslave2"), std::string::npos);

  const std::string first = Table("Acme");
  const std::string tableDir = testing_support::MakeTempDir("table");
  testing_support::WriteFile(tableDir + "/redirect.csv", first);
  RelayProcess master;
  ASSERT_TRUE(StartRelay(master, "zmaster", "127.0.0.11", "\"RedirectionFile\"=\"" + tableDir + "/redirect.csv\"\r\n"));
  // The master posted its table to zslave2, which keeps it as a slave.
  EXPECT_TRUE(Eventually([&] { return testing_support::ReadFile(slave2.Home() + "redirect.cache") == first; }));
  EXPECT_FALSE(std::filesystem::exists(slave2.Home() + "redirect.csv"));

  // zslave1, started after the master, asks it for the table.
  RelayProcess slave1;
  ASSERT_TRUE(StartRelay(slave1, "zslave1", "127.0.0.12"));
  EXPECT_EQ(testing_support::ReadFile(slave1.Home() + "redirect.cache"), first);

  // A viewer in zslave1's block is sent there by any relay; zslave1 keeps it
  // for the next-update time, the others tell it to ask again at once.
  const std::string told = Redirection(kViewerOfSlave1, kSlave2);
  EXPECT_NE(told.find("[DataCenter]\r\nName=Acme\r\nUsageMode=1\r\n" + Servers(1, "127.0.0.12", "zslave1")),
            std::string::npos)
      << told;
  EXPECT_TRUE(told.find("NXTUPD:1\r\n") != std::string::npos || told.find("NXTUPD:0\r\n") != std::string::npos)
      << told;
  const std::string kept = Redirection(kViewerOfSlave1, kSlave1);
  EXPECT_NE(kept.find("EnableCorpChannel=1\r\n"), std::string::npos) << kept;
  EXPECT_TRUE(kept.find("NXTUPD:86400\r\n") != std::string::npos ||
              kept.find("NXTUPD:86399\r\n") != std::string::npos)
      << kept;
  EXPECT_NE(Redirection(kStranger, kSlave1).find(Servers(1, "127.0.0.11", "zmaster")), std::string::npos);

  // A new table posted to the master reaches both slaves.
  const std::string second = Table("Acme Two");
  EXPECT_EQ(Post(0, kMaster, second).rfind("HTTP/1.0 204 Successful receipt of redirect.dat", 0), 0u);
  EXPECT_TRUE(Eventually([&] { return testing_support::ReadFile(slave1.Home() + "redirect.cache") == second; }));
  EXPECT_TRUE(Eventually([&] { return testing_support::ReadFile(slave2.Home() + "redirect.cache") == second; }));
  EXPECT_EQ(testing_support::ReadFile(tableDir + "/redirect.csv"), second);
  // Installed on the slave's own thread once stored.
  EXPECT_TRUE(Eventually([&] { return Redirection(kViewerOfSlave1, kSlave2).find("Name=Acme Two\r\n") != std::string::npos; }));
  // The same table again is acknowledged and not posted on.
  EXPECT_EQ(Post(0, kMaster, second).rfind("HTTP/1.0 204 Successful receipt of redirect.dat", 0), 0u);

  // Tables from anyone else are refused: a slave takes its master's alone,
  // the master its own addresses' (and those it is told to allow).
  EXPECT_EQ(Post(0, kSlave1, Table("Evil")).rfind("HTTP/1.0 403 ", 0), 0u);
  EXPECT_EQ(Post(kStranger, kMaster, Table("Evil")).rfind("HTTP/1.0 403 ", 0), 0u);
  EXPECT_EQ(testing_support::ReadFile(slave1.Home() + "redirect.cache"), second);

  EXPECT_EQ(master.Stop(), 0);
  EXPECT_EQ(slave1.Stop(), 0);
  EXPECT_EQ(slave2.Stop(), 0);
  // Two tables, each posted once to each slave.
  const std::string trace = testing_support::ReadFile(m_Roots["zmaster"] + "/trace.zondrel");
  auto count = [&](const std::string& line) {
    std::size_t found = 0;
    for (std::size_t at = trace.find(line); at != std::string::npos; at = trace.find(line, at + 1)) ++found;
    return found;
  };
  EXPECT_EQ(count("Redirect Map: Posting new redirect.csv to zslave1.\n"), 2u);
  EXPECT_EQ(count("Redirect Map: Posting new redirect.csv to zslave2.\n"), 2u);
}

}  // namespace
