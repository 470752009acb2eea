// The texts chanadmin reads and writes: the channel settings record, the
// value escaping of domino.dat's head, and the form's request text.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace domino {

// Each setting is held in a 500-byte field: 499 bytes and the terminator.
// Longer values are cut, never overflow.
inline constexpr std::size_t kSettingBytes = 499;
// The request text: at most 4095 bytes.
inline constexpr std::size_t kInputBytes = 4095;
// Registry values and the server name: 300-byte buffers.
inline constexpr std::size_t kConfigBytes = 299;

struct ChannelSettings {
  std::string name = "Domino";
  std::string dv_logo = "domdvlog.gif";
  std::string ad_logo = "domadlog.gif";
  std::string dv_file = "S4030005.anm";
  friend bool operator==(const ChannelSettings&, const ChannelSettings&) = default;
};

// A value as domino.dat's head holds it: every byte other than a space, a
// full stop, a digit or a letter as "&#" + its code in three digits + ";".
std::string EscapeValue(std::string_view value);
// The reverse: "&#" followed by one to three digits (and an optional ";")
// is the byte with that code (1 to 255); anything else, a lone "&" too,
// stays as it is.
std::string DecodeEntities(std::string_view text);

// The settings written in the head of domino.dat (`head` is the start of
// the file); a value the head does not name keeps its default.
ChannelSettings SettingsFromHead(std::string_view head);

// Form field text: "+" is a space and "%" with two hexadecimal digits the
// byte; the value ends at a NUL byte and is cut to kSettingBytes.
std::string FormValueDecode(std::string_view value);

enum class FormAction { kShow, kSave, kDatabaseLinks, kPreview };
// What the request text asks for, the first match winning: the preview
// button, the save button, the image button, else showing the form.
FormAction ChooseAction(std::string_view input);
// The settings the form sent; a field it did not send keeps its default.
ChannelSettings SettingsFromInput(std::string_view input);
// For the preview: the chosen animation's still picture, the request text
// lower-cased from the "=" before its first ".anm", with ".gif" in place of
// ".anm" (at most kConfigBytes); empty when the text names no ".anm".
std::string PreviewFileName(std::string_view input);

// `text` for a double-quoted HTML attribute or element text: "&", "\"",
// "<" and ">" as character references.
std::string HtmlText(std::string_view text);

}  // namespace domino
