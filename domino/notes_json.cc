#include "domino/notes_json.h"

#include <cmath>
#include <cstdio>

#include "base/json_reader.h"

namespace notes {

namespace {

constexpr std::size_t kMaxText = 64 * 1024;
constexpr std::size_t kMaxValues = 256;
constexpr double kMaxSeconds = 1e13;  // some 300000 years

using json::JsonValue;

bool NoteIdFrom(const JsonValue* value, NoteId* id) {
  if (value == nullptr || value->kind != JsonValue::Kind::kString) return false;
  const std::string& text = value->text;
  if (text.empty() || text.size() > 8) return false;
  NoteId result = 0;
  for (char c : text) {
    unsigned digit;
    if (c >= '0' && c <= '9') digit = static_cast<unsigned>(c - '0');
    else if (c >= 'a' && c <= 'f') digit = static_cast<unsigned>(c - 'a' + 10);
    else if (c >= 'A' && c <= 'F') digit = static_cast<unsigned>(c - 'A' + 10);
    else return false;
    result = result * 16 + digit;
  }
  *id = result;
  return true;
}

bool SecondsFrom(const JsonValue* value, TimeDate* time) {
  if (value == nullptr || value->kind != JsonValue::Kind::kNumber) return false;
  if (std::fabs(value->number) > kMaxSeconds || value->number != std::floor(value->number)) return false;
  time->seconds = static_cast<std::int64_t>(value->number);
  return true;
}

bool TextFrom(const JsonValue& value, std::string* text) {
  if (value.kind != JsonValue::Kind::kString || value.text.size() > kMaxText) return false;
  *text = value.text;
  return true;
}

std::string SummaryFrom(const JsonValue& json, SummaryValue* value) {
  switch (json.kind) {
    case JsonValue::Kind::kString:
      value->kind = SummaryValue::Kind::kText;
      return TextFrom(json, &value->text) ? "" : "a text value is too long";
    case JsonValue::Kind::kNumber:
      value->kind = SummaryValue::Kind::kNumber;
      value->number = json.number;
      return "";
    case JsonValue::Kind::kArray:
      value->kind = SummaryValue::Kind::kTextList;
      if (json.items.size() > kMaxValues) return "a text list is too long";
      for (const auto& member : json.items) {
        std::string text;
        if (!TextFrom(member, &text)) return "a text list holds something other than texts";
        value->list.push_back(std::move(text));
      }
      return "";
    case JsonValue::Kind::kObject:
      value->kind = SummaryValue::Kind::kTime;
      if (json.members.size() != 1 || !SecondsFrom(json.Member("time"), &value->time)) {
        return "a date-time value is written {\"time\": <seconds>}";
      }
      return "";
    default:
      return "a value is a text, a list of texts, a number or {\"time\": <seconds>}";
  }
}

std::string EntryFrom(const JsonValue& json, DocumentDescription* entry) {
  if (json.kind != JsonValue::Kind::kObject) return "an entry is not an object";
  if (!NoteIdFrom(json.Member("noteid"), &entry->note_id)) return "an entry's \"noteid\" is not 1 to 8 hex digits";
  const std::string where = " (entry " + json.Member("noteid")->text + ")";
  if (const JsonValue* category = json.Member("category"); category != nullptr) {
    if (category->kind != JsonValue::Kind::kBool) return "\"category\" is true or false" + where;
    entry->category = category->boolean;
  }
  const JsonValue* unid = json.Member("unid");
  if (unid != nullptr || !entry->category) {
    if (unid == nullptr || unid->kind != JsonValue::Kind::kString || !ParseUnid(unid->text, &entry->unid)) {
      return "\"unid\" is not 32 hex digits" + where;
    }
  }
  const JsonValue* modified = json.Member("modified");
  entry->has_note = modified != nullptr && !entry->category;
  if (modified != nullptr && !SecondsFrom(modified, &entry->modified)) {
    return "\"modified\" is not a whole number of seconds" + where;
  }
  if (const JsonValue* values = json.Member("values"); values != nullptr) {
    if (values->kind != JsonValue::Kind::kArray) return "\"values\" is not an array" + where;
    if (values->items.size() > kMaxValues) return "too many values" + where;
    for (const auto& item : values->items) {
      SummaryValue value;
      if (std::string error = SummaryFrom(item, &value); !error.empty()) return error + where;
      entry->values.push_back(std::move(value));
    }
  }
  return "";
}

std::string ViewFrom(const JsonValue& json, ViewDescription* view) {
  if (json.kind != JsonValue::Kind::kObject) return "a view is not an object";
  if (!NoteIdFrom(json.Member("noteid"), &view->note_id)) return "a view's \"noteid\" is not 1 to 8 hex digits";
  const std::string where = " (view " + json.Member("noteid")->text + ")";
  const JsonValue* unid = json.Member("unid");
  if (unid == nullptr || unid->kind != JsonValue::Kind::kString || !ParseUnid(unid->text, &view->unid)) {
    return "\"unid\" is not 32 hex digits" + where;
  }
  if (!SecondsFrom(json.Member("modified"), &view->modified)) return "\"modified\" is not a whole number of seconds" + where;
  const JsonValue* title = json.Member("title");
  view->has_title = title != nullptr && title->kind != JsonValue::Kind::kNull;
  if (view->has_title && !TextFrom(*title, &view->title)) return "\"title\" is not a text" + where;
  view->format = "1";
  if (const JsonValue* format = json.Member("format"); format != nullptr) {
    view->has_format = format->kind != JsonValue::Kind::kNull;
    if (view->has_format && !TextFrom(*format, &view->format)) return "\"format\" is not a text" + where;
  }
  if (const JsonValue* entries = json.Member("entries"); entries != nullptr) {
    if (entries->kind != JsonValue::Kind::kArray) return "\"entries\" is not an array" + where;
    for (const auto& item : entries->items) {
      DocumentDescription entry;
      if (std::string error = EntryFrom(item, &entry); !error.empty()) return error + where;
      view->entries.push_back(std::move(entry));
    }
  }
  return "";
}

// A text as a C-like quoted literal, for the listing.
std::string Quoted(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c == 0x7F) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\x%02x", c);
      out += escape;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

}  // namespace

std::string ViewsFromJson(std::string_view json, std::vector<ViewDescription>* views) {
  json::JsonResult parsed = json::ParseJson(json);
  if (!parsed.ok) return "not JSON: " + parsed.error;
  if (parsed.value.kind != JsonValue::Kind::kObject) return "the description is not a JSON object";
  const JsonValue* list = parsed.value.Member("views");
  if (list == nullptr || list->kind != JsonValue::Kind::kArray) return "the description has no \"views\" array";
  for (const auto& item : list->items) {
    ViewDescription view;
    if (std::string error = ViewFrom(item, &view); !error.empty()) return error;
    views->push_back(std::move(view));
  }
  return "";
}

std::string ListViews(const std::vector<ViewDescription>& views) {
  std::string out;
  char line[160];
  for (const auto& view : views) {
    std::snprintf(line, sizeof line, "view %08X unid %s modified %lld entries %zu\n", view.note_id,
                  UnidText(view.unid).c_str(), static_cast<long long>(view.modified.seconds), view.entries.size());
    out += line;
    out += "  title " + (view.has_title ? Quoted(view.title) : std::string("(none)")) + "\n";
    out += "  format " + (view.has_format ? Quoted(view.format) : std::string("(none)")) + "\n";
    for (const auto& entry : view.entries) {
      if (entry.category) {
        std::snprintf(line, sizeof line, "  category %08X", entry.note_id);
      } else if (entry.has_note) {
        std::snprintf(line, sizeof line, "  document %08X unid %s modified %lld", entry.note_id,
                      UnidText(entry.unid).c_str(), static_cast<long long>(entry.modified.seconds));
      } else {
        std::snprintf(line, sizeof line, "  document %08X unid %s (no note)", entry.note_id,
                      UnidText(entry.unid).c_str());
      }
      out += line;
      for (const auto& value : entry.values) {
        out += ' ';
        switch (value.kind) {
          case SummaryValue::Kind::kText: out += Quoted(value.text); break;
          case SummaryValue::Kind::kTextList: {
            out += '[';
            for (std::size_t i = 0; i < value.list.size(); ++i) out += (i > 0 ? ", " : "") + Quoted(value.list[i]);
            out += ']';
            break;
          }
          case SummaryValue::Kind::kNumber:
            std::snprintf(line, sizeof line, "%g", value.number);
            out += line;
            break;
          case SummaryValue::Kind::kTime: out += "time " + TimeText(value.time); break;
        }
      }
      out += '\n';
    }
  }
  return out;
}

}  // namespace notes
