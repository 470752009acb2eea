// Fuzzes the JSON reader and the Notes database description read with it:
// whatever is read is within the reader's bounds, and a text the reader
// refuses yields nothing.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "base/json_reader.h"
#include "domino/notes_json.h"

namespace {

std::size_t Depth(const json::JsonValue& value) {
  std::size_t deepest = 0;
  for (const auto& item : value.items) deepest = std::max(deepest, Depth(item));
  for (const auto& member : value.members) deepest = std::max(deepest, Depth(member.second));
  return deepest + (value.kind == json::JsonValue::Kind::kArray || value.kind == json::JsonValue::Kind::kObject);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  json::JsonLimits limits;
  limits.max_depth = 8;
  const json::JsonResult result = json::ParseJson(text, limits);
  if (result.ok == !result.error.empty()) std::abort();
  if (result.ok && Depth(result.value) > limits.max_depth) std::abort();
  if (!result.ok && (result.value.kind != json::JsonValue::Kind::kNull || !result.value.items.empty())) std::abort();
  std::vector<notes::ViewDescription> views;
  const std::string error = notes::ViewsFromJson(text, &views);
  if (!error.empty()) return 0;
  (void)notes::ListViews(views);
  for (const auto& view : views) {
    for (const auto& entry : view.entries) {
      if (entry.category && entry.has_note) std::abort();
    }
  }
  return 0;
}
