#include "net/fetched_item.h"

#include <limits>
#include <utility>

namespace {

std::uint32_t Length32(std::size_t length) {
  return length > std::numeric_limits<std::uint32_t>::max() ? std::numeric_limits<std::uint32_t>::max()
                                                             : static_cast<std::uint32_t>(length);
}

}  // namespace

CFetchedItem::CFetchedItem(std::uint32_t id, std::uint16_t framePart) : m_ItemID(id), m_FramePart(framePart) {}

CFetchedItem::CFetchedItem(std::uint32_t id, std::uint16_t framePart, std::string source, std::vector<char> data)
    : CFetchedItem(id, framePart, 0, std::move(source), std::move(data)) {}

CFetchedItem::CFetchedItem(std::uint32_t id, std::uint16_t framePart, std::uint32_t dataFormat, std::string source,
                           std::vector<char> data)
    : m_ItemID(id),
      m_FramePart(framePart),
      m_DataFormat(dataFormat),
      m_Source(std::move(source)),
      m_Data(std::move(data)),
      m_DataLength(Length32(m_Data.size())),
      m_StoredLength(m_DataLength) {}

CFetchedItem::CFetchedItem(std::uint32_t id, std::uint16_t framePart, std::uint32_t dataFormat, std::string source,
                           std::shared_ptr<const std::vector<char>> shared)
    : m_ItemID(id),
      m_FramePart(framePart),
      m_DataFormat(dataFormat),
      m_Source(std::move(source)),
      m_pShared(std::move(shared)),
      m_DataLength(Length32(m_pShared != nullptr ? m_pShared->size() : 0)),
      m_StoredLength(m_DataLength) {}

CFetchedItem::CFetchedItem(std::uint32_t id, std::uint16_t framePart, std::uint32_t dataFormat, std::string source,
                           std::unique_ptr<platform::File> file, std::uint32_t length)
    : m_ItemID(id),
      m_FramePart(framePart),
      m_DataFormat(dataFormat),
      m_Source(std::move(source)),
      m_File(std::move(file)),
      m_DataLength(length),
      m_StoredLength(length) {
  if (m_File != nullptr) m_Path = m_File->Path();
}

CFetchedItem::~CFetchedItem() = default;

void CFetchedItem::AppendData(const char* bytes, std::size_t length) {
  if (m_pShared != nullptr) {
    m_Data = *m_pShared;
    m_pShared.reset();
  }
  m_Data.insert(m_Data.end(), bytes, bytes + length);
  m_DataLength = m_StoredLength = Length32(m_Data.size());
}

void CFetchedItem::SetLengths(std::uint32_t dataLength, std::uint32_t storedLength) {
  m_DataLength = dataLength;
  m_StoredLength = storedLength;
}
