#include "domino/cgi_request.h"

#include <cstdio>
#include <cstdlib>

namespace domino {

namespace {

constexpr const char* kVariables[] = {
    "AUTH_TYPE",   "CONTENT_LENGTH", "CONTENT_TYPE", "GATEWAY_INTERFACE", "PATH_INFO",       "PATH_TRANSLATED",
    "QUERY_STRING", "REMOTE_ADDR",   "REMOTE_HOST",  "REMOTE_USER",       "REQUEST_METHOD",  "SCRIPT_NAME",
    "SERVER_NAME", "SERVER_PORT",    "SERVER_PROTOCOL", "SERVER_SOFTWARE",
};

}  // namespace

std::optional<std::string> CgiRequest::Get(const std::string& name, std::size_t limit) const {
  const auto it = variables.find(name);
  if (it == variables.end()) return std::nullopt;
  return it->second.substr(0, limit);
}

CgiRequest CgiRequest::FromProcess(int argc, char** argv) {
  CgiRequest request;
  for (const char* name : kVariables) {
    if (const char* value = std::getenv(name); value != nullptr) request.variables[name] = value;
  }
  request.read_body = [](char* buffer, std::size_t length) { return std::fread(buffer, 1, length, stdin); };
  if (argc > 1) request.argument = argv[1];
  return request;
}

bool CgiHeaderHasStatus(const CgiRequest& request) {
  const auto gateway = request.Get("GATEWAY_INTERFACE");
  return gateway.has_value() && *gateway != "CGI/1.1";
}

std::string CgiHeader(const CgiRequest& request, const char* content_type, const char* status) {
  std::string header = std::string("Content-type: ") + content_type + "\n";
  if (CgiHeaderHasStatus(request)) header += std::string("Status: ") + status + "\n";
  return header + "\n";
}

std::string ReadRequestBody(const CgiRequest& request, std::size_t limit) {
  const auto length_text = request.Get("CONTENT_LENGTH", 32);
  if (!length_text || length_text->empty() || !request.read_body) return "";
  unsigned long long length = 0;
  for (char c : *length_text) {
    if (c < '0' || c > '9') return "";  // negative or not a number
    length = length * 10 + static_cast<unsigned>(c - '0');
    if (length > limit) length = limit;  // no overflow however long the text
  }
  std::string body(static_cast<std::size_t>(length), '\0');
  std::size_t got = 0;
  while (got < body.size()) {
    const std::size_t n = request.read_body(body.data() + got, body.size() - got);
    if (n == 0) break;
    got += n;
  }
  body.resize(got);
  return body;
}

bool SameText(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

}  // namespace domino
