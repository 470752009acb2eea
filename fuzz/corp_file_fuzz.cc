// corp.dat and group files: any text is read without harm, and what is
// written from it reads back to the same bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "channels/corp_file_format.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > (1u << 20)) return 0;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  // Every local group reads the same text as its group file.
  const corp_format::GroupFileReader groupFile = [text](CCorpGroup& group) {
    std::string reason;
    return corp_format::ReadGroupFile(text, group, reason);
  };
  CCorpChannel channel;
  std::string reason;
  if (!corp_format::ReadChannel(text, channel, groupFile, reason)) return 0;

  const std::string compact = corp_format::WriteCompact(channel);
  CCorpChannel again;
  if (!corp_format::ReadChannel(compact, again, nullptr, reason)) std::abort();
  if (corp_format::WriteCompact(again) != compact) std::abort();

  const auto expanded = corp_format::WriteExpanded(
      channel, [text](const CCorpGroup&) -> std::optional<std::string> { return std::string(text); });
  if (expanded) {
    CCorpChannel served;
    corp_format::ReadChannel(*expanded, served, nullptr, reason);
  }
  return 0;
}
