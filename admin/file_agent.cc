#include "admin/file_agent.h"

#include <algorithm>
#include <cctype>
#include <memory>

#include "admin/admin_auth.h"
#include "base/event_catalogue.h"
#include "base/text_scan.h"
#include "base/trace_bits.h"
#include "net/http_tables.h"
#include "platform/file.h"
#include "platform/registry.h"
#include "platform/system.h"
#include "platform/trace.h"
#include "regwrap/qr_registry.h"

namespace {


std::string WithSlash(std::string directory) {
  if (directory.empty() || directory.back() != '/') directory += '/';
  return directory;
}

// Whether `path` lies in `directory` once every link is followed.
bool ResolvesInside(const std::string& path, const std::string& directory) {
  const std::string resolvedDirectory = platform::CanonicalPath(directory);
  const std::string resolved = platform::CanonicalPath(path);
  if (resolvedDirectory.empty() || resolved.empty()) return false;
  return resolved == resolvedDirectory || resolved.rfind(WithSlash(resolvedDirectory), 0) == 0;
}

int Answer(CHTTPNetwork& connection, CHTTPResponseMessage& response, int code) {
  response.SetStatus(code, net::HTTPStatusReason(code), "HTTP/1.0");
  return response.Send(connection);
}

}  // namespace

std::string CFileAgent::JavaDirectory(const CPRegistry& settings) {
  return WithSlash(CPRegistry(settings).GetHomeDirectory()) + "Java/";
}

CFileAgent::CFileAgent(const CPRegistry& settings) : m_Settings(settings) {
  const std::string home = WithSlash(m_Settings.GetHomeDirectory());
  const std::string java = JavaDirectory(m_Settings);
  AddEntry("/", java);
  AddEntry("/Admin", java);
  AddEntry("/Admin/CorpChannel/com", java + "com/");
  AddEntry("/Admin/CorpTick/com", java + "com/");
  AddEntry("/Admin/CorpRedirect/com", java + "com/");
  AddEntry("/Admin/Corp", WithSlash(m_Settings.GetCorpDirectory()));
  std::vector<std::string> paths;
  m_Settings.GetFileAgentPaths(paths);
  for (const std::string& text : paths) {
    const std::size_t comma = text.find(',');
    if (comma == std::string::npos || text.find(',', comma + 1) != std::string::npos) continue;
    const std::string_view virtualPath = net::TrimBlanks(std::string_view(text).substr(0, comma));
    const std::string_view directory = net::TrimBlanks(std::string_view(text).substr(comma + 1));
    AddEntry(std::string(virtualPath), WithSlash(std::string(directory)));
  }
}

void CFileAgent::AddEntry(std::string virtualPath, std::string directory) {
  while (!virtualPath.empty() && virtualPath.back() == '/') virtualPath.pop_back();
  const std::string key = net::LowerCase(virtualPath);
  std::erase_if(m_Entries, [&](const Entry& entry) { return net::LowerCase(entry.virtualPath) == key; });
  const auto at = std::find_if(m_Entries.begin(), m_Entries.end(),
                               [&](const Entry& entry) { return net::LowerCase(entry.virtualPath) > key; });
  m_Entries.insert(at, Entry{std::move(virtualPath), std::move(directory)});
}

const CFileAgent::Entry* CFileAgent::FindEntry(std::string_view path) const {
  for (auto entry = m_Entries.rbegin(); entry != m_Entries.rend(); ++entry) {
    const std::string& virtualPath = entry->virtualPath;
    if (virtualPath.size() > path.size() || !net::StartsWithNoCase(path, virtualPath)) continue;
    if (path.size() == virtualPath.size() || path[virtualPath.size()] == '/') return &*entry;
  }
  return nullptr;
}

std::string CFileAgent::MapPath(std::string_view path) const {
  const Entry* entry = FindEntry(path);
  if (entry == nullptr) return {};
  std::string_view rest = path.substr(entry->virtualPath.size());
  while (!rest.empty() && rest.front() == '/') rest.remove_prefix(1);
  return entry->directory + std::string(rest);
}

bool CFileAgent::PassesDepthCheck(std::string_view path) {
  int depth = 0;
  std::size_t start = 0;
  while (start <= path.size()) {
    const std::size_t end = std::min(path.find('/', start), path.size());
    const std::string_view segment = path.substr(start, end - start);
    // Empty segments and "." stay where they are.
    if (segment == "..") {
      if (--depth < 0) return false;
    } else if (!segment.empty() && segment != ".") {
      ++depth;
    }
    start = end + 1;
  }
  return true;
}

