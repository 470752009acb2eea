// CAgentTable: the seven agents of the server, one per slot, filled at
// start-up and borrowed by every request thread. The agent list names an
// agent kind for a category; AgentSlotForKind turns that kind into a slot.
// Kinds the table does not know (and categories that are not listed, kind 0)
// go to the pass-through agent, and so do kinds whose slot is still empty.
#pragma once

#include <array>
#include <cstddef>

#include "agents/agent_kind.h"

class CAbstractAgent;

enum eAgentSlot : std::size_t {
  ePassThroughSlot = 0,
  eProxySlot = 1,
  eCorporateSlot = 2,
  eNotesSlot = 3,
  eRedirectSlot = 4,
  eAdminSlot = 5,
  eNullSlot = 6,
};

inline constexpr std::size_t kAgentSlotCount = 7;

// Only the lowest byte of a list value names the kind; callers pass what
// CAgentList::Lookup returned.
constexpr std::size_t AgentSlotForKind(int kind) {
  switch (kind) {
    case eCorporateAgent: return eCorporateSlot;
    case eProxyAgent: return eProxySlot;
    case eRedirectAgent: return eRedirectSlot;
    case eAdminAgent: return eAdminSlot;
    case eNotesAgent: return eNotesSlot;
    case eNullAgent: return eNullSlot;
    default: return ePassThroughSlot;
  }
}

// The agents are owned by the service controller; the table only points at
// them. An empty slot is null.
struct CAgentTable {
  std::array<CAbstractAgent*, kAgentSlotCount> m_Agents{};

  // The agent that answers `kind`: null only when neither its slot nor the
  // pass-through slot is filled.
  CAbstractAgent* ForKind(int kind) const {
    CAbstractAgent* agent = m_Agents[AgentSlotForKind(kind)];
    return agent != nullptr ? agent : m_Agents[ePassThroughSlot];
  }
  CAbstractAgent*& operator[](std::size_t slot) { return m_Agents[slot]; }
  CAbstractAgent* operator[](std::size_t slot) const { return m_Agents[slot]; }
};
