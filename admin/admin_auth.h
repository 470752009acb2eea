// Who may use the administration web server: with an empty
// Admin\AdminPassword everybody; otherwise a request whose Basic
// credentials ("user:password") equal the stored ones exactly. Every
// handler behind it asks the same question and sends the same challenge.
#pragma once

#include <string>

#include "config/cp_registry.h"
#include "net/http_message.h"
#include "net/http_network.h"

namespace admin_auth {

inline constexpr const char* kRealm = "Zondrel Administration";

bool IsAuthorised(const CPRegistry& settings, const CHTTPRequestMessage& request);
// Answers 401 with the realm's challenge; nonzero when it went out.
int SendAuthRequest(CHTTPNetwork& connection, CHTTPResponseMessage& response);
// The user name of the request's Basic credentials, empty without any.
std::string UserName(const CHTTPRequestMessage& request);

}  // namespace admin_auth
