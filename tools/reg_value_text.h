// Registry values as text: type names, the data forms of the command line
// ("reg add ... /t REG_DWORD /d 0x14") and the data column of query output.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/types.h"

namespace zondrelctl {

using platform::BYTE;
using platform::DWORD;

// Beyond the types the server itself uses.
constexpr DWORD kRegQword = 11;

// The default separator of REG_MULTI_SZ strings on the command line: the two
// characters backslash and zero.
inline constexpr std::string_view kDefaultMultiSeparator = "\\0";

struct RegValue {
  std::string name;  // "" is the key's default value
  DWORD type = 0;
  std::vector<BYTE> data;

  bool operator==(const RegValue&) const = default;
};

// "REG_SZ" (any case) to its number; nullopt for names it does not know.
std::optional<DWORD> ParseRegTypeName(std::string_view name);
// The number's name; "REG_TYPE(n)" for types without one.
std::string RegTypeName(DWORD type);

// The stored bytes for `text` given with /d: strings get their terminating
// NUL, numbers are decimal or 0x hex, binary is hex digits, multi-strings are
// split at `separator`. False with *error set when `text` does not fit the type.
bool EncodeValueData(DWORD type, std::string_view text, std::string_view separator,
                     std::vector<BYTE>* data, std::string* error);

// The data column of query output: text up to its NUL, numbers as 0x%x,
// multi-strings joined by "\0", anything else (or data of an unexpected size)
// as upper-case hex.
std::string FormatValueData(DWORD type, std::span<const BYTE> data);

// Value name length and data size limits of the registry.
bool CheckValueLimits(std::string_view name, std::size_t dataSize, std::string* error);

// 0..15 for a hex digit, -1 for anything else.
int HexDigitValue(char c);
// "0102AB" for {1, 2, 0xAB}.
std::string HexDigits(std::span<const BYTE> data);

}  // namespace zondrelctl
