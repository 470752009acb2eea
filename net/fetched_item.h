// One item of content as it goes to a viewer: the item's bytes (in memory or
// in an open file) with the values of its data-stream header.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/file.h"

class CFetchedItem {
 public:
  CFetchedItem(std::uint32_t id, std::uint16_t framePart);
  CFetchedItem(std::uint32_t id, std::uint16_t framePart, std::string source, std::vector<char> data);
  CFetchedItem(std::uint32_t id, std::uint16_t framePart, std::uint32_t dataFormat, std::string source,
               std::vector<char> data);
  // Bytes shared with their owner (and other answers), not copied.
  CFetchedItem(std::uint32_t id, std::uint16_t framePart, std::uint32_t dataFormat, std::string source,
               std::shared_ptr<const std::vector<char>> shared);
  // The item's bytes are the first `length` bytes of `file`; the path is the
  // file's own.
  CFetchedItem(std::uint32_t id, std::uint16_t framePart, std::uint32_t dataFormat, std::string source,
               std::unique_ptr<platform::File> file, std::uint32_t length);
  virtual ~CFetchedItem();
  CFetchedItem(const CFetchedItem&) = delete;
  CFetchedItem& operator=(const CFetchedItem&) = delete;

  // Data-stream values: LID, FP, CMP and SRC.
  std::uint32_t ItemID() const { return m_ItemID; }
  std::uint16_t FramePart() const { return m_FramePart; }
  std::uint32_t DataFormat() const { return m_DataFormat; }
  const std::string& Source() const { return m_Source; }
  const std::string& Path() const { return m_Path; }

  // The open file, or null for an item held in memory.
  platform::File* File() const { return m_File.get(); }
  const std::vector<char>& Data() const { return m_pShared != nullptr ? *m_pShared : m_Data; }
  // Adds bytes to an item held in memory (both lengths follow); not for an
  // item over shared bytes.
  void AppendData(const char* bytes, std::size_t length);
  // Gives the memory room for `length` bytes in all, ahead of AppendData.
  void ReserveData(std::size_t length) { m_Data.reserve(length); }

  // The content length and the stored (total) length; they differ only when
  // a maker sets them apart.
  std::uint32_t DataLength() const { return m_DataLength; }
  std::uint32_t StoredLength() const { return m_StoredLength; }
  void SetLengths(std::uint32_t dataLength, std::uint32_t storedLength);
  // The bytes that go out for this item: the data length, or the stored
  // length when no data length is set. TLEN and Content-length use it, so that
  // what a header announces is what is sent.
  std::uint32_t SendLength() const { return m_DataLength != 0 ? m_DataLength : m_StoredLength; }

  // When the viewer should ask again (seconds since 1970, 0 = not set); the
  // answer's Expires and NXTUPD come from it.
  std::int64_t NextUpdateTime() const { return m_NextUpdateTime; }
  void SetNextUpdateTime(std::int64_t time) { m_NextUpdateTime = time; }
  std::int64_t LastModified() const { return m_LastModified; }
  void SetLastModified(std::int64_t time) { m_LastModified = time; }

 protected:
  std::uint32_t m_ItemID;
  std::uint16_t m_FramePart;
  std::uint32_t m_DataFormat = 0;
  std::string m_Source;
  std::string m_Path;
  std::unique_ptr<platform::File> m_File;
  std::vector<char> m_Data;
  std::shared_ptr<const std::vector<char>> m_pShared;
  std::uint32_t m_DataLength = 0;
  std::uint32_t m_StoredLength = 0;
  std::int64_t m_NextUpdateTime = 0;
  std::int64_t m_LastModified = 0;
};

// The items of one answer, in the order they are sent. The list does not own
// them: they belong to whoever built the answer.
using CResponseList = std::vector<CFetchedItem*>;
