#include "agents/agent_table.h"

#include <gtest/gtest.h>

#include "agents/agent_kind.h"
#include "agents/test_agent.h"

namespace {

TEST(AgentTable, KindsReachTheirSlotsAndEveryOtherKindOrEmptySlotThePassThroughAgent) {
  EXPECT_EQ(AgentSlotForKind(eCorporateAgent), 2u);
  EXPECT_EQ(AgentSlotForKind(eProxyAgent), 1u);
  EXPECT_EQ(AgentSlotForKind(eRedirectAgent), 4u);
  EXPECT_EQ(AgentSlotForKind(eAdminAgent), 5u);
  EXPECT_EQ(AgentSlotForKind(eNotesAgent), 3u);
  EXPECT_EQ(AgentSlotForKind(eNullAgent), 6u);
  for (int kind : {0, 2, 4, 7, 10, 255, -1}) EXPECT_EQ(AgentSlotForKind(kind), 0u) << kind;

  // A kind whose slot is empty is passed through; with no pass-through
  // agent either there is no agent at all.
  CAgentTable table;
  EXPECT_EQ(table.ForKind(eProxyAgent), nullptr);
  CTestAgent passThrough;
  CTestAgent proxy;
  table[ePassThroughSlot] = &passThrough;
  EXPECT_EQ(table.ForKind(eProxyAgent), &passThrough);
  table[eProxySlot] = &proxy;
  EXPECT_EQ(table.ForKind(eProxyAgent), &proxy);
  EXPECT_EQ(table.ForKind(eNullAgent), &passThrough);
  EXPECT_EQ(table.ForKind(7), &passThrough);
}

}  // namespace
