// Fuzzes chanadmin's reading of the form it is sent: the action, the four
// settings and the preview's file name stay within their bounds, and the
// settings survive being written into domino.dat's head and read back.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "domino/channel_file.h"
#include "domino/channel_text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  (void)domino::ChooseAction(input);
  if (domino::PreviewFileName(input).size() > domino::kConfigBytes) std::abort();
  const domino::ChannelSettings settings = domino::SettingsFromInput(input);
  for (const std::string* value : {&settings.name, &settings.dv_logo, &settings.ad_logo, &settings.dv_file}) {
    if (value->size() > domino::kSettingBytes || value->find('\0') != std::string::npos) std::abort();
  }
  domino::ChannelSettings expected = settings;
  // The name is read back without its trailing blanks.
  while (!expected.name.empty() && expected.name.back() == ' ') expected.name.pop_back();
  if (domino::SettingsFromHead(domino::ChannelHead(settings)) != expected) std::abort();
  if (domino::HtmlText(input).find_first_of("\"<>") != std::string::npos) std::abort();
  return 0;
}
