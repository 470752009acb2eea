// CCacheFile: one cached item, kept exactly as it came from upstream: its
// data-stream header, the empty line that ends it and its TLEN bytes, so that
// an answer sends it as it is. The buffer grows in multiples of a growth step.
//
// An item is written only by the thread that holds its entry's lock, and
// only until the entry publishes it; from then on it is read-only and may be
// read by any number of senders at once.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

class CCacheFile {
 public:
  static constexpr std::uint32_t kDefaultGrowthStep = 1024;
  // An item larger than this is refused: the buffer's sizes are 32-bit.
  static constexpr std::uint32_t kMaxLength = 0x7FFFFFFF;

  // Only Create makes items (the tag keeps the constructor to it).
  struct CreateTag {
   private:
    friend class CCacheFile;
    CreateTag() = default;
  };
  CCacheFile(CreateTag, std::uint32_t id, std::uint16_t framePart, std::uint32_t growthStep);

  // An empty item with room for `capacity` bytes; null when the memory
  // cannot be had.
  static std::shared_ptr<CCacheFile> Create(std::uint32_t id, std::uint16_t framePart, std::uint32_t capacity,
                                            std::uint32_t growthStep = kDefaultGrowthStep);
  ~CCacheFile();
  CCacheFile(const CCacheFile&) = delete;
  CCacheFile& operator=(const CCacheFile&) = delete;

  // Writes at the write position, growing the buffer by whole steps when
  // needed. False (nothing written) when it cannot grow.
  bool Write(const void* data, std::size_t length);
  // A copy with the same values and bytes; null when memory is short.
  std::shared_ptr<CCacheFile> Clone() const;

  std::uint32_t ItemID() const { return m_ItemID; }
  std::uint16_t FramePart() const { return m_FramePart; }
  const char* Data() const { return m_Data.get(); }
  std::uint32_t DataLength() const { return m_DataLength; }
  std::uint32_t Capacity() const { return m_Capacity; }
  std::uint32_t WritePosition() const { return m_WritePosition; }
  std::uint32_t GrowthStep() const { return m_GrowthStep; }

  // The viewer next-update time (seconds since 1970) of the last answer the
  // item went into. Answers on several threads may set it at once.
  std::int64_t NextUpdateTime() const { return m_NextUpdateTime.load(std::memory_order_relaxed); }
  void SetNextUpdateTime(std::int64_t time) const;

  // Set when the item becomes visible to readers; a published item is not
  // written again.
  bool Published() const { return m_Published; }
  void MarkPublished() { m_Published = true; }

 private:
  bool Reserve(std::uint64_t needed);

  std::uint32_t m_GrowthStep;
  std::uint32_t m_WritePosition = 0;
  std::uint32_t m_Capacity = 0;
  std::uint32_t m_DataLength = 0;
  std::unique_ptr<char[]> m_Data;
  std::uint32_t m_ItemID;
  std::uint16_t m_FramePart;
  bool m_Published = false;
  mutable std::atomic<std::int64_t> m_NextUpdateTime{0};
};
