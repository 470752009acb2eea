#include "upstream/http_file.h"

#include <algorithm>
#include <cstring>
#include <ctime>
#include <exception>
#include <filesystem>
#include <system_error>

#include "base/trace_bits.h"
#include "net/http_tables.h"
#include "platform/socket.h"
#include "platform/trace.h"
#include "upstream/file_url.h"
#include "upstream/http_stream.h"
#include "upstream/no_proxy_list.h"
#include "upstream/request_text.h"

namespace {

// "Sunday, 06-Nov-94 08:49:37 GMT": the date form of the conditional request.
std::string ConditionalDate(std::int64_t time) {
  const std::time_t seconds = static_cast<std::time_t>(time);
  std::tm parts{};
  if (gmtime_r(&seconds, &parts) == nullptr) return {};
  char text[64];
  const std::size_t length = std::strftime(text, sizeof(text), "%A, %d-%b-%y %H:%M:%S GMT", &parts);
  return std::string(text, length);
}

bool CreateFolders(const std::string& file) {
  std::error_code error;
  std::filesystem::create_directories(std::filesystem::path(file).parent_path(), error);
  return !error;
}

void RemoveQuietly(const std::string& path) {
  std::error_code error;
  std::filesystem::remove(path, error);
}

}  // namespace

HTTPFile::HTTPFile(const CPRegistry& settings) : m_Settings(settings) {}

HTTPFile::~HTTPFile() = default;

int HTTPFile::GetCredentials(std::string& user, std::string& password) { return 0; }

int HTTPFile::Open(const std::string& name, platform::File::Mode mode, int force, int head) {
  Close();
  if (OpenLocal(name, mode)) return 1;
  try {
    return OpenURL(name, mode, force, head);
  } catch (const std::exception&) {
    trace(trace_bits::kNetwork, "HTTPFile: Unable to open file: %s\n", name.c_str());
    return 0;
  }
}

bool HTTPFile::OpenLocal(const std::string& path, platform::File::Mode mode) {
  m_File = platform::File::Open(path, mode);
  m_LastError = m_File != nullptr ? platform::kErrorSuccess : platform::GetLastError();
  if (m_File == nullptr) return false;
  m_FileName = upstream::ReplaceNameCharacters(path);
  m_ReadPosition = m_ReadEnd = 0;
  return true;
}

int HTTPFile::OpenURL(const std::string& name, platform::File::Mode mode, int force, int head) {
  trace(trace_bits::kNetwork, "HTTPFile: Treating %s as URL\n", name.c_str());
  std::string url = name;
  std::replace(url.begin(), url.end(), '\\', '/');
  upstream::FileURL parts;
  switch (upstream::ParseFileURL(url, parts)) {
    case upstream::URLParse::kUnparsable:
      trace(trace_bits::kNetwork, "HTTPFile: URL could not be parsed: %s\n", url.c_str());
      return Fail(kErrorBadURL);
    case upstream::URLParse::kNotHttp:
      trace(trace_bits::kNetwork, "HTTPFile: Protocol not supported: %s\n", url.c_str());
      return Fail(kErrorProtocol);
    case upstream::URLParse::kParsed:
      break;
  }

  const std::string copy = upstream::LocalCopyName(m_Settings.GetTempDirectory(), parts);
  CreateFolders(copy);
  const std::int64_t copyTime = platform::FileModificationTime(copy);

  trace(trace_bits::kNetwork, "HTTPFile: Getting %s from net\n", url.c_str());
  const std::string proxyHost = m_Settings.GetProxyHost();
  const unsigned proxyPort = m_Settings.GetProxyPort();
  const bool useProxy =
      proxyPort != 0 && !proxyHost.empty() && !upstream::BypassesProxy(m_Settings.GetNoProxyList(), parts.host);

  std::string request = head != 0 ? "HEAD" : "GET";
  if (useProxy) {
    request += " http://" + parts.host + ":" + std::to_string(parts.port) + parts.path + " HTTP/1.0\r\n";
  } else {
    request += " " + parts.path + " HTTP/1.0\r\n";
  }
  if (copyTime >= 0 && force == 0) request += "IF-MODIFIED-SINCE: " + ConditionalDate(copyTime) + "\r\n";
  request += net::HTTPUserAgentHeader() + "\r\nAccept: */*\r\n\r\n";

  CPHTTPStream stream(m_Settings);
  const std::string& dialHost = useProxy ? proxyHost : parts.host;
  const unsigned dialPort = useProxy ? proxyPort : parts.port;
  int status = Exchange(stream, request, dialHost, dialPort);
  // Each kind of credentials is offered once, so this ends after three answers.
  for (;;) {
    if (status < 0) return 0;
    std::string credentials;
    if (status == 407 && useProxy && !upstream::HasBasicCredentials(request, "Proxy-Authorization")) {
      credentials = "Proxy-Authorization: Basic " +
                    upstream::BasicCredentials(m_Settings.GetProxyUser(), m_Settings.GetProxyPassword());
    } else if (status == 401 && !upstream::HasBasicCredentials(request, "Authorization")) {
      std::string user;
      std::string password;
      if (GetCredentials(user, password) != 0) {
        credentials = "Authorization: Basic " + upstream::BasicCredentials(user, password);
      }
    }
    if (credentials.empty() || !upstream::InsertHeaderLine(request, credentials)) break;
    stream.Close();
    status = Exchange(stream, request, dialHost, dialPort);
  }

  int opened = 0;
  if (status == 200 && head == 0) {
    if (SaveCopy(stream, m_LastHeader, copy)) opened = OpenLocal(copy, mode) ? 1 : 0;
  } else if (status == 304 || status == 200) {
    // Unchanged, or a HEAD answer that carries no document: the copy serves.
    opened = OpenLocal(copy, mode) ? 1 : 0;
  } else {
    trace(trace_bits::kNetwork, "HTTPFile: HTTP error getting url: %s, Response: %d\n", url.c_str(), status);
    m_LastError = kErrorHTTPBase + static_cast<platform::DWORD>(status);
  }
  stream.Close();
  return opened;
}

