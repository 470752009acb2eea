#include "poolmgr/pool_slot.h"

#include "poolmgr/pool_thread.h"

CPoolSlot::CPoolSlot(int index, eThdState state) : m_State(state), m_SlotIndex(index) {}

CPoolSlot::~CPoolSlot() = default;

void CPoolSlot::MarkEnded() {
  eThdState state = m_State.load();
  while (state != eThdEnded && state != eThdExpired &&
         !m_State.compare_exchange_weak(state, eThdEnded)) {
  }
}
