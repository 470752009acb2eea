// Fuzzes the .reg reader. Whatever it accepts must also survive the writer:
// every value read is written back, read again and must come out unchanged.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "tools/reg_file.h"
#include "tools/reg_value_text.h"

using zondrelctl::RegFileEntry;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  zondrelctl::RegFileContents contents = zondrelctl::ParseRegFile(bytes);
  if (!contents.ok()) {
    if (!contents.entries.empty()) std::abort();  // a failed read must yield nothing
    return 0;
  }
  std::string written(zondrelctl::kRegFileHeader);
  std::vector<const RegFileEntry*> values;
  for (const auto& entry : contents.entries) {
    if (entry.kind != RegFileEntry::Kind::kValue) continue;
    (void)zondrelctl::FormatValueData(entry.value.type, entry.value.data);
    written += zondrelctl::FormatRegSection(entry.key, {&entry.value, 1});
    values.push_back(&entry);
  }
  zondrelctl::RegFileContents again = zondrelctl::ParseRegFile(written);
  if (!again.ok()) std::abort();
  std::size_t next = 0;
  for (const auto& entry : again.entries) {
    if (entry.kind != RegFileEntry::Kind::kValue) continue;
    if (next >= values.size() || entry.key != values[next]->key || entry.value != values[next]->value) {
      std::abort();
    }
    ++next;
  }
  if (next != values.size()) std::abort();
  return 0;
}
