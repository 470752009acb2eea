// Edits and look-ups on the text of an upstream request and of its answer's
// header: the credentials lines added on a 401 or 407, the absolute request
// line spoken to an HTTP proxy, and the target of a 302.
#pragma once

#include <string>
#include <string_view>

namespace upstream {

// Adds `line` (without its CR LF) as the last header line, just before the
// blank line that ends the head. False, and nothing changed, when the
// request has no "\r\n\r\n".
bool InsertHeaderLine(std::string& request, std::string_view line);

// Whether a header line of the request is `name` (case ignored) with a value
// that begins with "Basic ". Only whole names count: "Proxy-Authorization"
// is not "Authorization".
bool HasBasicCredentials(std::string_view request, std::string_view name);

// The request line in the absolute form a proxy needs: the text before the
// first "/", then "http://host:port", then the rest from that "/" on. A
// request without a "/" stays as it is.
std::string MakeAbsoluteRequest(std::string_view request, std::string_view host, unsigned port);

// The "user:password" text in base64, as an Authorization value takes it.
std::string BasicCredentials(std::string_view user, std::string_view password);

enum class RedirectTarget { kNone, kNoPort, kFound };
// The host and port of the answer's "Location: http://host:port/..." line.
// kNone when there is no such line (or its URL is not http), kNoPort when it
// names no valid port: such a redirection is not followed.
RedirectTarget ParseRedirectLocation(std::string_view header, std::string& host, unsigned& port);

}  // namespace upstream
