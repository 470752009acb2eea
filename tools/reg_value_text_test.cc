#include "tools/reg_value_text.h"

#include <gtest/gtest.h>

#include "platform/registry.h"

namespace zondrelctl {
namespace {

std::vector<BYTE> Encode(DWORD type, std::string_view text,
                         std::string_view separator = kDefaultMultiSeparator) {
  std::vector<BYTE> data;
  std::string error;
  EXPECT_TRUE(EncodeValueData(type, text, separator, &data, &error)) << text << ": " << error;
  return data;
}

std::string EncodeError(DWORD type, std::string_view text,
                        std::string_view separator = kDefaultMultiSeparator) {
  std::vector<BYTE> data;
  std::string error;
  EXPECT_FALSE(EncodeValueData(type, text, separator, &data, &error)) << text;
  return error;
}

TEST(RegValueText, NumbersAreDecimalOrHexAndRangeChecked) {
  EXPECT_EQ(Encode(platform::REG_DWORD, "20"), (std::vector<BYTE>{20, 0, 0, 0}));
  EXPECT_EQ(Encode(platform::REG_DWORD, "0x14"), (std::vector<BYTE>{20, 0, 0, 0}));
  EXPECT_EQ(Encode(platform::REG_DWORD, "0XFFFFFFFF"), (std::vector<BYTE>{255, 255, 255, 255}));
  EXPECT_EQ(Encode(platform::REG_DWORD, ""), (std::vector<BYTE>{0, 0, 0, 0}));
  EXPECT_EQ(Encode(kRegQword, "0x100000000"), (std::vector<BYTE>{0, 0, 0, 0, 1, 0, 0, 0}));
  for (const char* bad : {"4294967296", "-1", "+1", "0x", "12abc", "0x1g", " 1", "1.5"}) {
    EXPECT_NE(EncodeError(platform::REG_DWORD, bad).find("REG_DWORD"), std::string::npos) << bad;
  }
  EncodeError(kRegQword, "18446744073709551616");

  EXPECT_EQ(FormatValueData(platform::REG_DWORD, std::vector<BYTE>{20, 0, 0, 0}), "0x14");
  EXPECT_EQ(FormatValueData(kRegQword, std::vector<BYTE>{0, 0, 0, 0, 1, 0, 0, 0}), "0x100000000");
  // A DWORD of the wrong size is shown as its bytes, not misread.
  EXPECT_EQ(FormatValueData(platform::REG_DWORD, std::vector<BYTE>{1, 2}), "0102");
}

TEST(RegValueText, MultiStringsUseTheDefaultOrAChosenSeparator) {
  std::vector<BYTE> ab = {'a', 0, 'b', 'c', 0, 0};
  EXPECT_EQ(Encode(platform::REG_MULTI_SZ, "a\\0bc"), ab);
  EXPECT_EQ(Encode(platform::REG_MULTI_SZ, "a\\0bc\\0"), ab);  // a closing separator adds nothing
  EXPECT_EQ(Encode(platform::REG_MULTI_SZ, "a#bc", "#"), ab);
  // With another separator the two characters \0 are plain text.
  EXPECT_EQ(Encode(platform::REG_MULTI_SZ, "a\\0b", "#"),
            (std::vector<BYTE>{'a', '\\', '0', 'b', 0, 0}));
  EXPECT_EQ(Encode(platform::REG_MULTI_SZ, ""), (std::vector<BYTE>{0}));
  EXPECT_NE(EncodeError(platform::REG_MULTI_SZ, "a\\0\\0b").find("empty string"), std::string::npos);
  EncodeError(platform::REG_MULTI_SZ, "a", "");

  EXPECT_EQ(FormatValueData(platform::REG_MULTI_SZ, ab), "a\\0bc");
  EXPECT_EQ(FormatValueData(platform::REG_MULTI_SZ, std::vector<BYTE>{'x'}), "x");  // no terminator
  EXPECT_EQ(FormatValueData(platform::REG_MULTI_SZ, std::vector<BYTE>{0}), "");
}

TEST(RegValueText, StringsAndBinary) {
  EXPECT_EQ(Encode(platform::REG_SZ, "127.0.0.1,18080").back(), 0);
  EXPECT_EQ(Encode(platform::REG_EXPAND_SZ, "%TEMP%").size(), 7u);
  EXPECT_EQ(FormatValueData(platform::REG_SZ, Encode(platform::REG_SZ, "x y")), "x y");
  EXPECT_EQ(FormatValueData(platform::REG_SZ, std::vector<BYTE>{'a', 0, 'b'}), "a");

  EXPECT_EQ(Encode(platform::REG_BINARY, "01aBff"), (std::vector<BYTE>{1, 0xab, 0xff}));
  EXPECT_EQ(Encode(platform::REG_NONE, ""), std::vector<BYTE>{});
  EXPECT_NE(EncodeError(platform::REG_BINARY, "123").find("odd"), std::string::npos);
  EXPECT_NE(EncodeError(platform::REG_BINARY, "zz").find("hex"), std::string::npos);
  EXPECT_EQ(FormatValueData(platform::REG_BINARY, std::vector<BYTE>{1, 0xab, 0xff}), "01ABFF");
}

TEST(RegValueText, TypeNamesAndLimits) {
  EXPECT_EQ(ParseRegTypeName("reg_expand_sz"), platform::REG_EXPAND_SZ);
  EXPECT_EQ(ParseRegTypeName("REG_QWORD"), kRegQword);
  EXPECT_FALSE(ParseRegTypeName("REG_FOO"));
  EXPECT_EQ(RegTypeName(platform::REG_MULTI_SZ), "REG_MULTI_SZ");
  EXPECT_EQ(RegTypeName(99), "REG_TYPE(99)");

  std::string error;
  EXPECT_TRUE(CheckValueLimits(std::string(platform::kMaxValueNameLength, 'n'),
                               platform::kMaxValueDataSize, &error));
  EXPECT_FALSE(CheckValueLimits(std::string(platform::kMaxValueNameLength + 1, 'n'), 0, &error));
  EXPECT_FALSE(CheckValueLimits("n", platform::kMaxValueDataSize + 1, &error));
}

}  // namespace
}  // namespace zondrelctl
