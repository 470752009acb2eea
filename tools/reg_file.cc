#include "tools/reg_file.h"

#include <cstdio>
#include <optional>

#include "platform/registry.h"

namespace zondrelctl {

namespace {

constexpr std::string_view kHeader4 = "REGEDIT4";
constexpr std::string_view kHeader5 = "Windows Registry Editor Version 5.00";
constexpr std::string_view kBlanks = " \t";
constexpr std::size_t kHexLineWidth = 77;  // regedit-like wrapping below 80 columns

struct ParseFailure {
  std::string reason;
};

std::string_view Trim(std::string_view text) {
  std::size_t start = text.find_first_not_of(kBlanks);
  if (start == std::string_view::npos) return {};
  std::size_t end = text.find_last_not_of(kBlanks);
  return text.substr(start, end - start + 1);
}

bool StartsWithIgnoringCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    char c = text[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != prefix[i]) return false;
  }
  return true;
}

void AppendUtf8(std::uint32_t code, std::string* out) {
  if (code < 0x80) {
    *out += static_cast<char>(code);
  } else if (code < 0x800) {
    *out += static_cast<char>(0xC0 | (code >> 6));
    *out += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    *out += static_cast<char>(0xE0 | (code >> 12));
    *out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    *out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    *out += static_cast<char>(0xF0 | (code >> 18));
    *out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    *out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    *out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

// UTF-16LE (after its BOM) to UTF-8; refuses odd lengths and lone surrogates.
std::optional<std::string> Utf16ToUtf8(std::string_view bytes) {
  if (bytes.size() % 2 != 0) return std::nullopt;
  std::string out;
  out.reserve(bytes.size() / 2);
  auto unit = [&](std::size_t i) {
    return static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i]) |
                                      (static_cast<unsigned char>(bytes[i + 1]) << 8));
  };
  for (std::size_t i = 0; i < bytes.size(); i += 2) {
    std::uint32_t code = unit(i);
    if (code >= 0xDC00 && code <= 0xDFFF) return std::nullopt;
    if (code >= 0xD800 && code <= 0xDBFF) {
      if (i + 2 >= bytes.size()) return std::nullopt;
      std::uint32_t low = unit(i + 2);
      if (low < 0xDC00 || low > 0xDFFF) return std::nullopt;
      code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
      i += 2;
    }
    AppendUtf8(code, &out);
  }
  return out;
}

// Reads a quoted string at text[*pos] (the opening quote); only \\ and \" are
// escapes. Leaves *pos after the closing quote.
std::string ReadQuoted(std::string_view text, std::size_t* pos, const char* what) {
  std::string out;
  std::size_t i = *pos + 1;
  while (true) {
    if (i >= text.size()) throw ParseFailure{std::string("the ") + what + " has no closing quote"};
    char c = text[i];
    if (c == '"') break;
    if (c == '\\') {
      if (i + 1 >= text.size()) throw ParseFailure{std::string("the ") + what + " has no closing quote"};
      char next = text[i + 1];
      if (next != '\\' && next != '"') {
        throw ParseFailure{std::string("the ") + what + " holds the unknown escape \\" + next +
                           " (write \\\\ for a backslash)"};
      }
      out += next;
      i += 2;
      continue;
    }
    out += c;
    ++i;
  }
  *pos = i + 1;
  return out;
}

void ExpectOnlyBlanks(std::string_view rest) {
  if (!Trim(rest).empty()) {
    throw ParseFailure{"unexpected text after the value: \"" + std::string(Trim(rest).substr(0, 40)) + "\""};
  }
}

