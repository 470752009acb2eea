#include "config/admin_password.h"

#include "base/kibo_folder.h"

namespace admin_password {
namespace {

constexpr std::string_view kKey = "qwpzet~!3#52!7+bnlo84mcxv61r9045kdrtye";

std::string Combine(std::string_view text) {
  std::string combined(text);
  for (std::size_t i = 0; i < combined.size(); ++i) combined[i] = static_cast<char>(combined[i] ^ kKey[i % kKey.size()]);
  return combined;
}

}  // namespace

std::string Store(std::string_view credentials) { return CKiboFolder::Base64Encode(Combine(credentials)); }

std::string Recover(std::string_view stored) { return Combine(CKiboFolder::Base64Decode(stored)); }

}  // namespace admin_password
