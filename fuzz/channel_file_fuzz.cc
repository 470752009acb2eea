// Fuzzes chanadmin's reading of domino.dat: the settings in its head stay
// within their fields, and the body copied block by block is exactly what a
// search of the whole file finds.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "domino/channel_file.h"
#include "domino/channel_text.h"

namespace {

std::string_view ExpectedBody(std::string_view file, bool* whole) {
  std::size_t start = 0;
  *whole = true;
  const std::size_t key = file.find("DV_File = ");
  if (key != std::string_view::npos) {
    const std::size_t end = file.find('>', key + 10);
    if (end != std::string_view::npos) {
      start = end + 1;
      *whole = false;
    }
  }
  const std::size_t tag = file.find("</NotesChannelContent", start);
  return file.substr(start, (tag == std::string_view::npos ? file.size() : tag) - start);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view file(reinterpret_cast<const char*>(data), size);
  const domino::ChannelSettings settings = domino::SettingsFromHead(file);
  for (const std::string* value : {&settings.name, &settings.dv_logo, &settings.ad_logo, &settings.dv_file}) {
    if (value->size() > domino::kSettingBytes) std::abort();
  }
  if (domino::DecodeEntities(file).size() > file.size()) std::abort();

  std::string body;
  const domino::BodyCopy copy = domino::CopyChannelBody(
      [&](long long offset, char* buffer, std::size_t length) -> long long {
        if (offset < 0) std::abort();
        if (static_cast<std::size_t>(offset) >= file.size()) return 0;
        const std::size_t n = std::min(length, file.size() - static_cast<std::size_t>(offset));
        file.copy(buffer, n, static_cast<std::size_t>(offset));
        return static_cast<long long>(n);
      },
      [&](std::string_view piece) {
        body += piece;
        return true;
      });
  bool whole = false;
  if (body != ExpectedBody(file, &whole)) std::abort();
  if (copy != (whole ? domino::BodyCopy::kWholeFile : domino::BodyCopy::kCopied)) std::abort();
  return 0;
}
