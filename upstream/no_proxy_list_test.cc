// The proxy exceptions: patterns with asterisks, and hosts compared by the
// name a lookup gives.
#include "upstream/no_proxy_list.h"

#include <gtest/gtest.h>

#include "platform/socket.h"

namespace {

TEST(NoProxyList, EntriesWithAsterisksMatchWholeNamesWithoutRegardToCase) {
  const char* list = " localhost;*.Corp.example\t10.0.*.*\nintra*net ";
  EXPECT_TRUE(upstream::MatchesNoProxyList(list, "LOCALHOST"));
  EXPECT_TRUE(upstream::MatchesNoProxyList(list, "www.corp.example"));
  EXPECT_TRUE(upstream::MatchesNoProxyList(list, "10.0.3.4"));
  EXPECT_TRUE(upstream::MatchesNoProxyList(list, "intranet"));
  EXPECT_TRUE(upstream::MatchesNoProxyList(list, "intra-main-net"));
  EXPECT_FALSE(upstream::MatchesNoProxyList(list, "localhost.evil"));
  EXPECT_FALSE(upstream::MatchesNoProxyList(list, "corp.example.evil"));
  EXPECT_FALSE(upstream::MatchesNoProxyList(list, "110.0.3.4"));
  EXPECT_FALSE(upstream::MatchesNoProxyList(list, "intranet2"));
  EXPECT_FALSE(upstream::MatchesNoProxyList("", "localhost"));
  EXPECT_FALSE(upstream::MatchesNoProxyList(" ; ", "localhost"));
  EXPECT_TRUE(upstream::MatchesNoProxyList("*", "anything"));
}

TEST(NoProxyList, TheHostIsComparedByTheNameTheLookupGives) {
  // Only names this machine knows without asking a name server.
  EXPECT_EQ(platform::OfficialHostName("LocalHost"), "localhost");
  EXPECT_EQ(platform::OfficialHostName("127.0.0.1"), "127.0.0.1");
  EXPECT_TRUE(upstream::BypassesProxy("localhost", "LocalHost"));
  EXPECT_TRUE(upstream::BypassesProxy("127.0.0.*", "127.0.0.1"));
  EXPECT_FALSE(upstream::BypassesProxy("other", "localhost"));
  EXPECT_FALSE(upstream::BypassesProxy(" ; ", "localhost"));
}

}  // namespace