// "01,ab, 3" (already without line continuations). A final comma is tolerated.
std::vector<BYTE> ReadHexList(std::string_view text) {
  std::vector<BYTE> data;
  text = Trim(text);
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t comma = text.find(',', pos);
    std::string_view token = Trim(text.substr(pos, comma == std::string_view::npos ? std::string_view::npos : comma - pos));
    if (token.empty() || token.size() > 2 || HexDigitValue(token[0]) < 0 ||
        (token.size() == 2 && HexDigitValue(token[1]) < 0)) {
      throw ParseFailure{"\"" + std::string(token.substr(0, 20)) + "\" is not a hex byte"};
    }
    int value = HexDigitValue(token[0]);
    if (token.size() == 2) value = value * 16 + HexDigitValue(token[1]);
    if (data.size() == platform::kMaxValueDataSize) {
      throw ParseFailure{"the value's data is more than the limit of " +
                         std::to_string(platform::kMaxValueDataSize) + " bytes"};
    }
    data.push_back(static_cast<BYTE>(value));
    if (comma == std::string_view::npos) break;
    pos = comma + 1;
  }
  return data;
}

// Up to 8 hex digits.
std::optional<DWORD> ReadHexNumber(std::string_view digits) {
  if (digits.empty() || digits.size() > 8) return std::nullopt;
  DWORD value = 0;
  for (char c : digits) {
    int digit = HexDigitValue(c);
    if (digit < 0) return std::nullopt;
    value = value * 16 + static_cast<DWORD>(digit);
  }
  return value;
}

// The data after '=': fills value->type and value->data; false for "-".
bool ReadValueData(std::string_view text, RegValue* value) {
  if (text == "-") return false;
  if (!text.empty() && text[0] == '"') {
    std::size_t pos = 0;
    std::string content = ReadQuoted(text, &pos, "string value");
    ExpectOnlyBlanks(text.substr(pos));
    value->type = platform::REG_SZ;
    value->data.assign(content.begin(), content.end());
    value->data.push_back(0);
    return true;
  }
  if (StartsWithIgnoringCase(text, "dword:")) {
    auto number = ReadHexNumber(Trim(text.substr(6)));
    if (!number) throw ParseFailure{"dword: needs 1 to 8 hex digits"};
    value->type = platform::REG_DWORD;
    value->data.clear();
    for (int i = 0; i < 4; ++i) value->data.push_back(static_cast<BYTE>(*number >> (8 * i)));
    return true;
  }
  if (StartsWithIgnoringCase(text, "hex:")) {
    value->type = platform::REG_BINARY;
    value->data = ReadHexList(text.substr(4));
    return true;
  }
  if (StartsWithIgnoringCase(text, "hex(")) {
    std::size_t close = text.find("):");
    auto type = close == std::string_view::npos ? std::nullopt : ReadHexNumber(text.substr(4, close - 4));
    if (!type) throw ParseFailure{"hex(N): needs a type number of 1 to 8 hex digits"};
    value->type = *type;
    value->data = ReadHexList(text.substr(close + 2));
    return true;
  }
  throw ParseFailure{"unknown value data \"" + std::string(text.substr(0, 40)) +
                     "\" (expected \"text\", dword:, hex:, hex(N): or -)"};
}

// Whether a value line ends with a continuation backslash, carrying the
// quote state across the pieces already seen so that each piece is scanned once.
struct ContinuationScanner {
  bool inQuotes = false;
  bool escaped = false;

  bool EndsContinued(std::string_view piece) {
    for (char c : piece) {
      if (escaped) {
        escaped = false;
      } else if (inQuotes && c == '\\') {
        escaped = true;
      } else if (c == '"') {
        inQuotes = !inQuotes;
      }
    }
    return !inQuotes && !piece.empty() && piece.back() == '\\';
  }
};

class RegFileParser {
 public:
  explicit RegFileParser(std::string_view text) : text_(text) {}

