// Dates in HTTP headers: "Sun, 06 Nov 1994 08:49:37 GMT".
#pragma once

#include <cstddef>
#include <cstdint>

namespace net {

// Room for the longest date and its terminating zero.
inline constexpr std::size_t kHTTPDateCapacity = 32;

// Writes the date of `time` (seconds since 1970, UTC) into `out` and returns
// its length. A time of 0, or one outside years 1970..9999, gives an empty
// text (length 0): callers leave the header out then.
std::size_t FormatHTTPDate(std::int64_t time, char (&out)[kHTTPDateCapacity]);

}  // namespace net
