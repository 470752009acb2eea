#include "agents/agent_table.h"

#include <gtest/gtest.h>

namespace {

TEST(AgentTable, KindsReachTheirSlotsAndEveryOtherKindThePassThroughAgent) {
  EXPECT_EQ(AgentSlotForKind(eCorporateAgent), 2u);
  EXPECT_EQ(AgentSlotForKind(eProxyAgent), 1u);
  EXPECT_EQ(AgentSlotForKind(eRedirectAgent), 4u);
  EXPECT_EQ(AgentSlotForKind(eAdminAgent), 5u);
  EXPECT_EQ(AgentSlotForKind(eNotesAgent), 3u);
  EXPECT_EQ(AgentSlotForKind(eNullAgent), 6u);
  for (int kind : {0, 2, 4, 7, 10, 255, -1}) EXPECT_EQ(AgentSlotForKind(kind), 0u) << kind;
}

}  // namespace
