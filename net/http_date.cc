#include "net/http_date.h"

#include <chrono>
#include <cstdio>

namespace net {

namespace {

constexpr const char* kDayNames[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr const char* kMonthNames[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                       "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
// 9999-12-31 23:59:59 UTC: the last time whose year has four digits.
constexpr std::int64_t kLastFourDigitYear = 253402300799;

}  // namespace

std::size_t FormatHTTPDate(std::int64_t time, char (&out)[kHTTPDateCapacity]) {
  out[0] = '\0';
  if (time <= 0 || time > kLastFourDigitYear) return 0;
  using namespace std::chrono;
  const sys_seconds instant{seconds{time}};
  const sys_days day = floor<days>(instant);
  const year_month_day date{day};
  const hh_mm_ss<seconds> clock{instant - day};
  const int written = std::snprintf(
      out, kHTTPDateCapacity, "%s, %02u %s %4u %02u:%02u:%02u GMT", kDayNames[weekday{day}.c_encoding()],
      static_cast<unsigned>(date.day()), kMonthNames[static_cast<unsigned>(date.month()) - 1],
      static_cast<unsigned>(static_cast<int>(date.year())), static_cast<unsigned>(clock.hours().count()),
      static_cast<unsigned>(clock.minutes().count()), static_cast<unsigned>(clock.seconds().count()));
  if (written <= 0 || static_cast<std::size_t>(written) >= kHTTPDateCapacity) {
    out[0] = '\0';
    return 0;
  }
  return static_cast<std::size_t>(written);
}

}  // namespace net
