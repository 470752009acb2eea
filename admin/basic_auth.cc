#include "admin/basic_auth.h"

#include <string>
#include <string_view>

#include "base/kibo_folder.h"
#include "base/text_scan.h"
#include "config/admin_password.h"
#include "net/http_tables.h"

namespace admin_auth {

namespace {

constexpr std::string_view kAuthorization = "Authorization: Basic";
constexpr const char* kAuthBody =
    "<BODY><H1>Authentication required to access the Zondrel Administration Server</H1></BODY>\n";

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && net::EqualsNoCase(text.substr(0, prefix.size()), prefix);
}

}  // namespace

bool IsAuthorised(const CPRegistry& settings, const CHTTPRequestMessage& request) {
  CPRegistry copy(settings);
  const std::string stored = copy.GetAdminPassword();
  if (stored.empty()) return true;
  for (const std::string& line : request.HeaderLines()) {
    if (!StartsWithNoCase(line, kAuthorization)) continue;
    const std::string_view credentials = net::TrimBlanks(std::string_view(line).substr(kAuthorization.size()));
    return CKiboFolder::Base64Decode(credentials) == admin_password::Recover(stored);
  }
  return false;
}

int SendAuthRequest(CHTTPNetwork& connection, CHTTPResponseMessage& response) {
  response.SetStatus(401, net::HTTPStatusReason(401), "HTTP/1.0");
  response.AddHeader("Server", net::HTTPUserAgent());
  response.AddHeader("WWW-Authenticate", std::string("Basic realm=\"") + kRealm + "\"");
  response.Body() = kAuthBody;
  return response.Send(connection);
}

}  // namespace admin_auth
