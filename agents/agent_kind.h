// The agent kinds of the agent list: the lowest byte of a category's entry
// names the agent that answers it. The numbers come from the upstream
// service's list, so they are not contiguous; any other number (and a
// category that is not listed) means the pass-through agent.
#pragma once

#include <cstdint>

enum eAgentKind : std::uint32_t {
  ePassThroughAgent = 0,
  eCorporateAgent = 1,
  eProxyAgent = 3,
  eRedirectAgent = 5,
  eAdminAgent = 6,
  eNotesAgent = 8,
  eNullAgent = 9,
};
