#include "platform/event_store.h"

#include <string>

#include <gtest/gtest.h>

#include "platform/testing.h"

namespace platform {
namespace {

TEST(EventMessages, InsertionStringsAndUnknownIds) {
  std::string file = testing_support::TestRoot() + "/messages.msg";
  testing_support::WriteFile(file,
                             "; comment\n\n0xC0000067 Error writing file %1 : %2\n"
                             "0x40000834 Started at 100%% (%3 missing)\n");
  EXPECT_EQ(FormatEventMessage(file, 0xC0000067, {"Tx000001.log", "disk full"}),
            "Error writing file Tx000001.log : disk full");
  EXPECT_EQ(FormatEventMessage(file, 0x40000834, {}), "Started at 100% ( missing)");
  EXPECT_EQ(FormatEventMessage(file, 0x1234, {}), "");
  EXPECT_EQ(FormatEventMessage(file + ".absent", 0xC0000067, {}), "");
}

}  // namespace
}  // namespace platform
