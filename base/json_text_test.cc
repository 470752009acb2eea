#include "base/json_text.h"

#include <gtest/gtest.h>

namespace json {
namespace {

TEST(JsonText, EscapesControlCharactersAndInvalidUtf8) {
  EXPECT_EQ(JsonQuote("a\"b\\c\n\r\t\x01\x7f"), "\"a\\\"b\\\\c\\n\\r\\t\\u0001\\u007f\"");
  EXPECT_EQ(JsonQuote("\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80"), "\"\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80\"");
  // Truncated, overlong, surrogate and out-of-range sequences.
  EXPECT_EQ(JsonQuote("\xC3"), "\"\\ufffd\"");
  EXPECT_EQ(JsonQuote("\xC0\xAF"), "\"\\ufffd\\ufffd\"");
  EXPECT_EQ(JsonQuote("\xED\xA0\x80"), "\"\\ufffd\\ufffd\\ufffd\"");
  EXPECT_EQ(JsonQuote("\xF4\x90\x80\x80"), "\"\\ufffd\\ufffd\\ufffd\\ufffd\"");
}

}  // namespace
}  // namespace json
