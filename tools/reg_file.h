// The .reg text format: reading a whole file into a list of changes (checked
// completely before anything is applied) and writing keys and values back.
//
// Read: headers "REGEDIT4" and "Windows Registry Editor Version 5.00"; UTF-8
// (with or without BOM) or UTF-16LE text with BOM; [KEY] and [-KEY] sections;
// "name"= or @= with "text", dword:, hex:, hex(N): or - (deletion); lines
// continued by a trailing backslash; comments from ';'.
// Written: the 5.00 header, UTF-8, CRLF line ends, hex lists wrapped at 80
// columns; any value whose bytes the plain forms cannot carry exactly is
// written as hex(N) of its stored bytes.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "tools/reg_key_path.h"
#include "tools/reg_value_text.h"

namespace zondrelctl {

struct RegFileEntry {
  enum class Kind { kKey, kDeleteKey, kValue, kDeleteValue };
  Kind kind = Kind::kKey;
  std::size_t line = 0;  // where it starts, from 1
  RegKeyPath key;
  RegValue value;        // kValue: name, type, data; kDeleteValue: name

  bool operator==(const RegFileEntry&) const = default;
};

struct RegFileContents {
  std::vector<RegFileEntry> entries;  // in file order
  std::string error;                  // empty when the file is well formed
  std::size_t errorLine = 0;

  bool ok() const { return error.empty(); }
};

// Files are refused beyond this size before they are read.
constexpr std::size_t kMaxRegFileSize = 64 * 1024 * 1024;

RegFileContents ParseRegFile(std::string_view bytes);

inline constexpr std::string_view kRegFileHeader = "Windows Registry Editor Version 5.00\r\n";

// "\r\n[path]\r\n" and one line (or continued lines) per value.
std::string FormatRegSection(const RegKeyPath& key, std::span<const RegValue> values);
// One value line without its line end: "name"=data.
std::string FormatRegValue(const RegValue& value);

}  // namespace zondrelctl
