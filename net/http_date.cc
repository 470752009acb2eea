#include "net/http_date.h"

#include <chrono>

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
  // "Sun, 06 Nov 1994 08:49:37 GMT", written digit by digit: every answer
  // carries one or two of these.
  char* p = out;
  const auto put = [&p](const char* text) {
    while (*text != '\0') *p++ = *text++;
  };
  const auto putDigits = [&p](unsigned value, int count) {
    for (int i = count - 1; i >= 0; --i) {
      p[i] = static_cast<char>('0' + value % 10);
      value /= 10;
    }
    p += count;
  };
  put(kDayNames[weekday{day}.c_encoding()]);
  put(", ");
  putDigits(static_cast<unsigned>(date.day()), 2);
  *p++ = ' ';
  put(kMonthNames[static_cast<unsigned>(date.month()) - 1]);
  *p++ = ' ';
  putDigits(static_cast<unsigned>(static_cast<int>(date.year())), 4);
  *p++ = ' ';
  putDigits(static_cast<unsigned>(clock.hours().count()), 2);
  *p++ = ':';
  putDigits(static_cast<unsigned>(clock.minutes().count()), 2);
  *p++ = ':';
  putDigits(static_cast<unsigned>(clock.seconds().count()), 2);
  put(" GMT");
  *p = '\0';
  return static_cast<std::size_t>(p - out);
}

}  // namespace net
