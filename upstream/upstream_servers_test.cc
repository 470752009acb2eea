#include "upstream/upstream_servers.h"

#include <gtest/gtest.h>

namespace {

TEST(ServerList, EntriesWithCommaOrColonAreTheSame) {
  upstream::ServerEndpoint comma;
  upstream::ServerEndpoint colon;
  ASSERT_TRUE(upstream::ParseServerEntry("host,8000", comma));
  ASSERT_TRUE(upstream::ParseServerEntry("host:8000", colon));
  EXPECT_EQ(comma.host, colon.host);
  EXPECT_EQ(comma.port, 8000u);
  EXPECT_EQ(colon.port, 8000u);

  upstream::ServerEndpoint entry;
  ASSERT_TRUE(upstream::ParseServerEntry("  bare.host  ", entry));
  EXPECT_EQ(entry.host, "bare.host");
  EXPECT_EQ(entry.port, 80u);
  // The later of the first comma and the first colon separates.
  ASSERT_TRUE(upstream::ParseServerEntry("a:b,81", entry));
  EXPECT_EQ(entry.host, "a:b");
  EXPECT_EQ(entry.port, 81u);

  EXPECT_FALSE(upstream::ParseServerEntry("", entry));
  EXPECT_FALSE(upstream::ParseServerEntry("   ,80", entry));
  EXPECT_FALSE(upstream::ParseServerEntry("host,0", entry));
  EXPECT_FALSE(upstream::ParseServerEntry("host,65536", entry));
  EXPECT_FALSE(upstream::ParseServerEntry("host,80x", entry));
}

}  // namespace