std::string CFileAgent::ContentType(std::string_view fileName) {
  const std::size_t slash = fileName.find_last_of('/');
  const std::size_t dot = fileName.rfind('.');
  if (dot == std::string_view::npos || (slash != std::string_view::npos && dot < slash)) {
    return "application/octet-stream";
  }
  const std::string extension(fileName.substr(dot));
  QRRegistry key(QRRegistry(platform::HKEY_CLASSES_ROOT), extension.c_str(), nullptr);
  std::string type;
  if (key.Open(0) && key.GetValue("Content Type", &type) && !type.empty()) return type;
  const char* known = net::HTTPContentType(extension);
  return known != nullptr ? known : "application/octet-stream";
}

bool CFileAgent::IsAuthorised(const CHTTPRequestMessage& request) const {
  return admin_auth::IsAuthorised(m_Settings, request);
}

int CFileAgent::SendAuthRequest(CHTTPNetwork& connection, CHTTPResponseMessage& response) {
  trace(trace_bits::kRequest, "CFileAgent::SendAuthRequest - sending request for authentication\n");
  return admin_auth::SendAuthRequest(connection, response);
}

int CFileAgent::SendFile(CHTTPNetwork& connection, const CHTTPRequestMessage& request,
                         CHTTPResponseMessage& response) {
  response.AddHeader("Server", net::HTTPUserAgent());
  const std::string& path = request.URI();
  if (!PassesDepthCheck(path) || path.find('\0') != std::string::npos) {
    trace(trace_bits::kRequest, "CFileAgent::ProcessRequest - path %s failed security check\n", path.c_str());
    return Answer(connection, response, 404);
  }
  const Entry* entry = FindEntry(path);
  if (entry == nullptr) return Answer(connection, response, 404);
  std::string name = MapPath(path);
  trace(trace_bits::kRequest, "CFileAgent::ProcessRequest - mapping virtual directory %s to %s\n",
        entry->virtualPath.c_str(), entry->directory.c_str());
  bool redirect = false;
  if (platform::DirectoryExists(name)) {
    if (!path.empty() && path.back() == '/') {
      name = WithSlash(name) + "index.html";
    } else {
      redirect = true;
    }
  }
  // A link may not lead out of the entry's directory.
  if (platform::FileExists(name) && !ResolvesInside(name, entry->directory)) {
    trace(trace_bits::kRequest, "CFileAgent::ProcessRequest - path %s failed security check\n", path.c_str());
    return Answer(connection, response, 404);
  }
  if (redirect) {
    trace(trace_bits::kRequest, "CFileAgent::ProcessRequest - sending redirection %s\n", path.c_str());
    response.AddHeader("Location", path + "/");
    return Answer(connection, response, 302);
  }
  std::unique_ptr<platform::File> file = platform::File::Open(name, platform::File::Mode::kRead);
  if (file == nullptr) {
    trace(trace_bits::kRequest, "CFileAgent::ProcessRequest - error opening file %s\n", name.c_str());
    const platform::DWORD error = platform::GetLastError();
    const bool missing = error == platform::kErrorFileNotFound || error == platform::kErrorPathNotFound;
    return Answer(connection, response, missing ? 404 : 500);
  }
  trace(trace_bits::kRequest, "CFileAgent::ProcessRequest - sending file %s\n", name.c_str());
  response.AddHeader("Content-type", ContentType(name));
  const long long size = file->Size();
  if (size >= 0) response.AddHeader(kContentLengthHeader, std::to_string(size));
  response.SetBodyFile(file.get());
  return Answer(connection, response, 200);
}

int CFileAgent::ProcessRequest(CHTTPNetwork& connection, const CHTTPRequestMessage& request,
                               CHTTPResponseMessage& response) {
  const int method = request.Method();
  trace(trace_bits::kRequest, "CFileAgent::ProcessRequest - received request %s %s\n", request.MethodName().c_str(),
        request.URI().c_str());
  int sent;
  switch (method) {
    case net::kHTTPHead:
      response.SetNoBody(true);
      [[fallthrough]];
    case net::kHTTPGet:
      sent = IsAuthorised(request) ? SendFile(connection, request, response) : SendAuthRequest(connection, response);
      break;
    case net::kHTTPPost:
    case net::kHTTPPut:
    case net::kHTTPDelete:
      trace(trace_bits::kRequest, "CFileAgent::ProcessRequest - Method %s not supported\n",
            request.MethodName().c_str());
      response.AddHeader("Server", net::HTTPUserAgent());
      sent = Answer(connection, response, 405);
      break;
    default:
      trace(trace_bits::kRequest, "CFileAgent::ProcessRequest - Method %s unknown\n", request.MethodName().c_str());
      response.AddHeader("Server", net::HTTPUserAgent());
      sent = Answer(connection, response, 501);
      break;
  }
  if (sent == 0) {
    const int error = connection.LastError();
    trace(trace_bits::kNetwork, "CFileAgent::ProcessRequest() - Error sending response on network : %d\n", error);
    events::Report<events::kAdminSendFailed>(std::to_string(error));
  }
  return 1;
}
