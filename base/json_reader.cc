#include "base/json_reader.h"

#include <cmath>
#include <cstdlib>

namespace json {

const JsonValue* JsonValue::Member(std::string_view name) const {
  const JsonValue* found = nullptr;
  for (const auto& [key, value] : members) {
    if (key == name) found = &value;
  }
  return found;
}

namespace {

class Reader {
 public:
  Reader(std::string_view text, const JsonLimits& limits) : text_(text), limits_(limits) {}

  JsonResult Read() {
    JsonResult result;
    if (text_.size() > limits_.max_bytes) {
      result.error = "the text is larger than " + std::to_string(limits_.max_bytes) + " bytes";
      return result;
    }
    SkipSpace();
    if (!Value(&result.value, 0)) {
      result.error = error_ + " at byte " + std::to_string(pos_);
      result.value = {};
      return result;
    }
    SkipSpace();
    if (pos_ != text_.size()) {
      result.error = "text after the value at byte " + std::to_string(pos_);
      result.value = {};
      return result;
    }
    result.ok = true;
    return result;
  }

 private:
  bool Fail(const char* what) {
    if (error_.empty()) error_ = what;
    return false;
  }
  void SkipSpace() {
    while (pos_ < text_.size() &&
           (text_[pos_] == ' ' || text_[pos_] == '\t' || text_[pos_] == '\n' || text_[pos_] == '\r')) {
      ++pos_;
    }
  }
  bool Literal(std::string_view word) {
    if (text_.substr(pos_, word.size()) != word) return Fail("unknown word");
    pos_ += word.size();
    return true;
  }

  bool Value(JsonValue* value, std::size_t depth) {
    if (++values_ > limits_.max_values) return Fail("too many values");
    if (pos_ >= text_.size()) return Fail("a value is missing");
    switch (text_[pos_]) {
      case '{': return Object(value, depth + 1);
      case '[': return Array(value, depth + 1);
      case '"': value->kind = JsonValue::Kind::kString; return String(&value->text);
      case 't': value->kind = JsonValue::Kind::kBool; value->boolean = true; return Literal("true");
      case 'f': value->kind = JsonValue::Kind::kBool; value->boolean = false; return Literal("false");
      case 'n': value->kind = JsonValue::Kind::kNull; return Literal("null");
      default: return Number(value);
    }
  }

  bool Object(JsonValue* value, std::size_t depth) {
    if (depth > limits_.max_depth) return Fail("nested too deeply");
    value->kind = JsonValue::Kind::kObject;
    ++pos_;
    SkipSpace();
    if (pos_ < text_.size() && text_[pos_] == '}') {
      ++pos_;
      return true;
    }
    for (;;) {
      SkipSpace();
      if (pos_ >= text_.size() || text_[pos_] != '"') return Fail("a member name is missing");
      std::string name;
      if (!String(&name)) return false;
      SkipSpace();
      if (pos_ >= text_.size() || text_[pos_] != ':') return Fail("\":\" is missing");
      ++pos_;
      SkipSpace();
      JsonValue member;
      if (!Value(&member, depth)) return false;
      value->members.push_back(JsonMember{std::move(name), std::move(member)});
      SkipSpace();
      if (pos_ >= text_.size()) return Fail("the object is not closed");
      if (text_[pos_] == '}') {
        ++pos_;
        return true;
      }
      if (text_[pos_] != ',') return Fail("\",\" or \"}\" is missing");
      ++pos_;
    }
  }

  bool Array(JsonValue* value, std::size_t depth) {
    if (depth > limits_.max_depth) return Fail("nested too deeply");
    value->kind = JsonValue::Kind::kArray;
    ++pos_;
    SkipSpace();
    if (pos_ < text_.size() && text_[pos_] == ']') {
      ++pos_;
      return true;
    }
    for (;;) {
      SkipSpace();
      JsonValue item;
      if (!Value(&item, depth)) return false;
      value->items.push_back(std::move(item));
      SkipSpace();
      if (pos_ >= text_.size()) return Fail("the array is not closed");
      if (text_[pos_] == ']') {
        ++pos_;
        return true;
      }
      if (text_[pos_] != ',') return Fail("\",\" or \"]\" is missing");
      ++pos_;
    }
  }

