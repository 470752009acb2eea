#include "net/http_message.h"

#include <string>

#include "net/http_network.h"
#include "net/http_tables.h"
#include "base/text_scan.h"

namespace {

constexpr std::string_view kLineEnd = "\r\n";

bool HasLineBreak(std::string_view text) { return text.find_first_of("\r\n") != std::string_view::npos; }

// The value of `line` when it is a header line called `name`.
std::optional<std::string_view> HeaderValueOf(std::string_view line, std::string_view name) {
  const std::size_t colon = line.find(':');
  if (colon == std::string_view::npos || !net::EqualsNoCase(net::TrimBlanks(line.substr(0, colon)), name)) {
    return std::nullopt;
  }
  return net::TrimBlanks(line.substr(colon + 1));
}

// The next blank-separated word of `text`, taken off its front.
std::string_view NextWord(std::string_view& text) {
  std::size_t start = text.find_first_not_of(' ');
  if (start == std::string_view::npos) {
    text = {};
    return {};
  }
  text.remove_prefix(start);
  std::size_t end = text.find(' ');
  std::string_view word = text.substr(0, end);
  text.remove_prefix(end == std::string_view::npos ? text.size() : end);
  return word;
}

}  // namespace

bool IsHTTPStatusLine(std::string_view line) { return line.substr(0, 5) == "HTTP/"; }

bool CHTTPMessage::ParseHead(std::string_view block) {
  m_HeaderLines.clear();
  bool first = true;
  while (!block.empty()) {
    const std::size_t end = block.find('\n');
    std::string_view line = block.substr(0, end);
    block.remove_prefix(end == std::string_view::npos ? block.size() : end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (first) {
      if (!ParseStartLine(line)) return false;
      first = false;
    } else if (line.empty()) {
      break;  // the blank line ends the head
    } else {
      m_HeaderLines.emplace_back(line);
    }
  }
  return !first;
}

std::string CHTTPMessage::FormatHead() const {
  std::string head = StartLine();
  head += kLineEnd;
  for (const std::string& line : m_HeaderLines) {
    head += line;
    head += kLineEnd;
  }
  head += kLineEnd;
  return head;
}

int CHTTPMessage::Send(CHTTPNetwork& network) const {
  const std::string head = FormatHead();
  if (network.Write(head.data(), head.size()) < 0) return 0;
  if (m_NoBody) return 1;
  if (m_BodyFile != nullptr) return network.WriteFile(*m_BodyFile) < 0 ? 0 : 1;
  if (!m_Body.empty() && network.Write(m_Body.data(), m_Body.size()) < 0) return 0;
  return 1;
}

bool CHTTPMessage::AddHeaderLine(std::string line) {
  if (HasLineBreak(line)) return false;
  m_HeaderLines.push_back(std::move(line));
  return true;
}

bool CHTTPMessage::AddHeader(std::string_view name, std::string_view value) {
  std::string line(name);
  line += ": ";
  line += value;
  return AddHeaderLine(std::move(line));
}

bool CHTTPMessage::AddHeader(std::string_view name, int value) { return AddHeader(name, std::to_string(value)); }

bool CHTTPMessage::SetHeader(std::string_view name, std::string_view value) {
  for (std::string& line : m_HeaderLines) {
    if (!HeaderValueOf(line, name)) continue;
    std::string replaced(name);
    replaced += ": ";
    replaced += value;
    if (HasLineBreak(replaced)) return false;
    line = std::move(replaced);
    return true;
  }
  return AddHeader(name, value);
}

void CHTTPMessage::RemoveHeader(std::string_view name) {
  std::erase_if(m_HeaderLines, [name](const std::string& line) { return HeaderValueOf(line, name).has_value(); });
}

std::optional<std::string_view> CHTTPMessage::FindHeader(std::string_view name) const {
  for (const std::string& line : m_HeaderLines) {
    if (auto value = HeaderValueOf(line, name)) return value;
  }
  return std::nullopt;
}

int CHTTPMessage::ContentLength() const {
  auto value = FindHeader(kContentLengthHeader);
  return value ? net::ScanLong(*value) : -1;
}

void CHTTPMessage::SetContentLength(int length) { SetHeader(kContentLengthHeader, std::to_string(length)); }

void CHTTPRequestMessage::SetRequestLine(int method, std::string uri, std::string version) {
  m_Method = net::HTTPMethodName(method)[0] != '\0' ? method : net::kHTTPUnknown;
  m_MethodName = net::HTTPMethodName(m_Method);
  m_URI = std::move(uri);
  m_Version = std::move(version);
}

std::string CHTTPRequestMessage::StartLine() const { return m_MethodName + " " + m_URI + " " + m_Version; }

bool CHTTPRequestMessage::ParseStartLine(std::string_view line) {
  if (IsHTTPStatusLine(line)) return false;
  std::string_view method = NextWord(line);
  std::string_view uri = NextWord(line);
  std::string_view version = NextWord(line);
  if (method.empty() || uri.empty() || !NextWord(line).empty()) return false;
  if (!version.empty() && !IsHTTPStatusLine(version)) return false;
  m_Method = net::HTTPMethodIndex(method);
  m_MethodName = method;
  m_URI = uri;
  m_Version = version;
  return true;
}

void CHTTPResponseMessage::SetStatus(int code, const char* reason, std::string version) {
  if (reason == nullptr) reason = net::HTTPStatusReason(code);
  m_StatusCode = code;
  m_Reason = reason != nullptr ? reason : "";
  m_Version = std::move(version);
}

std::string CHTTPResponseMessage::StartLine() const {
  return m_Version + " " + std::to_string(m_StatusCode) + " " + m_Reason;
}

bool CHTTPResponseMessage::ParseStartLine(std::string_view line) {
  if (!IsHTTPStatusLine(line)) return false;
  std::string_view version = NextWord(line);
  std::string_view code = NextWord(line);
  if (code.size() != 3 || code.find_first_not_of("0123456789") != std::string_view::npos || code[0] == '0') {
    return false;
  }
  m_Version = version;
  m_StatusCode = net::ScanLong(code);
  // The reason is the rest after the one blank behind the code.
  m_Reason = line.empty() ? std::string() : std::string(line.substr(1));
  return true;
}

bool CHTTPResponseMessage::ExpectsBody() const {
  return !NoBody() && m_StatusCode >= 200 && m_StatusCode != 204 && m_StatusCode != 304;
}
