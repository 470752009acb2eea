#include "net/http_tables.h"

#include <cstddef>
#include <iterator>

#include "base/text_scan.h"

namespace net {

namespace {

struct StatusReason {
  int code;
  const char* reason;
};

// Shared with the agents' error packets.
constexpr StatusReason kStatusReasons[] = {
    {100, "Continue"},
    {101, "Switching Protocols"},
    {200, "OK"},
    {201, "Created"},
    {202, "Accepted"},
    {203, "Non-Authoritative Information"},
    {204, "No Content"},
    {205, "Reset Content"},
    {206, "Partial Content"},
    {300, "Multiple Choices"},
    {301, "Moved Permanently"},
    {302, "Moved Temporarily"},
    {303, "See Other"},
    {304, "Not Modified"},
    {305, "Use Proxy"},
    {400, "Bad Request"},
    {401, "Unauthorized"},
    {402, "Payment Required"},
    {403, "Forbidden"},
    {404, "Not Found"},
    {405, "Method Not Allowed"},
    {406, "None Acceptable"},
    {407, "Proxy Authentication Required"},
    {408, "Request Timeout"},
    {409, "Conflict"},
    {410, "Gone"},
    {411, "Length Required"},
    {412, "Unless True"},
    {500, "Internal Server Error"},
    {501, "Not Implemented"},
    {502, "Bad Gateway"},
    {503, "Service Unavailable"},
    {504, "Gateway Timeout"},
};

struct ContentType {
  const char* extension;
  const char* type;
};

constexpr ContentType kContentTypes[] = {
    {".txt", "text/plain"}, {".html", "text/html"},  {".htm", "text/html"},
    {".gif", "image/gif"},  {".jpg", "image/jpeg"}, {".jpeg", "image/jpeg"},
};

constexpr const char* kMethodNames[] = {"HEAD", "GET", "POST", "PUT", "DELETE", ""};

}  // namespace

const char* HTTPStatusReason(int code) {
  for (const StatusReason& entry : kStatusReasons) {
    if (entry.code == code) return entry.reason;
  }
  return nullptr;
}

const char* HTTPContentType(std::string_view extension) {
  for (const ContentType& entry : kContentTypes) {
    if (EqualsNoCase(extension, entry.extension)) return entry.type;
  }
  return nullptr;
}

const char* HTTPMethodName(int index) {
  if (index < 0 || index >= static_cast<int>(std::size(kMethodNames))) return "";
  return kMethodNames[index];
}

int HTTPMethodIndex(std::string_view name) {
  for (int index = kHTTPHead; index < kHTTPUnknown; ++index) {
    if (name == kMethodNames[index]) return index;
  }
  return kHTTPUnknown;
}

std::string FormatUserAgent(const SystemVersion& system) {
  // "Zondrel/%d.%d %s (%s %d.%d Build %d)"; built by pieces so that no system
  // name can overrun a buffer.
  return "Zondrel/" + std::to_string(kProductMajorVersion) + "." + std::to_string(kProductMinorVersion) +
         " " + kProductBuildText + " (" + system.name + " " + std::to_string(system.major) + "." +
         std::to_string(system.minor) + " Build " + std::to_string(system.build) + ")";
}

const std::string& HTTPUserAgent() {
  static const std::string value = FormatUserAgent(RunningSystemVersion());
  return value;
}

const std::string& HTTPUserAgentHeader() {
  static const std::string header = "User-Agent: " + HTTPUserAgent();
  return header;
}

}  // namespace net
