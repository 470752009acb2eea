// Fuzzes redirect.csv: SetRedirectCsv on arbitrary bytes, then answers for
// a few addresses, the canonical keys and the range blocks it made. Names
// are never looked up and nothing is posted.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_machine_root.h"
#include "redirect/redirect_csv.h"
#include "redirect/redirection_map.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

class OfflineMap : public CRedirectionMap {
 public:
  using CRedirectionMap::CRedirectionMap;

 protected:
  void PostToSlave(const std::string&, int, std::string_view) override {}
  std::string HostAddress(const std::string& host) override { return host; }
  std::string AddressName(std::uint32_t) override { return {}; }
};

RedirectionIdentity Identity() {
  RedirectionIdentity identity;
  identity.hostName = "relay";
  identity.ownAddresses = {0x7F000001};
  identity.address = "127.0.0.1";
  identity.ports = {8080};
  return identity;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  UseTemporaryMachineRoot();
  static OfflineMap map{CPRegistry(), Identity()};
  const char* bytes = reinterpret_cast<const char*>(data);
  const std::string_view text(bytes, size);
  const int valid = map.SetRedirectCsv(bytes, static_cast<platform::DWORD>(size));
  Check(valid == (CRedirectionMap::IsValidTable(bytes, static_cast<platform::DWORD>(size)) ? 1 : 0));

  const CRedirectionMap::Statistics stats = map.GetStatistics();
  Check(stats.keys <= redirect::kMaxKeys && stats.servers <= redirect::kMaxServers);
  for (const char* client : {"10.1.2.3", "127.0.0.1", "0.0.0.0", "255.255.255.255", ""}) {
    const std::string answer = map.BuildRedirectAnswer(client);
    Check(answer.empty() || answer.starts_with("[DataCenter]\r\n"));
  }
  if (valid == 1 && stats.keys < 64) {
    for (const auto& [key, marks] : map.Entries()) {
      if (key == "all others") continue;
      redirect::Block block;
      Check(redirect::ParseAddressKey(key, block) && redirect::CanonicalKey(block) == key);
      Check(marks.size() <= stats.servers);
    }
  }
  // Every line's first cell read as a range: blocks in order, aligned, and
  // covering it exactly.
  std::vector<std::string_view> lines;
  if (redirect::SplitLines(text, lines)) {
    for (std::size_t i = 0; i < lines.size() && i < 16; ++i) {
      std::vector<redirect::Block> blocks;
      if (!redirect::RangeToBlocks(redirect::SplitCells(lines[i]).front(), blocks)) continue;
      Check(!blocks.empty() && blocks.size() <= redirect::kMaxRangeBlocks);
      for (std::size_t b = 1; b < blocks.size(); ++b) {
        const std::uint64_t end =
            std::uint64_t{blocks[b - 1].address} + (std::uint64_t{1} << (32 - blocks[b - 1].length));
        Check(end == blocks[b].address);
      }
      for (const redirect::Block& block : blocks) {
        Check((block.address & redirect::MaskFor(block.length)) == block.address);
      }
    }
  }
  return 0;
}