  static int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  }
  bool Hex4(unsigned* code) {
    if (text_.size() - pos_ < 4) return Fail("a \\u escape is cut short");
    unsigned result = 0;
    for (int i = 0; i < 4; ++i) {
      const int digit = HexDigit(text_[pos_ + i]);
      if (digit < 0) return Fail("a \\u escape needs four hexadecimal digits");
      result = result * 16 + static_cast<unsigned>(digit);
    }
    pos_ += 4;
    *code = result;
    return true;
  }
  static void AppendUtf8(unsigned code, std::string* out) {
    if (code < 0x80) {
      out->push_back(static_cast<char>(code));
    } else if (code < 0x800) {
      out->push_back(static_cast<char>(0xC0 | (code >> 6)));
      out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else if (code < 0x10000) {
      out->push_back(static_cast<char>(0xE0 | (code >> 12)));
      out->push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
      out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else {
      out->push_back(static_cast<char>(0xF0 | (code >> 18)));
      out->push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
      out->push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
      out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
    }
  }

  bool String(std::string* out) {
    ++pos_;  // the opening quote
    for (;;) {
      if (pos_ >= text_.size()) return Fail("the string is not closed");
      const char c = text_[pos_++];
      if (c == '"') return true;
      if (static_cast<unsigned char>(c) < 0x20) return Fail("a control character in a string");
      if (c != '\\') {
        out->push_back(c);
        continue;
      }
      if (pos_ >= text_.size()) return Fail("the string is not closed");
      const char escape = text_[pos_++];
      switch (escape) {
        case '"': out->push_back('"'); break;
        case '\\': out->push_back('\\'); break;
        case '/': out->push_back('/'); break;
        case 'b': out->push_back('\b'); break;
        case 'f': out->push_back('\f'); break;
        case 'n': out->push_back('\n'); break;
        case 'r': out->push_back('\r'); break;
        case 't': out->push_back('\t'); break;
        case 'u': {
          unsigned code = 0;
          if (!Hex4(&code)) return false;
          if (code >= 0xD800 && code < 0xDC00) {
            unsigned low = 0;
            if (text_.substr(pos_, 2) != "\\u") return Fail("a lone surrogate");
            pos_ += 2;
            if (!Hex4(&low)) return false;
            if (low < 0xDC00 || low >= 0xE000) return Fail("a lone surrogate");
            code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
          } else if (code >= 0xDC00 && code < 0xE000) {
            return Fail("a lone surrogate");
          }
          AppendUtf8(code, out);
          break;
        }
        default: return Fail("an unknown escape");
      }
    }
  }

  bool Number(JsonValue* value) {
    const std::size_t start = pos_;
    auto digits = [&] {
      const std::size_t first = pos_;
      while (pos_ < text_.size() && text_[pos_] >= '0' && text_[pos_] <= '9') ++pos_;
      return pos_ > first;
    };
    if (pos_ < text_.size() && text_[pos_] == '-') ++pos_;
    if (pos_ < text_.size() && text_[pos_] == '0') {
      ++pos_;
    } else if (!digits()) {
      return Fail("not a value");
    }
    if (pos_ < text_.size() && text_[pos_] == '.') {
      ++pos_;
      if (!digits()) return Fail("a fraction needs digits");
    }
    if (pos_ < text_.size() && (text_[pos_] == 'e' || text_[pos_] == 'E')) {
      ++pos_;
      if (pos_ < text_.size() && (text_[pos_] == '+' || text_[pos_] == '-')) ++pos_;
      if (!digits()) return Fail("an exponent needs digits");
    }
    const std::string number(text_.substr(start, pos_ - start));
    value->kind = JsonValue::Kind::kNumber;
    value->number = std::strtod(number.c_str(), nullptr);
    if (!std::isfinite(value->number)) return Fail("a number out of range");
    return true;
  }

  std::string_view text_;
  const JsonLimits& limits_;
  std::size_t pos_ = 0;
  std::size_t values_ = 0;
  std::string error_;
};

}  // namespace

JsonResult ParseJson(std::string_view text, const JsonLimits& limits) { return Reader(text, limits).Read(); }

}  // namespace json
