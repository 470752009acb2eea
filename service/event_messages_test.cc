// The message file shipped beside the program against the event catalogue:
// every report the server can write must show a text, and that text must
// take the strings the report gives (their number is held to the catalogue
// when the report compiles).
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/event_catalogue.h"
#include "platform/event_store.h"
#include "platform/testing.h"

namespace {

std::string Hex(platform::DWORD id) {
  char text[16];
  std::snprintf(text, sizeof(text), "0x%08X", static_cast<unsigned>(id));
  return text;
}

std::string MessageFile() { return testing_support::ProgramPath("evtmsgs.msg"); }

// The insertion string of position n, as it shows in a formatted text.
std::string Marker(std::size_t n) { return "\x1f" + std::to_string(n) + "\x1f"; }

}  // namespace

TEST(EventCatalogue, EveryReportHasATextThatTakesExactlyItsStrings) {
  const std::string file = MessageFile();
  ASSERT_TRUE(std::ifstream(file).good()) << file;
  std::vector<std::string> markers;
  for (std::size_t n = 1; n <= platform::kMaxEventStrings; ++n) markers.push_back(Marker(n));

  for (const events::Entry* entry : events::kAll) {
    SCOPED_TRACE(Hex(entry->id));
    const std::string text = platform::FormatEventMessage(file, entry->id, markers);
    ASSERT_FALSE(text.empty()) << "no text in " << file;
    // %1 to %n each shown, nothing beyond: no string is dropped or left blank.
    for (std::size_t n = 1; n <= platform::kMaxEventStrings; ++n) {
      EXPECT_EQ(text.find(Marker(n)) != std::string::npos, n <= entry->strings) << "%" << n << " in: " << text;
    }
  }
}

TEST(EventCatalogue, EachIdHasOneTextLine) {
  std::ifstream in(MessageFile());
  ASSERT_TRUE(in.good());
  std::map<platform::DWORD, int> lines;
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == ';') continue;
    lines[static_cast<platform::DWORD>(std::strtoul(line.c_str(), nullptr, 0))]++;
  }
  // A second line for an id would never be shown: the first one wins.
  for (const events::Entry* entry : events::kAll) EXPECT_EQ(lines[entry->id], 1) << Hex(entry->id);
}
