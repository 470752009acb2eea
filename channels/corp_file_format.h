// corp.dat and its group files: reading them into a CCorpChannel and writing
// it back, compact (one line per group) or expanded (every local group's
// documents inline, as the viewers get it).
//
// The text is read line by line; a line longer than 511 characters is read
// in pieces, as a line buffer of 512 bytes would (only its first piece can
// be a key line). Keys are matched at the
// start of a line without regard to case; trailing CR and LF are cut from a
// value, and a key line whose value is then empty does not count.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "channels/corp_tree.h"

namespace corp_format {

// Fills a local group (name and documents) from its file in the group
// folder; false when the file cannot be read.
using GroupFileReader = std::function<bool(CCorpGroup& group)>;
// The bytes of a local group's file, or nothing when it cannot be read.
using GroupFileBytes = std::function<std::optional<std::string>(const CCorpGroup& group)>;

// Reads corp.dat (or a posted image with its groups inline). False, with
// the reason, when the text has no NAME line or holds more groups or
// documents than corp_limits allows.
bool ReadChannel(std::string_view text, CCorpChannel& channel, const GroupFileReader& readGroupFile,
                 std::string& reason);
// Reads a group file: its own GROUP= line, then its documents.
bool ReadGroupFile(std::string_view text, CCorpGroup& group, std::string& reason);

// The five header lines.
void WriteHeader(const CCorpChannel& channel, std::string& out);
// A group's reference line ("GROUP_FILE=..."), for a remote group or one
// kept in a file.
void WriteGroupLine(const CCorpGroup& group, std::string& out);
// A group with its documents: its GROUP= line, then each document.
void WriteGroupBody(const CCorpGroup& group, std::string& out);

// corp.dat as stored: the header and one reference line per group; a group
// that has no file of its own is written with its documents.
std::string WriteCompact(const CCorpChannel& channel);
// The reference lines of the groups, as WriteCompact writes them.
std::string WriteGroupLines(const CCorpChannel& channel);
// corp.dat as served: every local group's file written out in full in
// place of its reference (a group whose file cannot be read is left out),
// remote groups as they stand. Nothing when the result would exceed
// corp_limits::kExpandedBytes.
std::optional<std::string> WriteExpanded(const CCorpChannel& channel, const GroupFileBytes& readGroupFile);

// A reference to a group kept elsewhere: it begins with "http://" or "www."
// (in any case).
bool IsRemoteReference(std::string_view reference);
// A name that can only mean a file directly inside a folder: not empty, not
// "." or "..", no "/", "\" or NUL.
bool IsPlainFileName(std::string_view name);

}  // namespace corp_format
