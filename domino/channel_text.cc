#include "domino/channel_text.h"

#include <cstdio>

namespace domino {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

int HexDigit(char c) {
  if (IsDigit(c)) return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string Cut(std::string text, std::size_t limit) {
  if (text.size() > limit) text.resize(limit);
  return text;
}

// The value after `key` in `head`: past an opening quote, up to the first
// of `stops` (`quoted_stops` when the value has the quote).
bool HeadValue(std::string_view head, std::string_view key, std::string_view stops, std::string* raw,
               std::string_view quoted_stops = {}) {
  const std::size_t at = head.find(key);
  if (at == std::string_view::npos) return false;
  std::size_t start = at + key.size();
  if (start < head.size() && head[start] == '"') {
    ++start;
    if (!quoted_stops.empty()) stops = quoted_stops;
  }
  std::size_t end = head.find_first_of(stops, start);
  if (end == std::string_view::npos) end = head.size();
  *raw = std::string(head.substr(start, end - start));
  return true;
}

// The form field `key` of the request text, up to the next "&".
bool InputField(std::string_view input, std::string_view key, std::string* value) {
  const std::size_t at = input.find(key);
  if (at == std::string_view::npos) return false;
  const std::size_t start = at + key.size();
  std::size_t end = input.find('&', start);
  if (end == std::string_view::npos) end = input.size();
  *value = FormValueDecode(input.substr(start, end - start));
  return true;
}

}  // namespace

std::string EscapeValue(std::string_view value) {
  std::string out;
  out.reserve(value.size());
  for (char c : value) {
    if (c == ' ' || c == '.' || IsDigit(c) || IsLetter(c)) {
      out += c;
    } else {
      char entity[8];
      std::snprintf(entity, sizeof entity, "&#%03u;", static_cast<unsigned>(static_cast<unsigned char>(c)));
      out += entity;
    }
  }
  return out;
}

std::string DecodeEntities(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    if (text[i] == '&' && i + 2 < text.size() && text[i + 1] == '#' && IsDigit(text[i + 2])) {
      std::size_t j = i + 2;
      unsigned code = 0;
      while (j < text.size() && j < i + 5 && IsDigit(text[j])) code = code * 10 + static_cast<unsigned>(text[j++] - '0');
      if (code >= 1 && code <= 255) {
        out += static_cast<char>(code);
        if (j < text.size() && text[j] == ';') ++j;
        i = j;
        continue;
      }
    }
    out += text[i++];
  }
  return out;
}

ChannelSettings SettingsFromHead(std::string_view head) {
  ChannelSettings settings;
  std::string raw;
  if (HeadValue(head, "ChannelName = ", "\r\t\n\"/", &raw)) {
    while (!raw.empty() && (raw.back() == ' ' || raw.back() == '\t')) raw.pop_back();
    settings.name = Cut(DecodeEntities(raw), kSettingBytes);
  }
  // A file name ends at a blank, except within the quotes this program
  // writes: there a blank is part of the name, as it was saved.
  constexpr std::string_view kNameStops = "\r\t\n \"";
  constexpr std::string_view kQuotedNameStops = "\r\t\n\"";
  if (HeadValue(head, "DV_Logo = ", kNameStops, &raw, kQuotedNameStops)) {
    settings.dv_logo = Cut(DecodeEntities(raw), kSettingBytes);
  }
  if (HeadValue(head, "AD_Logo = ", kNameStops, &raw, kQuotedNameStops)) {
    settings.ad_logo = Cut(DecodeEntities(raw), kSettingBytes);
  }
  if (HeadValue(head, "DV_File = ", kNameStops, &raw, kQuotedNameStops)) {
    settings.dv_file = Cut(DecodeEntities(raw), kSettingBytes);
  }
  return settings;
}

std::string FormValueDecode(std::string_view value) {
  std::string out;
  for (std::size_t i = 0; i < value.size() && out.size() < kSettingBytes; ++i) {
    char c = value[i];
    if (c == '+') {
      c = ' ';
    } else if (c == '%' && i + 2 < value.size() && HexDigit(value[i + 1]) >= 0 && HexDigit(value[i + 2]) >= 0) {
      c = static_cast<char>(HexDigit(value[i + 1]) * 16 + HexDigit(value[i + 2]));
      i += 2;
    }
    if (c == '\0') break;
    out += c;
  }
  return out;
}

FormAction ChooseAction(std::string_view input) {
  if (input.find("InputString=Preview") != std::string_view::npos) return FormAction::kPreview;
  if (input.find("InputString=+Save+Changes+to+Domino+Server+") != std::string_view::npos) return FormAction::kSave;
  if (input.find("InputString.x") != std::string_view::npos) return FormAction::kDatabaseLinks;
  return FormAction::kShow;
}

ChannelSettings SettingsFromInput(std::string_view input) {
  ChannelSettings settings;
  InputField(input, "channelName=", &settings.name);
  InputField(input, "dvLogoFileName=", &settings.dv_logo);
  InputField(input, "adLogoFileName=", &settings.ad_logo);
  InputField(input, "dvAnimationFileName=", &settings.dv_file);
  return settings;
}

std::string PreviewFileName(std::string_view input) {
  std::string lower(input);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  const std::size_t anm = lower.find(".anm");
  if (anm == std::string::npos) return "";
  const std::size_t equals = lower.rfind('=', anm);
  const std::size_t start = equals == std::string::npos ? 0 : equals + 1;
  return Cut(lower.substr(start, anm - start) + ".gif", kConfigBytes);
}

std::string HtmlText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '"': out += "&quot;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      default: out += c;
    }
  }
  return out;
}

}  // namespace domino
