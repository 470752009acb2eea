// Basic authentication of the administration web server against the stored
// administration password: every handler behind it asks the same question
// and sends the same challenge.
#pragma once

#include "config/cp_registry.h"
#include "net/http_message.h"
#include "net/http_network.h"

namespace admin_auth {

inline constexpr const char* kRealm = "Zondrel Administration";

// True when no password is stored, or the request's Basic credentials are
// the stored ones.
bool IsAuthorised(const CPRegistry& settings, const CHTTPRequestMessage& request);
// Answers 401 with the realm's challenge; nonzero when it went out.
int SendAuthRequest(CHTTPNetwork& connection, CHTTPResponseMessage& response);

}  // namespace admin_auth
