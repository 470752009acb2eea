#include "agents/agent_list_format.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "base/hash_table_size.h"

namespace {

TEST(AgentListFormat, TheBodyFollowsTheHeaderAndLaterLinesWin) {
  agents::AgentMap map{{7, 7}};
  std::uint64_t count = 0;
  EXPECT_EQ(agents::ParseAgentList("HTTP/1.0 200 OK\r\nX: 1\r\n\r\n3\r\n100,3\r\n200, 9\r\n100,0x\r\n100,264\r\n",
                                   map, 1000, count),
            agents::ListParse::kWithErrors);
  EXPECT_EQ(count, 3u);
  EXPECT_EQ(map, (agents::AgentMap{{100, 264}, {200, 9}}));
  // Without a header block the body starts at the beginning.
  EXPECT_EQ(agents::ParseAgentList("1\n5,6\n", map, 1000, count), agents::ListParse::kClean);
  EXPECT_EQ(map, (agents::AgentMap{{5, 6}}));
  for (const char* rejected : {"0\r\n1,3\r\n", "\r\n1,3\r\n", "x\r\n1,3\r\n", "-1\r\n1,3\r\n", "1001\r\n1,3\r\n"}) {
    EXPECT_EQ(agents::ParseAgentList(rejected, map, 1000, count), agents::ListParse::kRejected) << rejected;
  }
}

TEST(AgentListFormat, TheCountSizesTheTableButNeverBeyondTheLinesThatCame) {
  agents::AgentMap map;
  std::uint64_t count = 0;
  ASSERT_EQ(agents::ParseAgentList("1000\r\n1,3\r\n", map, 1000000, count), agents::ListParse::kClean);
  EXPECT_LT(map.bucket_count(), 100u);
  ASSERT_EQ(agents::ParseAgentList("1000\r\n" + std::string(2000, '\n'), map, 1000000, count),
            agents::ListParse::kClean);
  EXPECT_GE(map.bucket_count(), HashTableSize(1000));
}

}  // namespace
