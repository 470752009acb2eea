#include "agents/agent_list_format.h"

#include <algorithm>
#include <charconv>

#include "base/hash_table_size.h"

namespace agents {
namespace {

std::string_view Trim(std::string_view text) {
  const std::size_t first = text.find_first_not_of(" \t\r");
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

template <typename Number>
bool ParseDecimal(std::string_view text, Number& value) {
  text = Trim(text);
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return !text.empty() && error == std::errc() && end == text.data() + text.size();
}

// Takes the next line (without its line end) off the front of `text`.
std::string_view NextLine(std::string_view& text) {
  const std::size_t end = text.find('\n');
  const std::string_view line = text.substr(0, end);
  text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
  return line;
}

}  // namespace

std::string_view ListBody(std::string_view data) {
  const std::size_t end = data.find("\r\n\r\n");
  return end == std::string_view::npos ? data : data.substr(end + 4);
}

bool ParseAgentEntry(std::string_view text, std::uint32_t& category, std::uint32_t& value) {
  const std::size_t comma = text.find(',');
  return comma != std::string_view::npos && ParseDecimal(text.substr(0, comma), category) &&
         ParseDecimal(text.substr(comma + 1), value);
}

ListParse ParseAgentList(std::string_view data, AgentMap& map, std::uint32_t maxEntries, std::uint64_t& count) {
  map.clear();
  std::string_view body = ListBody(data);
  count = 0;
  if (!ParseDecimal(NextLine(body), count) || count == 0 || count > maxEntries) return ListParse::kRejected;

  // A count far above what the text holds must not size the table.
  const std::uint64_t lines = static_cast<std::uint64_t>(std::count(body.begin(), body.end(), '\n')) + 1;
  map.rehash(HashTableSize(static_cast<std::size_t>(std::min(count, lines))));
  bool clean = true;
  while (!body.empty()) {
    const std::string_view line = NextLine(body);
    if (Trim(line).empty()) continue;
    std::uint32_t category = 0;
    std::uint32_t value = 0;
    if (ParseAgentEntry(line, category, value)) {
      map[category] = value;
    } else {
      clean = false;
    }
  }
  return clean ? ListParse::kClean : ListParse::kWithErrors;
}

}  // namespace agents
