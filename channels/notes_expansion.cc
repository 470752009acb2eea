#include "channels/notes_expansion.h"

#include <algorithm>
#include <cctype>
#include <iterator>
#include <vector>

#include "base/location_join.h"
#include "base/text_scan.h"
#include "base/trace_bits.h"
#include "platform/trace.h"

namespace notes_expansion {
namespace {

// Lines separated by CR and/or LF; empty lines dropped.
std::vector<std::string> SplitLines(std::string_view text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find_first_of("\r\n", start);
    const std::size_t stop = end == std::string_view::npos ? text.size() : end;
    if (stop > start) lines.emplace_back(text.substr(start, stop - start));
    start = stop + 1;
  }
  return lines;
}

// The URL and the optional user name and password of a VIEW_ID or
// GROUP_FILE value.
std::vector<std::string> SplitTokens(std::string_view value) {
  std::vector<std::string> tokens;
  std::size_t start = 0;
  while (start < value.size()) {
    const std::size_t end = value.find_first_of(" ,\t\n", start);
    const std::size_t stop = end == std::string_view::npos ? value.size() : end;
    if (stop > start) tokens.emplace_back(value.substr(start, stop - start));
    start = stop + 1;
  }
  return tokens;
}

}  // namespace

std::string DescriptionValue(std::string_view value) {
  if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
  std::string decoded;
  decoded.reserve(value.size());
  for (std::size_t i = 0; i < value.size(); ++i) {
    // "&#" and one to three digits, then ";".
    if (value[i] == '&' && i + 1 < value.size() && value[i + 1] == '#') {
      std::size_t digits = 0;
      int code = 0;
      const std::size_t first = i + 2;
      while (digits < 3 && first + digits < value.size() &&
             std::isdigit(static_cast<unsigned char>(value[first + digits]))) {
        code = code * 10 + (value[first + digits] - '0');
        ++digits;
      }
      const std::size_t end = first + digits;
      if (digits > 0 && end < value.size() && value[end] == ';' && code > 0 && code < 256) {
        decoded += static_cast<char>(code);
        i = end;
        continue;
      }
    }
    decoded += value[i];
  }
  return decoded;
}

std::string Expand(std::string_view image, const std::string& notesDirectory, const std::string& failureText,
                   const Fetcher& fetch, Named& named) {
  std::vector<std::string> lines = SplitLines(image);
  std::string output;
  std::size_t fetches = 0;
  std::size_t fetchedBytes = 0;
  bool inGroup = false;
  std::size_t groupEnd = 0;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const std::size_t equals = lines[i].find('=');
    if (equals != std::string::npos) {
      const std::string_view line(lines[i]);
      const std::string key = net::UpperCase(net::TrimBlanks(line.substr(0, equals)));
      const std::string value(net::TrimBlanks(line.substr(equals + 1)));
      if (key == "DV_FILE" || key == "DV_LOGO" || key == "AD_LOGO") {
        std::string& path = key == "DV_FILE" ? named.dvFile : key == "DV_LOGO" ? named.dvLogo : named.adLogo;
        path = JoinLocation(notesDirectory, DescriptionValue(value));
      } else if ((key == "GROUP_FILE" && !inGroup) || key == "VIEW_ID") {
        const std::vector<std::string> tokens = SplitTokens(value);
        const std::string url = tokens.empty() ? std::string() : tokens[0];
        std::string text;
        bool fetched = false;
        if (fetches >= kFetches || fetchedBytes >= kExpandedBytes) {
          trace(trace_bits::kHouseError,
                "Notes House: ReadAndExpand: more than %zu fetches or %zu bytes: \"%s\" left out.\n", kFetches,
                kExpandedBytes, url.c_str());
        } else if (!url.empty()) {
          ++fetches;
          fetched = fetch(url, tokens.size() > 1 ? tokens[1] : std::string(),
                          tokens.size() > 2 ? tokens[2] : std::string(),
                          std::min(kFetchBytes, kExpandedBytes - fetchedBytes), text);
          if (fetched) fetchedBytes += text.size();
        }
        if (!fetched) {
          lines[i] = "<!-- Unable to parse \"" + key + "=" + value + "\" -->\r\n" + failureText;
        } else if (key == "VIEW_ID") {
          lines[i] = "<!-- Inserting VIEW_ID \"" + url + "\" -->\r\n" + text;
        } else {
          // The group's lines follow; its GROUP_FILE lines stay as they are.
          std::vector<std::string> inserted = SplitLines(text);
          const std::size_t count = inserted.size();
          lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(i) + 1, std::make_move_iterator(inserted.begin()),
                       std::make_move_iterator(inserted.end()));
          lines[i] = "<!-- Inserting GROUP_FILE \"" + url + "\" -->";
          inGroup = count > 0;
          groupEnd = i + count;
        }
      }
    }
    output += lines[i];
    output += "\r\n";
    if (inGroup && i >= groupEnd) inGroup = false;
    if (output.size() > kExpandedBytes) {
      trace(trace_bits::kHouseError, "Notes House: ReadAndExpand: the expansion exceeds %zu bytes: cut.\n",
            kExpandedBytes);
      output += failureText + "\r\n";
      break;
    }
  }
  return output;
}

}  // namespace notes_expansion
