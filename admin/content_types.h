// The machine's content types: the ".ext" keys under HKEY_CLASSES_ROOT whose
// value "Content Type" the file agent sends for files of that extension.
// Installing the relay fills them from the system's table of media types
// (/etc/mime.types: a type, then the extensions that carry it).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace content_types {

// The system's table, read at installation.
inline constexpr const char* kSystemTable = "/etc/mime.types";

// Bounds of a table: a larger file is not read at all; lines, types and
// extensions past their limits are left out; entries past the last are
// dropped.
inline constexpr std::size_t kMaxTableBytes = 1 << 20;
inline constexpr std::size_t kMaxLineBytes = 4096;
inline constexpr std::size_t kMaxTypeBytes = 127;
inline constexpr std::size_t kMaxExtensionBytes = 32;
inline constexpr std::size_t kMaxEntries = 16384;

struct Entry {
  std::string extension;  // with its leading ".", as the key is named
  std::string type;
};

// The entries of a table in its order. Lines are "type ext ext ...",
// separated by blanks or tabs; "#" starts a comment line. A type is
// "name/name" of token characters; an extension is letters, digits and
// "+-_." without a leading ".". An extension named twice (in any case) keeps
// its first type.
std::vector<Entry> ParseTable(std::string_view text);

// Writes the entries of the table file at `path` into the registry, each
// extension that has no "Content Type" yet (an administrator's own value
// stays). Returns the number written, or -1 when the file cannot be read
// or is larger than kMaxTableBytes.
int Seed(const std::string& path = kSystemTable);
// Writes `entries` the same way: only extensions without a type yet.
int SeedEntries(const std::vector<Entry>& entries);

}  // namespace content_types
