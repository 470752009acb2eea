#include "admin/admin_auth.h"

#include "base/kibo_folder.h"
#include "base/text_scan.h"
#include "config/admin_password.h"
#include "net/http_tables.h"

namespace admin_auth {
namespace {

constexpr std::string_view kAuthorization = "Authorization: Basic";
constexpr const char* kAuthBody =
    "<BODY><H1>Authentication required to access the Zondrel Administration Server</H1></BODY>\n";

// The decoded credentials of the request, or nothing.
bool Credentials(const CHTTPRequestMessage& request, std::string& credentials) {
  for (const std::string& line : request.HeaderLines()) {
    if (!net::StartsWithNoCase(line, kAuthorization)) continue;
    credentials = CKiboFolder::Base64Decode(net::TrimBlanks(std::string_view(line).substr(kAuthorization.size())));
    return true;
  }
  return false;
}

}  // namespace

bool IsAuthorised(const CPRegistry& settingsIn, const CHTTPRequestMessage& request) {
  // Read at every request: a new password holds at once.
  CPRegistry settings(settingsIn);
  const std::string stored = settings.GetAdminPassword();
  if (stored.empty()) return true;
  std::string credentials;
  return Credentials(request, credentials) && credentials == admin_password::Recover(stored);
}

int SendAuthRequest(CHTTPNetwork& connection, CHTTPResponseMessage& response) {
  response.SetStatus(401, net::HTTPStatusReason(401), "HTTP/1.0");
  response.AddHeader("Server", net::HTTPUserAgent());
  response.AddHeader("WWW-Authenticate", std::string("Basic realm=\"") + kRealm + "\"");
  response.Body() = kAuthBody;
  return response.Send(connection);
}

std::string UserName(const CHTTPRequestMessage& request) {
  std::string credentials;
  if (!Credentials(request, credentials)) return {};
  return credentials.substr(0, credentials.find(':'));
}

}  // namespace admin_auth
