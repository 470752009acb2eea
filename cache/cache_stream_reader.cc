#include "cache/cache_stream_reader.h"

#include <utility>

CCacheStreamReader::CCacheStreamReader(CCacheEntry& entry, std::int64_t contentLength)
    : m_Entry(entry), m_ContentLength(contentLength) {
  m_Reader.BeginAnswer(contentLength, this);
}

CCacheStreamReader::Outcome CCacheStreamReader::ReadBody(const ReadFunction& read) {
  char buffer[kBufferSize];
  unsigned int length = 0;
  // An empty body is complete before anything is read.
  httpStatus status = m_Reader.HTTPrespState(buffer, length);
  while (status == eHTTPMoreData) {
    if (length == sizeof(buffer)) return eStreamBroken;  // a full buffer the reader cannot take
    const int got = read(buffer + length, sizeof(buffer) - length);
    if (got <= 0) {
      // Without a Content-Length the peer's close ends the body, but only
      // between two records.
      const bool between = got == 0 && m_ContentLength < 0 && length == 0 && m_Current == nullptr;
      return between ? eBodyComplete : eReadFailed;
    }
    length += static_cast<unsigned int>(got);
    status = m_Reader.HTTPrespState(buffer, length);
  }
  return status == eHTTPComplete ? eBodyComplete : eStreamBroken;
}

bool CCacheStreamReader::BeginItem(const CDataStreamFields& fields, std::string_view rawHeader,
                                   std::int64_t nextUpdateTime) {
  const std::uint64_t capacity = std::uint64_t{rawHeader.size()} + fields.tlen;
  if (capacity > CCacheFile::kMaxLength) return false;
  m_Current = CCacheFile::Create(fields.lid, fields.fp, static_cast<std::uint32_t>(capacity));
  return m_Current != nullptr && m_Current->Write(rawHeader.data(), rawHeader.size());
}

bool CCacheStreamReader::AppendItemData(const char* data, std::size_t length) {
  return m_Current != nullptr && m_Current->Write(data, length);
}

bool CCacheStreamReader::EndItem() {
  if (m_Current == nullptr || !m_Entry.AddItem(std::move(m_Current))) return false;
  m_Current = nullptr;
  ++m_ItemsAdded;
  return true;
}
