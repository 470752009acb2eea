// The Notes channel's expansion over any description and any fetched text:
// every fetch answers with a piece of the input, so views and group files
// are as arbitrary as the description. Nothing may crash or grow without
// bound.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <string>
#include <string_view>

#include "channels/notes_expansion.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > (1u << 16)) return 0;
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const notes_expansion::Fetcher fetch = [input](const std::string& url, const std::string&, const std::string&,
                                                 std::size_t maxBytes, std::string& text) {
    const std::size_t from = std::hash<std::string>()(url) % (input.size() + 1);
    if (from == input.size()) return false;  // some servers do not answer
    text.assign(input.substr(from, maxBytes));
    return true;
  };
  notes_expansion::Named named;
  const std::string output = notes_expansion::Expand(input, "/notes/", "<NOTESVIEW Name=\"x\"> </NOTESVIEW>", fetch, named);
  // Each line of the input gives at most one line plus a fetch's worth.
  if (output.size() > notes_expansion::kExpandedBytes + 4096) std::abort();
  return 0;
}
