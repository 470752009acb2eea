#include "perfctr/perf_data.h"

#include <cstring>

namespace perfctr {

namespace {

void Put32(unsigned char* at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<unsigned char>(value >> (8 * i));
}

}  // namespace

std::array<unsigned char, kDefinitionSize> BuildDefinition(std::uint32_t firstCounter, std::uint32_t firstHelp) {
  std::array<unsigned char, kDefinitionSize> out{};
  unsigned char* header = out.data();
  Put32(header + 0, kDataSize);
  Put32(header + 4, kDefinitionSize);
  Put32(header + 8, kObjectHeaderSize);
  Put32(header + 12, firstCounter);  // object name index
  Put32(header + 16, 0);
  Put32(header + 20, firstHelp);  // object help index
  Put32(header + 24, 0);
  Put32(header + 28, kDetailNovice);
  Put32(header + 32, perf::kCounterCount);
  Put32(header + 36, 0);  // default counter
  Put32(header + 40, 0);  // instances
  Put32(header + 44, 0);  // code page
  // Performance time and frequency (64-bit each) stay 0.
  for (std::uint32_t i = 0; i < perf::kCounterCount; ++i) {
    unsigned char* counter = out.data() + kObjectHeaderSize + i * kCounterDefinitionSize;
    Put32(counter + 0, kCounterDefinitionSize);
    Put32(counter + 4, firstCounter + 2 * (i + 1));
    Put32(counter + 8, 0);
    Put32(counter + 12, firstHelp + 2 * (i + 1));
    Put32(counter + 16, 0);
    Put32(counter + 20, 0);  // default scale
    Put32(counter + 24, kDetailNovice);
    Put32(counter + 28, i == perf::eAcceptedRate ? kRatePerSecond : kRawCount);
    Put32(counter + 32, 4);
    Put32(counter + 36, 4 + 4 * i);
  }
  return out;
}

std::array<unsigned char, kDataSize> BuildData(const std::array<unsigned char, kDefinitionSize>& definition,
                                               const perf::Counters& words) {
  std::array<unsigned char, kDataSize> out{};
  std::memcpy(out.data(), definition.data(), definition.size());
  unsigned char* block = out.data() + kDefinitionSize;
  Put32(block, kCounterBlockSize);
  for (std::size_t i = 0; i < perf::kCounterCount; ++i) Put32(block + 4 + 4 * i, words[i]);
  return out;
}

eRequest ClassifyRequest(const char* valueName) {
  if (valueName == nullptr || *valueName == '\0') return eRequest::eGlobal;
  const std::string_view text(valueName);
  if (text == "Global") return eRequest::eGlobal;
  if (text == "Foreign") return eRequest::eForeign;
  if (text == "Costly") return eRequest::eCostly;
  return eRequest::eList;
}

bool ListNames(std::string_view text, std::uint32_t index) {
  std::size_t at = 0;
  while (at < text.size()) {
    while (at < text.size() && (text[at] < '0' || text[at] > '9')) ++at;
    std::uint64_t number = 0;
    bool any = false;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9') {
      number = number * 10 + static_cast<std::uint64_t>(text[at] - '0');
      any = true;
      ++at;
      if (number > 0xFFFFFFFFull) {
        // Too long to be an index: skip the rest of the digits.
        while (at < text.size() && text[at] >= '0' && text[at] <= '9') ++at;
        any = false;
      }
    }
    if (any && number == index) return true;
  }
  return false;
}

}  // namespace perfctr
