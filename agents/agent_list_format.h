// The text of an agent list: Agents.lst as stored (the upstream answer's
// header block, then the body) and the registry's default entries. The body
// is a count line and one "category,value" line per entry, in decimal.
#pragma once

#include <cstdint>
#include <string_view>
#include <unordered_map>

namespace agents {

using AgentMap = std::unordered_map<std::uint32_t, std::uint32_t>;

enum class ListParse {
  kRejected,    // no count, a count of 0, or a count above the limit
  kWithErrors,  // usable, but some entry lines were not "category,value"
  kClean,
};

// The body: everything after the first empty line (CR LF CR LF), or the
// whole text when there is none.
std::string_view ListBody(std::string_view data);

// Parses `data` into `map` (emptied first; a later line for a category
// replaces an earlier one). The map is sized for the announced count, but
// never beyond the number of lines the body holds. `count` receives the
// announced count.
ListParse ParseAgentList(std::string_view data, AgentMap& map, std::uint32_t maxEntries, std::uint64_t& count);

// One "category,value" entry, blanks allowed around the numbers.
bool ParseAgentEntry(std::string_view text, std::uint32_t& category, std::uint32_t& value);

}  // namespace agents
