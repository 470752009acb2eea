#include "net/http_date.h"

#include <cstdint>
#include <cstring>
#include <limits>
#include <string>

#include <gtest/gtest.h>

namespace {

std::string Date(std::int64_t time) {
  char text[net::kHTTPDateCapacity];
  const std::size_t length = net::FormatHTTPDate(time, text);
  EXPECT_EQ(length, std::strlen(text)) << time;
  return text;
}

TEST(HTTPDate, FormatAcrossTheCalendar) {
  EXPECT_EQ(Date(784111777), "Sun, 06 Nov 1994 08:49:37 GMT");
  EXPECT_EQ(Date(1), "Thu, 01 Jan 1970 00:00:01 GMT");
  // Leap days: 1972 and 2000 have one, 2100 has none.
  EXPECT_EQ(Date(951782400), "Tue, 29 Feb 2000 00:00:00 GMT");
  EXPECT_EQ(Date(68256000 - 1), "Tue, 29 Feb 1972 23:59:59 GMT");
  EXPECT_EQ(Date(68256000), "Wed, 01 Mar 1972 00:00:00 GMT");
  EXPECT_EQ(Date(4107542399), "Sun, 28 Feb 2100 23:59:59 GMT");
  EXPECT_EQ(Date(4107542400), "Mon, 01 Mar 2100 00:00:00 GMT");
  // Past the 32-bit second count.
  EXPECT_EQ(Date(2147483647), "Tue, 19 Jan 2038 03:14:07 GMT");
  EXPECT_EQ(Date(2147483648), "Tue, 19 Jan 2038 03:14:08 GMT");
  // The last second with a four-digit year is the longest text there is.
  EXPECT_EQ(Date(253402300799), "Fri, 31 Dec 9999 23:59:59 GMT");
  EXPECT_LT(Date(253402300799).size(), net::kHTTPDateCapacity);
}

TEST(HTTPDate, TimesOutOfRangeGiveAnEmptyTextWhateverTheBufferHeld) {
  // 0 means "no time"; year 10000 would need a fifth digit.
  for (std::int64_t time : {std::numeric_limits<std::int64_t>::min(), std::int64_t{-5}, std::int64_t{0},
                            std::int64_t{253402300800}, std::numeric_limits<std::int64_t>::max()}) {
    char text[net::kHTTPDateCapacity];
    std::memset(text, 'x', sizeof(text));
    EXPECT_EQ(net::FormatHTTPDate(time, text), 0u) << time;
    EXPECT_EQ(text[0], '\0') << time;
  }
}

}  // namespace
