#include "tools/reg_key_path.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/registry.h"

namespace zondrelctl {
namespace {

TEST(RegKeyPathText, RootsInAnyCaseAndComponentLimits) {
  std::string error;
  for (const char* text : {"HKLM\\SOFTWARE\\X", "hklm\\SOFTWARE\\X", "HKEY_LOCAL_MACHINE\\SOFTWARE\\X\\",
                           "Hkey_Local_Machine\\SOFTWARE\\X"}) {
    auto path = ParseRegKeyPath(text, &error);
    ASSERT_TRUE(path) << text << ": " << error;
    EXPECT_EQ(path->Format(), "HKEY_LOCAL_MACHINE\\SOFTWARE\\X");
  }
  EXPECT_EQ(ParseRegKeyPath("HKCU", &error)->Format(), "HKEY_CURRENT_USER");
  EXPECT_EQ(ParseRegKeyPath("hku\\S", &error)->Format(), "HKEY_USERS\\S");
  EXPECT_EQ(ParseRegKeyPath("HKEY_CLASSES_ROOT\\.txt", &error)->root, RegRoot::kClassesRoot);
  for (const char* bad : {"", "HKCC\\X", "SOFTWARE\\X", "HKLMX", "HKLM\\\\X", "HKLM\\X\\\\", "\\HKLM"}) {
    EXPECT_FALSE(ParseRegKeyPath(bad, &error)) << bad;
  }
  std::string component(platform::kMaxKeyNameLength, 'c');
  EXPECT_TRUE(ParseRegKeyPath("HKLM\\" + component + "\\" + component, &error));
  EXPECT_FALSE(ParseRegKeyPath("HKLM\\" + component + "c\\x", &error));
  EXPECT_NE(error.find("255"), std::string::npos);
}

}  // namespace
}  // namespace zondrelctl
