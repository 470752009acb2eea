#include "base/product_identity.h"

#include <string>

#include <gtest/gtest.h>

namespace {

TEST(ProductIdentity, SystemVersionAndServerLine) {
  net::SystemVersion version = net::ParseSystemVersion("Linux 6.1.0-18-amd64");
  EXPECT_EQ(version.name, "Linux");
  EXPECT_EQ(version.major, 6);
  EXPECT_EQ(version.minor, 1);
  EXPECT_EQ(version.build, 0);
  version = net::ParseSystemVersion("Linux 5.15");
  EXPECT_EQ(version.minor, 15);
  EXPECT_EQ(version.build, 0);
  version = net::ParseSystemVersion("Linux");
  EXPECT_EQ(version.major, 0);

  const net::SystemVersion& running = net::RunningSystemVersion();
  const std::string expected = "Server: Orrinvale-Zondrel/1.1 Build 1.1.68 domino (" + running.name + " " +
                               std::to_string(running.major) + "." + std::to_string(running.minor) + " Build " +
                               std::to_string(running.build) + ")\r\n";
  EXPECT_EQ(net::ServerHeaderLine(), expected);
}

}  // namespace