  RegFileContents Parse() {
    RegFileContents result;
    try {
      ReadHeader();
      std::size_t lineNumber = 0;
      std::string_view line;
      while (NextLine(&line, &lineNumber)) {
        std::string_view trimmed = Trim(line);
        if (trimmed.empty() || trimmed[0] == ';') continue;
        current_line_ = lineNumber;
        if (trimmed[0] == '[') {
          ReadSection(trimmed, &result.entries);
        } else if (trimmed[0] == '"' || trimmed[0] == '@') {
          ReadValueLine(trimmed, &result.entries);
        } else {
          throw ParseFailure{"expected a [key] section, a \"name\"= or @= value line or a ; comment"};
        }
      }
    } catch (const ParseFailure& failure) {
      result.entries.clear();
      result.error = failure.reason;
      result.errorLine = current_line_;
    }
    return result;
  }

 private:
  // The next physical line without its line end; refuses NUL characters.
  bool NextLine(std::string_view* line, std::size_t* number) {
    if (pos_ >= text_.size()) return false;
    std::size_t end = text_.find('\n', pos_);
    if (end == std::string_view::npos) end = text_.size();
    *line = text_.substr(pos_, end - pos_);
    if (!line->empty() && line->back() == '\r') line->remove_suffix(1);
    pos_ = end + 1;
    *number = ++line_count_;
    if (line->find('\0') != std::string_view::npos) {
      current_line_ = *number;
      throw ParseFailure{"the line holds a NUL character"};
    }
    return true;
  }

  void ReadHeader() {
    std::string_view line;
    std::size_t number = 0;
    while (NextLine(&line, &number)) {
      std::string_view trimmed = Trim(line);
      if (trimmed.empty()) continue;
      current_line_ = number;
      if (trimmed == kHeader4 || trimmed == kHeader5) return;
      throw ParseFailure{"the file does not start with \"Windows Registry Editor Version 5.00\" or \"REGEDIT4\""};
    }
    current_line_ = line_count_ == 0 ? 1 : line_count_;
    throw ParseFailure{"the file is empty: it has no header line"};
  }

  RegKeyPath ReadKeyPath(std::string_view text) {
    std::string error;
    auto path = ParseRegKeyPath(text, &error);
    if (!path) throw ParseFailure{error};
    return *path;
  }

  void ReadSection(std::string_view line, std::vector<RegFileEntry>* entries) {
    if (line.back() != ']') throw ParseFailure{"the key section has no closing ]"};
    std::string_view inner = line.substr(1, line.size() - 2);
    RegFileEntry entry;
    entry.line = current_line_;
    if (!inner.empty() && inner[0] == '-') {
      entry.kind = RegFileEntry::Kind::kDeleteKey;
      entry.key = ReadKeyPath(inner.substr(1));
      if (entry.key.subKey.empty()) throw ParseFailure{"a root key cannot be deleted"};
    } else {
      entry.kind = RegFileEntry::Kind::kKey;
      entry.key = ReadKeyPath(inner);
    }
    section_ = entry;
    entries->push_back(std::move(entry));
  }

  void ReadValueLine(std::string_view first, std::vector<RegFileEntry>* entries) {
    std::size_t startLine = current_line_;
    // Join continued lines; `joined` stays empty for the common single line.
    std::string joined;
    std::string_view line = first;
    ContinuationScanner scanner;
    if (scanner.EndsContinued(first)) {
      joined.assign(first.substr(0, first.size() - 1));
      std::string_view next;
      std::size_t number = 0;
      while (true) {
        if (!NextLine(&next, &number)) {
          throw ParseFailure{"the value continues with a backslash past the end of the file"};
        }
        next = Trim(next);
        bool more = scanner.EndsContinued(next);
        joined.append(more ? next.substr(0, next.size() - 1) : next);
        if (!more) break;
      }
      line = joined;
    }
    if (!section_) throw ParseFailure{"the value stands before any [key] section"};
    if (section_->kind == RegFileEntry::Kind::kDeleteKey) {
      throw ParseFailure{"the value stands in a [-key] section, which deletes its key"};
    }
    RegFileEntry entry;
    entry.line = startLine;
    entry.key = section_->key;
    std::size_t pos = 1;
    if (line[0] == '"') {
      pos = 0;
      entry.value.name = ReadQuoted(line, &pos, "value name");
    }
    std::string_view rest = line.substr(pos);
    rest.remove_prefix(std::min(rest.size(), rest.find_first_not_of(kBlanks)));
    if (rest.empty() || rest[0] != '=') throw ParseFailure{"the value name is not followed by ="};
    std::string_view data = Trim(rest.substr(1));
    bool set = ReadValueData(data, &entry.value);
    entry.kind = set ? RegFileEntry::Kind::kValue : RegFileEntry::Kind::kDeleteValue;
    std::string error;
    if (!CheckValueLimits(entry.value.name, entry.value.data.size(), &error)) throw ParseFailure{error};
    entries->push_back(std::move(entry));
  }

