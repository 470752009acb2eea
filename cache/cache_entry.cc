#include "cache/cache_entry.h"

#include <algorithm>
#include <utility>

std::size_t CCacheItems::FirstAfter(std::int64_t id) const {
  if (id < 0) return 0;
  const auto first = std::upper_bound(m_Items.begin(), m_Items.end(), id,
                                      [](std::int64_t value, const std::shared_ptr<CCacheFile>& item) {
                                        return value < static_cast<std::int64_t>(item->ItemID());
                                      });
  return static_cast<std::size_t>(first - m_Items.begin());
}

CCacheEntry::CCacheEntry(std::string name)
    : m_Name(std::move(name)),
      m_Lock(platform::Event::Create(false, true)),
      m_Published(std::make_shared<const CCacheItems>()) {}

CCacheEntry::~CCacheEntry() = default;

bool CCacheEntry::Lock(platform::DWORD milliseconds) {
  return m_Lock != nullptr && platform::WaitForSingleObject(*m_Lock, milliseconds) == platform::kWaitObject0;
}

void CCacheEntry::Unlock() {
  if (m_Lock == nullptr) return;
  m_Lock->Set();
  platform::Sleep(0);
}

std::vector<std::shared_ptr<CCacheFile>>& CCacheEntry::Working() {
  if (!m_Editing) {
    // Readers keep the published list; the writer changes a copy of it.
    const std::shared_ptr<const CCacheItems> published = Items();
    m_Working.reserve(published->Count() + 1);
    m_Working.assign(published->m_Items.begin(), published->m_Items.end());
    m_Editing = true;
  }
  return m_Working;
}

bool CCacheEntry::AddItem(std::shared_ptr<CCacheFile> item) {
  if (item == nullptr) return false;
  std::vector<std::shared_ptr<CCacheFile>>& items = Working();
  // From the newest backwards: upstream sends items in ascending order, so
  // the place is usually found at once.
  auto position = items.end();
  while (position != items.begin() && (*(position - 1))->ItemID() > item->ItemID()) --position;
  if (position != items.begin() && (*(position - 1))->ItemID() == item->ItemID()) {
    std::shared_ptr<CCacheFile>& existing = *(position - 1);
    if (existing->FramePart() == item->FramePart()) {
      m_Retired.push_back(std::move(existing));
      existing = std::move(item);
      return true;
    }
    // Another frame part of the same item: its bytes follow the ones held.
    // A published item may be in the middle of being sent; it gets a copy.
    std::shared_ptr<CCacheFile> target = existing->Published() ? existing->Clone() : existing;
    if (target == nullptr || !target->Write(item->Data(), item->DataLength())) return false;
    if (target != existing) {
      m_Retired.push_back(std::move(existing));
      existing = std::move(target);
    }
    return true;
  }
  items.insert(position, std::move(item));
  return true;
}

void CCacheEntry::Trim(std::size_t count) {
  m_Retired.clear();
  std::vector<std::shared_ptr<CCacheFile>>& items = Working();
  if (items.size() <= count) return;
  const auto end = items.begin() + static_cast<std::ptrdiff_t>(items.size() - count);
  std::move(items.begin(), end, std::back_inserter(m_Retired));
  items.erase(items.begin(), end);
}

std::size_t CCacheEntry::Count() const { return m_Editing ? m_Working.size() : Items()->Count(); }

std::uint32_t CCacheEntry::NewestID() const {
  if (!m_Editing) return Items()->NewestID();
  return m_Working.empty() ? 0 : m_Working.back()->ItemID();
}

std::size_t CCacheEntry::FirstPositionAfter(std::int64_t id) const {
  if (!m_Editing) return Items()->FirstAfter(id);
  if (id < 0) return 0;
  std::size_t position = m_Working.size();
  while (position > 0 && static_cast<std::int64_t>(m_Working[position - 1]->ItemID()) > id) --position;
  return position;
}

void CCacheEntry::Publish() {
  if (!m_Editing) return;
  for (const std::shared_ptr<CCacheFile>& item : m_Working) item->MarkPublished();
  m_Published.store(std::make_shared<const CCacheItems>(std::move(m_Working)), std::memory_order_release);
  m_Working = {};
  m_Editing = false;
}
