// The Notes channel's description file turned into notes.dat: each line
// passes as it is (empty lines dropped, every line ended by CR LF), except
// that a VIEW_ID line is replaced by the fetched view's mark-up, and a
// GROUP_FILE line by the fetched group file's lines, in which VIEW_ID lines
// are expanded too but GROUP_FILE lines are not. DV_FILE, DV_LOGO and
// AD_LOGO name the channel's files. What cannot be fetched, or would pass
// the bounds, is replaced by a comment and the view failure text.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace notes_expansion {

// What one expansion may fetch and produce.
inline constexpr std::size_t kFetches = 256;
inline constexpr std::size_t kFetchBytes = 16u << 20;
inline constexpr std::size_t kExpandedBytes = 64u << 20;

// Fetches `url` (with the line's user name and password, when given) into
// `text`; false when it cannot be had within `maxBytes`.
using Fetcher = std::function<bool(const std::string& url, const std::string& user, const std::string& password,
                                   std::size_t maxBytes, std::string& text)>;

// The files the description names, joined with the Notes directory.
struct Named {
  std::string adLogo;
  std::string dvLogo;
  std::string dvFile;
};

std::string Expand(std::string_view image, const std::string& notesDirectory, const std::string& failureText,
                   const Fetcher& fetch, Named& named);

// A value as the channel administration program writes it: one pair of
// surrounding double quotes removed and "&#NNN;" entities decoded.
std::string DescriptionValue(std::string_view value);

}  // namespace notes_expansion
