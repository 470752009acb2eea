// Who may use the administration web server: with an empty
// Admin\AdminPassword everybody; otherwise a request whose Basic
// credentials ("user:password") equal the stored ones exactly.
#pragma once

#include <string>

#include "config/cp_registry.h"
#include "net/http_message.h"

namespace admin_auth {

inline constexpr const char* kRealm = "Zondrel Administration";

bool IsAuthorised(const CPRegistry& settings, const CHTTPRequestMessage& request);
// The user name of the request's Basic credentials, empty without any.
std::string UserName(const CHTTPRequestMessage& request);

}  // namespace admin_auth
