#include "platform/hosts_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/registry.h"
#include "platform/socket.h"
#include "platform/system.h"
#include "platform/testing.h"

namespace platform {
namespace {

void WriteHosts(const std::string& text) {
  std::filesystem::create_directories(testing_support::TestRoot() + "/etc");
  testing_support::WriteFile(MachineHostsFilePath(), text);
}

TEST(HostsFile, ParsesAddressesNamesAndComments) {
  const std::vector<HostsEntry> entries = ParseHostsText(
      "# the relays\n127.0.0.11\tzmaster master  # the master\r\n"
      "::1 ip6-localhost\nbad line\n300.1.1.1 nobody\n127.0.0.12 zslave1\n127.0.0.13\n" +
      std::string(kMaxHostNameLength + 1, 'n') + " 127.0.0.14\n");
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].address, 0x7F00000Bu);
  EXPECT_EQ(entries[0].names, (std::vector<std::string>{"zmaster", "master"}));
  EXPECT_EQ(entries[1].names, (std::vector<std::string>{"zslave1"}));
}

TEST(HostsFile, LookupsAskTheMachinesHostsFileFirst) {
  EXPECT_TRUE(ResolveHost("zmaster.invalid").empty());
  WriteHosts("127.0.0.11 zmaster.invalid master\n127.0.0.12 zslave1.invalid\n127.0.0.13 zmaster.invalid\n");
  EXPECT_EQ(ResolveHost("ZMaster.invalid"), (std::vector<std::uint32_t>{0x7F00000B, 0x7F00000D}));
  EXPECT_EQ(OfficialHostName("master"), "zmaster.invalid");
  EXPECT_EQ(HostNameOfAddress(0x7F00000C), "zslave1.invalid");
  // A name the file does not know goes to the system's resolver.
  EXPECT_FALSE(ResolveHost("localhost").empty());
  // A changed file is read again.
  WriteHosts("127.0.0.21 zmaster.invalid\n");
  EXPECT_EQ(ResolveHost("zmaster.invalid"), (std::vector<std::uint32_t>{0x7F000015}));
  std::filesystem::remove(MachineHostsFilePath());
  EXPECT_TRUE(ResolveHost("zmaster.invalid").empty());
}

TEST(HostsFile, TheComputerNameComesFromTheMachinesRegistry) {
  const std::string system = GetHostName();
  EXPECT_EQ(GetComputerNameSetting(), "");
  const std::string name = "ZSLAVE1";
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, kComputerNameKey, 0, &key, nullptr), 0);
  RegCloseKey(key);
  ASSERT_EQ(RegSetKeyValue(HKEY_LOCAL_MACHINE, kComputerNameKey, kComputerNameValue, REG_SZ,
                           reinterpret_cast<const BYTE*>(name.c_str()), static_cast<DWORD>(name.size() + 1)),
            0);
  EXPECT_EQ(GetHostName(), "ZSLAVE1");
  ASSERT_EQ(RegSetKeyValue(HKEY_LOCAL_MACHINE, kComputerNameKey, kComputerNameValue, REG_SZ,
                           reinterpret_cast<const BYTE*>(""), 1),
            0);
  EXPECT_EQ(GetHostName(), system);
}

}  // namespace
}  // namespace platform
