#include "tools/reg_value_text.h"

#include <array>
#include <charconv>
#include <cstdio>
#include <strings.h>

#include "platform/registry.h"

namespace zondrelctl {

namespace {

struct TypeName {
  DWORD type;
  std::string_view name;
};

constexpr std::array<TypeName, 7> kTypeNames{{
    {platform::REG_NONE, "REG_NONE"},
    {platform::REG_SZ, "REG_SZ"},
    {platform::REG_EXPAND_SZ, "REG_EXPAND_SZ"},
    {platform::REG_BINARY, "REG_BINARY"},
    {platform::REG_DWORD, "REG_DWORD"},
    {platform::REG_MULTI_SZ, "REG_MULTI_SZ"},
    {kRegQword, "REG_QWORD"},
}};

// Decimal, or hex after "0x"; the whole text must be the number and fit `max`.
std::optional<std::uint64_t> ParseNumber(std::string_view text, std::uint64_t max) {
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    text.remove_prefix(2);
    base = 16;
  }
  if (text.empty()) return std::nullopt;
  std::uint64_t value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  if (ec != std::errc() || end != text.data() + text.size() || value > max) return std::nullopt;
  return value;
}

void AppendLittleEndian(std::uint64_t value, std::size_t bytes, std::vector<BYTE>* data) {
  for (std::size_t i = 0; i < bytes; ++i) data->push_back(static_cast<BYTE>(value >> (8 * i)));
}

std::uint64_t ReadLittleEndian(std::span<const BYTE> data) {
  std::uint64_t value = 0;
  for (std::size_t i = data.size(); i > 0; --i) value = (value << 8) | data[i - 1];
  return value;
}

bool EncodeMultiString(std::string_view text, std::string_view separator,
                       std::vector<BYTE>* data, std::string* error) {
  std::vector<std::string_view> parts;
  if (!text.empty()) {
    std::size_t start = 0;
    while (true) {
      std::size_t at = text.find(separator, start);
      parts.push_back(text.substr(start, at == std::string_view::npos ? std::string_view::npos : at - start));
      if (at == std::string_view::npos) break;
      start = at + separator.size();
    }
    // "a\0b\0" names two strings, not three.
    if (parts.size() > 1 && parts.back().empty()) parts.pop_back();
  }
  for (std::string_view part : parts) {
    // An empty string would end the list for every reader.
    if (part.empty()) {
      *error = "Invalid REG_MULTI_SZ data: the list holds an empty string.";
      return false;
    }
    data->insert(data->end(), part.begin(), part.end());
    data->push_back(0);
  }
  data->push_back(0);
  return true;
}

}  // namespace

std::optional<DWORD> ParseRegTypeName(std::string_view name) {
  for (const auto& entry : kTypeNames) {
    if (name.size() == entry.name.size() &&
        ::strncasecmp(name.data(), entry.name.data(), name.size()) == 0) {
      return entry.type;
    }
  }
  return std::nullopt;
}

std::string RegTypeName(DWORD type) {
  for (const auto& entry : kTypeNames) {
    if (entry.type == type) return std::string(entry.name);
  }
  return "REG_TYPE(" + std::to_string(type) + ")";
}

bool EncodeValueData(DWORD type, std::string_view text, std::string_view separator,
                     std::vector<BYTE>* data, std::string* error) {
  data->clear();
  switch (type) {
    case platform::REG_SZ:
    case platform::REG_EXPAND_SZ:
      data->assign(text.begin(), text.end());
      data->push_back(0);
      return true;
    case platform::REG_MULTI_SZ:
      if (separator.empty()) {
        *error = "Invalid separator: it must not be empty.";
        return false;
      }
      return EncodeMultiString(text, separator, data, error);
    case platform::REG_DWORD:
    case kRegQword: {
      bool wide = type == kRegQword;
      // reg.exe stores 0 when /d is left out.
      auto value = text.empty() ? std::optional<std::uint64_t>(0)
                                : ParseNumber(text, wide ? UINT64_MAX : UINT32_MAX);
      if (!value) {
        *error = "Invalid " + RegTypeName(type) + " data \"" + std::string(text) +
                 "\": give a " + (wide ? "64" : "32") + "-bit number in decimal or as 0x hex.";
        return false;
      }
      AppendLittleEndian(*value, wide ? 8 : 4, data);
      return true;
    }
    default:
      if (text.size() % 2 != 0) {
        *error = "Invalid binary data: an odd number of hex digits.";
        return false;
      }
      for (std::size_t i = 0; i < text.size(); i += 2) {
        int high = HexDigitValue(text[i]), low = HexDigitValue(text[i + 1]);
        if (high < 0 || low < 0) {
          *error = "Invalid binary data: \"" + std::string(text) + "\" is not hex digits.";
          return false;
        }
        data->push_back(static_cast<BYTE>(high * 16 + low));
      }
      return true;
  }
}

std::string FormatValueData(DWORD type, std::span<const BYTE> data) {
  const char* chars = reinterpret_cast<const char*>(data.data());
  switch (type) {
    case platform::REG_SZ:
    case platform::REG_EXPAND_SZ: {
      std::string_view text(chars, data.size());
      return std::string(text.substr(0, text.find('\0')));
    }
    case platform::REG_MULTI_SZ: {
      std::string joined;
      std::string_view rest(chars, data.size());
      bool first = true;
      while (!rest.empty()) {
        std::size_t end = rest.find('\0');
        std::string_view part = rest.substr(0, end);
        if (part.empty()) break;  // the list's end
        if (!first) joined += kDefaultMultiSeparator;
        joined += part;
        first = false;
        if (end == std::string_view::npos) break;
        rest.remove_prefix(end + 1);
      }
      return joined;
    }
    case platform::REG_DWORD:
    case kRegQword: {
      if (data.size() != (type == kRegQword ? 8u : 4u)) break;
      char buffer[24];
      std::snprintf(buffer, sizeof(buffer), "0x%llx",
                    static_cast<unsigned long long>(ReadLittleEndian(data)));
      return buffer;
    }
    default:
      break;
  }
  return HexDigits(data);
}

bool CheckValueLimits(std::string_view name, std::size_t dataSize, std::string* error) {
  if (name.size() > platform::kMaxValueNameLength) {
    *error = "Invalid value name: it is longer than " +
             std::to_string(platform::kMaxValueNameLength) + " characters.";
    return false;
  }
  if (name.find('\0') != std::string_view::npos) {
    *error = "Invalid value name: it contains a NUL character.";
    return false;
  }
  if (dataSize > platform::kMaxValueDataSize) {
    *error = "Invalid value data: " + std::to_string(dataSize) + " bytes is more than the limit of " +
             std::to_string(platform::kMaxValueDataSize) + " bytes.";
    return false;
  }
  return true;
}

int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string HexDigits(std::span<const BYTE> data) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  text.reserve(data.size() * 2);
  for (BYTE b : data) {
    text += kDigits[b >> 4];
    text += kDigits[b & 15];
  }
  return text;
}

}  // namespace zondrelctl
