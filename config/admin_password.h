// The stored form of the administration password (Admin\AdminPassword): the
// text "user:password" combined byte by byte with a fixed key by exclusive
// or, then base64-encoded. The file agent compares a browser's decoded
// Basic credentials with the recovered text.
#pragma once

#include <string>
#include <string_view>

namespace admin_password {

std::string Store(std::string_view credentials);
std::string Recover(std::string_view stored);

}  // namespace admin_password
