// Small scanners for protocol text: numbers read the way the C library's
// atol/atoi/atof read them (leading blanks, optional sign, digits, stop at the
// first other character), but without their undefined behaviour on overflow.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace net {

// The number at the start of `text`, saturated to the 32-bit signed range.
std::int32_t ScanLong(std::string_view text);
// The number at the start of `text` as a 32-bit unsigned value, saturated
// at 4294967295; a negative number gives the bit pattern a C cast of its
// saturated signed value would ("-1" is 0xFFFFFFFF).
std::uint32_t ScanUnsigned(std::string_view text);
// The decimal fraction at the start of `text` ("1.0", " 1", "0.9x"); 0 when
// there is none. Independent of the locale.
double ScanDecimal(std::string_view text);

bool EqualsNoCase(std::string_view a, std::string_view b);
// Whether `text` begins with `prefix`, case ignored.
bool StartsWithNoCase(std::string_view text, std::string_view prefix);
// `text` in lower (upper) case, ASCII letters only.
std::string LowerCase(std::string_view text);
std::string UpperCase(std::string_view text);
// `text` without blanks and tabs at either end.
std::string_view TrimBlanks(std::string_view text);
// The words of a line: the runs between blanks, tabs, CR, VT and FF.
std::vector<std::string_view> SplitWords(std::string_view line);

// Finds the line that starts at `start` within its first `window` bytes:
// `rawLength` is its length with the line end (LF, or CR LF), `text` its
// text without it. False when no line end is in the window.
bool FindLine(const char* start, std::size_t window, std::size_t& rawLength, std::string_view& text);

}  // namespace net
