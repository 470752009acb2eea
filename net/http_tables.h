// The process-wide HTTP tables of the plain HTTP/1.0 side of the server (the
// administration web server, background fetches): status reasons, content
// types by file extension, method names and the server's User-Agent text.
// Constant or built on first use, read-only afterwards, so any thread may read.
#pragma once

#include <string>
#include <string_view>

#include "base/product_identity.h"

namespace net {

// The reason text of a status code ("Not Found" for 404), or null for a code
// the table does not know.
const char* HTTPStatusReason(int code);

// The content type of a file extension with its dot (".htm" → "text/html"),
// or null when unknown: the caller picks its own default. Case is ignored, as
// file names from browsers and from disk mix it freely.
const char* HTTPContentType(std::string_view extension);

// Method indices of the administration requests. This order is not the
// viewer parser's.
enum HTTPMethod { kHTTPHead = 0, kHTTPGet = 1, kHTTPPost = 2, kHTTPPut = 3, kHTTPDelete = 4, kHTTPUnknown = 5 };
// The method's name; "" for kHTTPUnknown and any index outside the table.
const char* HTTPMethodName(int index);
// The index of a method name (exact case, as HTTP defines them); kHTTPUnknown
// for any other text.
int HTTPMethodIndex(std::string_view name);

// "Zondrel/1.1 Build 1.1.68 domino (Linux 6.1 Build 0)" for the given system.
std::string FormatUserAgent(const SystemVersion& system);
// The server's product identification string, for this system, built once.
const std::string& HTTPUserAgent();
// "User-Agent: " followed by HTTPUserAgent(), without a line end.
const std::string& HTTPUserAgentHeader();

}  // namespace net
