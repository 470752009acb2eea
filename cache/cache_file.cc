#include "cache/cache_file.h"

#include <cstring>
#include <new>

CCacheFile::CCacheFile(CreateTag, std::uint32_t id, std::uint16_t framePart, std::uint32_t growthStep)
    : m_GrowthStep(growthStep != 0 ? growthStep : kDefaultGrowthStep), m_ItemID(id), m_FramePart(framePart) {}

CCacheFile::~CCacheFile() = default;

std::shared_ptr<CCacheFile> CCacheFile::Create(std::uint32_t id, std::uint16_t framePart, std::uint32_t capacity,
                                               std::uint32_t growthStep) {
  // The item and its reference count in one block: a cache holds many items.
  std::shared_ptr<CCacheFile> item;
  try {
    item = std::make_shared<CCacheFile>(CreateTag(), id, framePart, growthStep);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
  if (!item->Reserve(capacity)) return nullptr;
  return item;
}

bool CCacheFile::Reserve(std::uint64_t needed) {
  if (needed <= m_Capacity) return true;
  if (needed > kMaxLength) return false;
  // A new item is made exactly as large as it will be; only a buffer that
  // has to grow again rounds up to whole steps.
  std::uint64_t capacity = needed;
  if (m_Capacity != 0) capacity = (needed + m_GrowthStep - 1) / m_GrowthStep * m_GrowthStep;
  if (capacity > kMaxLength) capacity = kMaxLength;
  std::unique_ptr<char[]> data(new (std::nothrow) char[capacity]);
  if (data == nullptr) return false;
  if (m_DataLength != 0) std::memcpy(data.get(), m_Data.get(), m_DataLength);
  m_Data = std::move(data);
  m_Capacity = static_cast<std::uint32_t>(capacity);
  return true;
}

bool CCacheFile::Write(const void* data, std::size_t length) {
  if (length == 0) return true;
  if (m_Published || data == nullptr) return false;
  const std::uint64_t end = std::uint64_t{m_WritePosition} + length;
  if (!Reserve(end)) return false;
  std::memcpy(m_Data.get() + m_WritePosition, data, length);
  m_WritePosition = static_cast<std::uint32_t>(end);
  if (m_WritePosition > m_DataLength) m_DataLength = m_WritePosition;
  return true;
}

std::shared_ptr<CCacheFile> CCacheFile::Clone() const {
  std::shared_ptr<CCacheFile> copy = Create(m_ItemID, m_FramePart, m_DataLength, m_GrowthStep);
  if (copy == nullptr || !copy->Write(m_Data.get(), m_DataLength)) return nullptr;
  copy->m_NextUpdateTime.store(NextUpdateTime(), std::memory_order_relaxed);
  return copy;
}

void CCacheFile::SetNextUpdateTime(std::int64_t time) const {
  // Most answers carry the value the item has already; not writing it then
  // keeps the item's memory unshared between the processors.
  if (m_NextUpdateTime.load(std::memory_order_relaxed) != time) {
    m_NextUpdateTime.store(time, std::memory_order_relaxed);
  }
}
