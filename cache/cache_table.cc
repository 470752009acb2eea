#include "cache/cache_table.h"

#include <algorithm>
#include <new>

#include "base/hash_table_size.h"

std::uint32_t CCacheTable::BucketCountFor(std::uint32_t expected) {
  return static_cast<std::uint32_t>(HashTableSize(std::clamp<std::size_t>(expected, kMinSizing, kMaxEntries)));
}

CCacheTable::Buckets::Buckets(std::uint32_t bucketCount)
    : count(std::max<std::uint32_t>(bucketCount, 1)), heads(new std::atomic<Node*>[count]) {
  for (std::uint32_t i = 0; i < count; ++i) heads[i].store(nullptr, std::memory_order_relaxed);
}

CCacheTable::CCacheTable(std::uint32_t bucketCount) {
  m_Generations.push_back(std::make_unique<Buckets>(bucketCount));
  m_Current.store(m_Generations.back().get(), std::memory_order_release);
}

CCacheTable::~CCacheTable() = default;

std::size_t CCacheTable::Hash(std::string_view name) { return std::hash<std::string_view>()(name); }

std::uint32_t CCacheTable::BucketCount() const { return m_Current.load(std::memory_order_acquire)->count; }

CCacheEntry* CCacheTable::FindIn(const Buckets& buckets, std::size_t hash, std::string_view name) {
  for (const Node* node = buckets.heads[hash % buckets.count].load(std::memory_order_acquire); node != nullptr;
       node = node->next.load(std::memory_order_acquire)) {
    if (node->hash == hash && node->entry->Name() == name) return node->entry;
  }
  return nullptr;
}

CCacheEntry* CCacheTable::Find(std::string_view name) const {
  return FindIn(*m_Current.load(std::memory_order_acquire), Hash(name), name);
}

void CCacheTable::Link(Buckets& buckets, std::size_t hash, CCacheEntry* entry) {
  Node& node = buckets.nodes.emplace_back(hash, entry);
  std::atomic<Node*>& head = buckets.heads[hash % buckets.count];
  node.next.store(head.load(std::memory_order_relaxed), std::memory_order_relaxed);
  // The node is complete before a reader can reach it.
  head.store(&node, std::memory_order_release);
}

CCacheEntry* CCacheTable::FindOrCreate(std::string_view name) {
  const std::size_t hash = Hash(name);
  if (CCacheEntry* entry = FindIn(*m_Current.load(std::memory_order_acquire), hash, name)) return entry;

  std::lock_guard<std::mutex> hold(m_Lock);
  Buckets& buckets = *m_Current.load(std::memory_order_relaxed);
  // Another thread may have created it while this one waited.
  if (CCacheEntry* entry = FindIn(buckets, hash, name)) return entry;
  if (m_Entries.size() >= kMaxEntries) return nullptr;
  try {
    // Room first, so that the push below cannot fail once the entry is
    // linked; doubled, so that creating n entries costs O(n) moves.
    if (m_Entries.size() == m_Entries.capacity()) m_Entries.reserve(std::max<std::size_t>(64, 2 * m_Entries.size()));
    auto entry = std::make_unique<CCacheEntry>(std::string(name));
    Link(buckets, hash, entry.get());
    m_Entries.push_back(std::move(entry));
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
  m_Count.store(m_Entries.size(), std::memory_order_release);
  // Chains stay short: beyond two entries per bucket the table grows.
  if (m_Entries.size() > 2 * static_cast<std::size_t>(buckets.count)) {
    try {
      Grow();
    } catch (const std::bad_alloc&) {
      // Longer chains are slower, not wrong.
    }
  }
  return m_Entries.back().get();
}

void CCacheTable::Grow() {
  const auto expected = static_cast<std::uint32_t>(std::min<std::size_t>(m_Entries.size() * 2, kMaxEntries));
  auto grown = std::make_unique<Buckets>(BucketCountFor(expected));
  for (const std::unique_ptr<CCacheEntry>& entry : m_Entries) Link(*grown, Hash(entry->Name()), entry.get());
  m_Generations.push_back(std::move(grown));
  // Readers still walking an older array finish there; it stays until the end.
  m_Current.store(m_Generations.back().get(), std::memory_order_release);
}

void CCacheTable::ForEachEntry(const std::function<void(CCacheEntry&)>& visit) {
  std::lock_guard<std::mutex> hold(m_Lock);
  for (const std::unique_ptr<CCacheEntry>& entry : m_Entries) visit(*entry);
}
