#include "txlog/transaction_log_entry.h"

#include <cstdio>
#include <ctime>

namespace {

constexpr std::size_t kViewerValues = 10;
constexpr std::size_t kAdminValues = 8;
constexpr std::size_t kPaddedWidth = 15;
const char kUnset[] = "-";

// A field's text as it goes into the line: blanks and control characters
// (CR and LF above all) would split the field or the line, and bytes of 0x80
// and above are no text at all to log tools, so all of them are written as
// %XX and every line is plain ASCII. An empty text is "-".
std::string FieldText(std::string_view text) {
  if (text.empty()) return kUnset;
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte <= 0x20 || byte >= 0x7F) {
      out += '%';
      out += kHex[byte >> 4];
      out += kHex[byte & 0xF];
    } else {
      out += c;
    }
  }
  return out;
}

// "%-15s": left-aligned, padded with blanks. Blanks the caller padded with
// already are not part of the address.
std::string PaddedFieldText(std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  std::string out = FieldText(text);
  if (out.size() < kPaddedWidth) out.append(kPaddedWidth - out.size(), ' ');
  return out;
}

// "%Y-%m-%d %H:%M:%S" in local time. Many lines share a second, so each
// thread keeps the text of the last one.
std::string_view LocalDateTime(std::time_t when) {
  thread_local std::time_t cachedTime = -1;
  thread_local char text[64];
  thread_local std::size_t length = 0;
  if (when != cachedTime) {
    std::tm local {};
    length = ::localtime_r(&when, &local) != nullptr
                 ? std::strftime(text, sizeof(text), "%Y-%m-%d %H:%M:%S", &local)
                 : 0;
    if (length == 0) length = static_cast<std::size_t>(std::snprintf(text, sizeof(text), "-"));
    cachedTime = when;
  }
  return std::string_view(text, length);
}

}  // namespace

CPTransactionLogEntry::CPTransactionLogEntry() { Reset(); }

void CPTransactionLogEntry::Reset() {
  m_Filled = false;
  m_HasLine = false;
  m_Line = kUnset;
  m_ClientAddress = kUnset;
  m_Method = kUnset;
  m_Uri = kUnset;
  m_Status = kUnset;
  m_Bytes = kUnset;
  m_Agent = kUnset;
  m_TimeTaken = kUnset;
  m_UpstreamHost = kUnset;
  m_UpstreamStatus = kUnset;
  m_Time = 0;
}

void CPTransactionLogEntry::SetClientAddress(std::string_view address) {
  m_ClientAddress = PaddedFieldText(address);
  m_Filled = true;
}

void CPTransactionLogEntry::SetMethod(std::string_view method) {
  m_Method = FieldText(method);
  m_Filled = true;
}

void CPTransactionLogEntry::SetUri(std::string_view uri) {
  m_Uri = FieldText(uri);
  m_Filled = true;
}

void CPTransactionLogEntry::SetStatus(int status) {
  m_Status = std::to_string(status);
  m_Filled = true;
}

void CPTransactionLogEntry::SetBytes(std::uint64_t bytes) {
  m_Bytes = std::to_string(bytes);
  m_Filled = true;
}

void CPTransactionLogEntry::SetTimeTaken(double seconds) {
  // A huge value has more digits than the buffer: it is measured and
  // formatted again at its full length.
  char text[32];
  const int length = std::snprintf(text, sizeof(text), "%5.4f", seconds);
  if (length >= 0 && static_cast<std::size_t>(length) < sizeof(text)) {
    m_TimeTaken.assign(text, static_cast<std::size_t>(length));
  } else if (length > 0) {
    m_TimeTaken.assign(static_cast<std::size_t>(length) + 1, '\0');
    std::snprintf(m_TimeTaken.data(), m_TimeTaken.size(), "%5.4f", seconds);
    m_TimeTaken.resize(static_cast<std::size_t>(length));
  }
  m_Filled = true;
}

void CPTransactionLogEntry::SetAgent(int kind) {
  m_Agent = std::to_string(kind);
  m_Filled = true;
}

void CPTransactionLogEntry::SetUpstreamHost(std::string_view host) {
  m_UpstreamHost = PaddedFieldText(host);
  m_Filled = true;
}

void CPTransactionLogEntry::SetUpstreamStatus(int status) {
  m_UpstreamStatus = std::to_string(status);
  m_Filled = true;
}

void CPTransactionLogEntry::Format() {
  if (m_Filled) FormatValues(kViewerValues);
}

void CPTransactionLogEntry::FormatValues(std::size_t valueCount) {
  const std::time_t now = std::time(nullptr);
  m_Time = static_cast<std::uint32_t>(now);
  const std::string_view dateTime = LocalDateTime(now);
  const std::string* values[] = {&m_ClientAddress, nullptr,    &m_Method,
                                 &m_Uri,           &m_Status,  &m_Bytes,
                                 &m_TimeTaken,     &m_Agent,   &m_UpstreamHost,
                                 &m_UpstreamStatus};
  static_assert(std::size(values) == kViewerValues);
  if (valueCount > kViewerValues) valueCount = kViewerValues;

  std::size_t length = dateTime.size() + 2;
  for (std::size_t i = 0; i < valueCount; ++i) {
    if (values[i] != nullptr) length += values[i]->size() + 1;
  }
  m_Line.clear();
  m_Line.reserve(length);
  for (std::size_t i = 0; i < valueCount; ++i) {
    if (i > 0) m_Line += ' ';
    if (values[i] != nullptr) {
      m_Line += *values[i];
    } else {
      m_Line += dateTime;
    }
  }
  m_Line += "\r\n";
  m_HasLine = true;
  m_Filled = false;
}

void CPAdminTransactionLogEntry::Format() {
  if (IsFilled()) FormatValues(kAdminValues);
}
