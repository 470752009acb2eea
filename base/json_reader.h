// A small JSON reader for description files: the whole text is read into a
// tree of values, with bounds on the input size, the nesting depth and the
// number of values, so that a hostile file costs little.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace json {

struct JsonMember;

struct JsonValue {
  enum class Kind { kNull, kBool, kNumber, kString, kArray, kObject };
  Kind kind = Kind::kNull;
  bool boolean = false;
  double number = 0;
  std::string text;                         // kString, as UTF-8
  std::vector<JsonValue> items;             // kArray
  std::vector<JsonMember> members;          // kObject, in order

  // The member named `name` (the last one when named twice), or null.
  const JsonValue* Member(std::string_view name) const;
};

struct JsonMember {
  std::string first;    // the name
  JsonValue second;
};

struct JsonLimits {
  std::size_t max_bytes = 16 * 1024 * 1024;
  std::size_t max_depth = 16;
  std::size_t max_values = 1000000;
};

struct JsonResult {
  bool ok = false;
  JsonValue value;
  std::string error;     // what is wrong, with the byte offset
};

// Reads one JSON text (RFC 8259); white space may surround it, nothing else.
JsonResult ParseJson(std::string_view text, const JsonLimits& limits = {});

}  // namespace json