int HTTPFile::Exchange(CPHTTPStream& stream, const std::string& request, const std::string& host, unsigned port) {
  if (stream.Open(host, port) != 0) {
    trace(trace_bits::kNetwork, "HTTPFile: Error opening connection: %d\n", platform::WSAGetLastError());
    stream.Close();
    m_LastError = kErrorConnect;
    return -1;
  }
  if (stream.Write(request.data(), request.size()) != static_cast<int>(request.size())) {
    trace(trace_bits::kNetwork, "HTTPFile: Unable to Write on socket: %d\n", platform::WSAGetLastError());
    stream.Close();
    m_LastError = kErrorWrite;
    return -1;
  }
  return stream.ReadHeader(m_LastHeader);
}

bool HTTPFile::SaveCopy(CPHTTPStream& stream, const std::string& header, const std::string& copy) {
  const long long announced = stream.GetContentLength(header);
  const std::string part = copy + ".part";
  std::unique_ptr<platform::File> out = platform::File::Open(part, platform::File::Mode::kCreate);
  if (out == nullptr) {
    m_LastError = platform::GetLastError();
    trace(trace_bits::kNetwork, "HTTPFile: Unable to open file: %s\n", part.c_str());
    return false;
  }
  // Complete when the announced length arrived, or, without one, when the
  // server closed the connection; a timeout or an error is a cut document.
  char block[kCopyBlock];
  long long total = 0;
  bool complete = false;
  bool written = true;
  while (total <= kMaxCopyBytes) {
    std::size_t want = sizeof(block);
    if (announced >= 0) {
      if (total == announced) {
        complete = true;
        break;
      }
      want = static_cast<std::size_t>(std::min<long long>(static_cast<long long>(want), announced - total));
    }
    const int got = stream.Read(block, want);
    if (got <= 0) {
      complete = got == 0 && announced < 0;
      break;
    }
    total += got;
    if (out->Write(block, static_cast<std::size_t>(got)) < 0) {
      written = false;
      break;
    }
  }
  out.reset();
  if (!written || !complete || total > kMaxCopyBytes) {
    trace(trace_bits::kNetwork, "HTTPFile: Document for %s incomplete after %lld bytes\n", copy.c_str(), total);
    RemoveQuietly(part);
    m_LastError = written ? kErrorIncomplete : platform::kErrorWriteFault;
    return false;
  }
  if (!platform::RenameOver(part, copy)) {
    m_LastError = platform::kErrorWriteFault;
    return false;
  }
  return true;
}

void HTTPFile::Close() {
  m_File.reset();
  m_ReadPosition = m_ReadEnd = 0;
}

long long HTTPFile::Read(void* buffer, std::size_t length) {
  if (m_File == nullptr) return -1;
  // Bytes ReadString has buffered come first.
  std::size_t done = 0;
  if (m_ReadPosition < m_ReadEnd) {
    done = std::min(length, m_ReadEnd - m_ReadPosition);
    std::memcpy(buffer, m_ReadBuffer.data() + m_ReadPosition, done);
    m_ReadPosition += done;
  }
  if (done == length) return static_cast<long long>(done);
  const long long got = m_File->Read(static_cast<char*>(buffer) + done, length - done);
  if (got < 0) return done > 0 ? static_cast<long long>(done) : -1;
  return static_cast<long long>(done) + got;
}

bool HTTPFile::ReadString(std::string& line) {
  line.clear();
  if (m_File == nullptr) return false;
  if (m_ReadBuffer.empty()) m_ReadBuffer.resize(4096);
  bool any = false;
  while (line.size() < kMaxLineLength) {
    if (m_ReadPosition == m_ReadEnd) {
      const long long got = m_File->Read(m_ReadBuffer.data(), m_ReadBuffer.size());
      if (got <= 0) break;
      m_ReadPosition = 0;
      m_ReadEnd = static_cast<std::size_t>(got);
    }
    any = true;
    const char* start = m_ReadBuffer.data() + m_ReadPosition;
    const std::size_t available = std::min(m_ReadEnd - m_ReadPosition, kMaxLineLength - line.size());
    const char* end = static_cast<const char*>(std::memchr(start, '\n', available));
    if (end != nullptr) {
      line.append(start, static_cast<std::size_t>(end - start));
      m_ReadPosition += static_cast<std::size_t>(end - start) + 1;
      if (!line.empty() && line.back() == '\r') line.pop_back();
      return true;
    }
    line.append(start, available);
    m_ReadPosition += available;
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return any;
}

long long HTTPFile::GetLength() const { return m_File != nullptr ? m_File->Size() : -1; }

bool HTTPFile::SeekToBegin() {
  m_ReadPosition = m_ReadEnd = 0;
  return m_File != nullptr && m_File->Seek(0) == 0;
}

std::unique_ptr<platform::File> HTTPFile::Detach() {
  if (m_File != nullptr && m_ReadPosition < m_ReadEnd) {
    // Hand it over where the reader stands, not where the buffer stopped.
    m_File->Seek(m_File->Position() - static_cast<long long>(m_ReadEnd - m_ReadPosition));
  }
  m_ReadPosition = m_ReadEnd = 0;
  return std::move(m_File);
}