  std::string_view text_;
  std::size_t pos_ = 0;
  std::size_t line_count_ = 0;
  std::size_t current_line_ = 0;
  std::optional<RegFileEntry> section_;
};

std::string Quote(std::string_view text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  out += '"';
  return out;
}

// True when the bytes are text plus one terminating NUL that the "text" form
// gives back exactly.
bool IsPlainString(std::span<const BYTE> data) {
  if (data.empty() || data.back() != 0) return false;
  for (std::size_t i = 0; i + 1 < data.size(); ++i) {
    if (data[i] == 0 || data[i] == '\r' || data[i] == '\n') return false;
  }
  return true;
}

std::string HexList(std::string prefix, std::span<const BYTE> data) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out = std::move(prefix);
  std::size_t column = out.size();
  for (std::size_t i = 0; i < data.size(); ++i) {
    out += kDigits[data[i] >> 4];
    out += kDigits[data[i] & 15];
    column += 2;
    if (i + 1 == data.size()) break;
    out += ',';
    ++column;
    if (column >= kHexLineWidth) {
      out += "\\\r\n  ";
      column = 2;
    }
  }
  return out;
}

}  // namespace

RegFileContents ParseRegFile(std::string_view bytes) {
  if (bytes.size() > kMaxRegFileSize) {
    RegFileContents result;
    result.error = "the file is larger than " + std::to_string(kMaxRegFileSize) + " bytes";
    return result;
  }
  if (bytes.starts_with("\xFF\xFE")) {
    auto text = Utf16ToUtf8(bytes.substr(2));
    if (!text) {
      RegFileContents result;
      result.error = "the file is not valid UTF-16LE text";
      result.errorLine = 1;
      return result;
    }
    return RegFileParser(*text).Parse();
  }
  if (bytes.starts_with("\xEF\xBB\xBF")) bytes.remove_prefix(3);
  return RegFileParser(bytes).Parse();
}

std::string FormatRegValue(const RegValue& value) {
  std::string line = value.name.empty() ? "@=" : Quote(value.name) + "=";
  if (value.type == platform::REG_SZ && IsPlainString(value.data)) {
    std::string_view text(reinterpret_cast<const char*>(value.data.data()), value.data.size() - 1);
    return line + Quote(text);
  }
  if (value.type == platform::REG_DWORD && value.data.size() == 4) {
    char buffer[16];
    std::snprintf(buffer, sizeof(buffer), "dword:%08x",
                  value.data[0] | (value.data[1] << 8) | (value.data[2] << 16) |
                      (static_cast<DWORD>(value.data[3]) << 24));
    return line + buffer;
  }
  if (value.type == platform::REG_BINARY) return HexList(line + "hex:", value.data);
  char prefix[24];
  std::snprintf(prefix, sizeof(prefix), "hex(%x):", value.type);
  return HexList(line + prefix, value.data);
}

std::string FormatRegSection(const RegKeyPath& key, std::span<const RegValue> values) {
  std::string out = "\r\n[" + key.Format() + "]\r\n";
  for (const auto& value : values) out += FormatRegValue(value) + "\r\n";
  return out;
}

}  // namespace zondrelctl
