// domino.dat as chanadmin keeps it: a head block with the four channel
// settings, then the channel's body (kept as it is), then the closing tag.
//
//   <NotesChannelContent\r\n
//   ChannelName = "Domino"\r\n
//   DV_Logo = "domdvlog.gif"\r\n
//   AD_Logo = "domadlog.gif"\r\n
//   DV_File = "S4030005.anm"\r\n
//   >...body...</NotesChannelContent>\r\n\r\n
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

#include "domino/channel_text.h"

namespace domino {

// How much of the file's start is searched for the settings: enough for
// four settings that are escaped throughout.
inline constexpr std::size_t kHeadBytes = 4 * 6 * kSettingBytes + 256;

// The head block with the four values escaped, ending in ">".
std::string ChannelHead(const ChannelSettings& settings);
inline constexpr std::string_view kChannelEnd = "</NotesChannelContent>\r\n\r\n";

// The settings in the file at `path`; the defaults when it cannot be read.
ChannelSettings ReadChannelSettings(const std::string& path);

// Reads up to `length` bytes at `offset` into `buffer`: the count (less only
// at the end of the file), or -1.
using BlockReader = std::function<long long(long long offset, char* buffer, std::size_t length)>;
// Takes the next piece of the body; false when it cannot be written.
using BodyWriter = std::function<bool(std::string_view piece)>;

enum class BodyCopy {
  kCopied,       // the body after the head, up to the closing tag
  kWholeFile,    // no head: the whole file up to the closing tag
  kReadFailed,
  kWriteFailed,
};
// Copies the body of a channel file: the bytes after the ">" that follows
// "DV_File = ", up to the "<" of "</NotesChannelContent" (or the end). The
// file is read in 1000-byte blocks, each starting 100 bytes before the end
// of the one before, so that a key or closing tag that spans two blocks is
// found; every body byte is written once, in order.
BodyCopy CopyChannelBody(const BlockReader& read, const BodyWriter& write);

// Rewrites the file at `path` with `settings` in its head and its body kept
// (an empty line when the file does not exist yet). The new file is written
// beside it under a temporary name and renamed over it, so that readers see
// the old file or the new one. False, with the old file left as it was,
// when that fails.
bool RewriteChannelFile(const std::string& path, const ChannelSettings& settings);

}  // namespace domino
