#include "base/text_scan.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <string_view>

#include <gtest/gtest.h>

namespace {

using namespace std::string_view_literals;

constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();

TEST(TextScanNumbers, ReadLikeTheCLibraryUpToTheFirstOtherCharacter) {
  EXPECT_EQ(net::ScanLong("123"), 123);
  EXPECT_EQ(net::ScanLong(" \t\r\n\v\f-42xyz"), -42);
  EXPECT_EQ(net::ScanLong("+7"), 7);
  EXPECT_EQ(net::ScanLong("007"), 7);
  EXPECT_EQ(net::ScanLong("1 2"), 1);
  EXPECT_EQ(net::ScanLong("0x10"), 0);
  for (std::string_view none : {""sv, " "sv, "-"sv, "+"sv, "abc"sv, "--5"sv, "+-5"sv, "- 5"sv, "\0" "5"sv}) {
    EXPECT_EQ(net::ScanLong(none), 0) << none;
  }
  // The view ends the number, not a terminating zero.
  EXPECT_EQ(net::ScanLong(std::string_view("12345", 2)), 12);
  EXPECT_EQ(net::ScanUnsigned(std::string_view("98765", 3)), 987u);
}

TEST(TextScanNumbers, SaturateInsteadOfOverflowing) {
  EXPECT_EQ(net::ScanLong("2147483647"), kMax);
  EXPECT_EQ(net::ScanLong("2147483648"), kMax);
  EXPECT_EQ(net::ScanLong("-2147483648"), kMin);
  EXPECT_EQ(net::ScanLong("-2147483649"), kMin);
  const std::string many(400, '9');
  EXPECT_EQ(net::ScanLong(many), kMax);
  EXPECT_EQ(net::ScanLong("-" + many), kMin);
  EXPECT_EQ(net::ScanLong("18446744073709551617"), kMax);  // 2^64 + 1 wraps a 64-bit reader to 1

  EXPECT_EQ(net::ScanUnsigned("4294967295"), 4294967295u);
  EXPECT_EQ(net::ScanUnsigned("3000000000"), 3000000000u);
  EXPECT_EQ(net::ScanUnsigned("4294967296"), 4294967295u);
  EXPECT_EQ(net::ScanUnsigned(many), 4294967295u);
  // Negative numbers give the bit pattern of their signed value...
  EXPECT_EQ(net::ScanUnsigned("-1"), 0xFFFFFFFFu);
  EXPECT_EQ(net::ScanUnsigned("-2147483648"), 0x80000000u);
  // ...saturated first, so that no count of digits makes them wrap around.
  EXPECT_EQ(net::ScanUnsigned("-4294967296"), 0x80000000u);
  EXPECT_EQ(net::ScanUnsigned("-4294967297"), 0x80000000u);
  EXPECT_EQ(net::ScanUnsigned("-" + many), 0x80000000u);
}

TEST(TextScanNumbers, DecimalsIndependentOfTheLocale) {
  EXPECT_EQ(net::ScanDecimal("1.0"), 1.0);
  EXPECT_EQ(net::ScanDecimal(" 1"), 1.0);
  EXPECT_EQ(net::ScanDecimal("+1.5"), 1.5);
  EXPECT_EQ(net::ScanDecimal("-0.25"), -0.25);
  EXPECT_EQ(net::ScanDecimal("0.9x"), 0.9);
  EXPECT_EQ(net::ScanDecimal(".5"), 0.5);
  EXPECT_EQ(net::ScanDecimal("1.1"), 1.1);
  EXPECT_EQ(net::ScanDecimal("1,5"), 1.0);  // a comma is no decimal point here
  EXPECT_EQ(net::ScanDecimal(std::string_view("1.05", 3)), 1.0);
  for (std::string_view none : {""sv, " "sv, "x1"sv, "+"sv, "+-1"sv, "-+1"sv, "--1"sv, "."sv}) {
    EXPECT_EQ(net::ScanDecimal(none), 0.0) << none;
  }
  EXPECT_EQ(net::ScanDecimal("1" + std::string(400, '0')), 0.0) << "out of range is no number";
}

TEST(TextScanText, CaseAndBlanksOnlyInAscii) {
  EXPECT_TRUE(net::EqualsNoCase("Content-Length", "content-LENGTH"));
  EXPECT_TRUE(net::EqualsNoCase("", ""));
  EXPECT_FALSE(net::EqualsNoCase("NumRef", "NumRe"));
  EXPECT_FALSE(net::EqualsNoCase("NumRe", "NumRef"));
  EXPECT_FALSE(net::EqualsNoCase("@", "`"));  // one below 'A' and one below 'a'
  EXPECT_FALSE(net::EqualsNoCase("[", "{"));  // one above 'Z' and one above 'z'
  EXPECT_FALSE(net::EqualsNoCase("\xC9", "\xE9"));
  EXPECT_FALSE(net::EqualsNoCase("a\0b"sv, "a\0c"sv));

  EXPECT_EQ(net::TrimBlanks(" \t a b \t"), "a b");
  EXPECT_EQ(net::TrimBlanks(" \t "), "");
  EXPECT_EQ(net::TrimBlanks(""), "");
  EXPECT_EQ(net::TrimBlanks("\r x \n"), "\r x \n");  // line ends are no blanks
}

TEST(TextScanLines, ALineIsFoundOnlyWithItsEndInsideTheWindow) {
  std::size_t raw = 0;
  std::string_view text;
  EXPECT_FALSE(net::FindLine(nullptr, 0, raw, text));

  // Exactly the window's bytes, so that a read past it is a fault the
  // address sanitizer sees.
  auto Find = [&](std::string_view bytes) {
    auto copy = std::make_unique<char[]>(bytes.size());
    std::copy(bytes.begin(), bytes.end(), copy.get());
    raw = 0;
    text = {};
    const bool found = net::FindLine(copy.get(), bytes.size(), raw, text);
    const std::string kept(text);
    text = {};
    return found ? kept : std::string("<none>");
  };
  EXPECT_EQ(Find("abc\r\nrest"), "abc");
  EXPECT_EQ(raw, 5u);
  EXPECT_EQ(Find("abc\nrest\n"), "abc");
  EXPECT_EQ(raw, 4u);
  EXPECT_EQ(Find("\n"), "");
  EXPECT_EQ(raw, 1u);
  EXPECT_EQ(Find("\r\n"), "");
  EXPECT_EQ(raw, 2u);
  EXPECT_EQ(Find("a\rb\r\r\n"), "a\rb\r");  // only the CR of the line end goes
  EXPECT_EQ(raw, 6u);
  EXPECT_EQ(Find("abc\r"), "<none>");
  EXPECT_EQ(Find("abc"), "<none>");
  EXPECT_EQ(Find(std::string(4096, 'x')), "<none>");

  // A line end just past the window does not count.
  const char line[] = "abc\n";
  EXPECT_FALSE(net::FindLine(line, 3, raw, text));
  EXPECT_TRUE(net::FindLine(line, 4, raw, text));
}

}  // namespace
