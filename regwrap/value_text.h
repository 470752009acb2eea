// Conversions between stored registry data and the text and number forms that
// QRRegistry's typed reads and writes offer.
#pragma once

#include <string>
#include <vector>

#include "platform/types.h"

namespace regvalue {

using platform::BYTE;
using platform::DWORD;

// The text up to the first NUL (or the whole data when there is none).
std::string FirstString(const std::vector<BYTE>& data);

// The strings of a multi-string, up to the first empty one.
std::vector<std::string> SplitMultiString(const std::vector<BYTE>& data);

// Each string with its NUL, then a final NUL. A string is cut at an embedded NUL.
std::vector<BYTE> JoinMultiString(const std::vector<std::string>& strings);

// Decimal text as the classic atol reads it (leading blanks, sign, digits;
// anything else ends the number), kept to its low 32 bits.
DWORD ParseNumber(const std::string& text);

// The first four bytes as a number; shorter data is padded with zeros.
DWORD FirstDword(const std::vector<BYTE>& data);

// The boolean reading of a text: false for "", "FALSE", "F", "0", "NO" and
// "OFF" (after trimming blanks, any case), true for anything else.
bool TextIsTrue(const std::string& text);

}  // namespace regvalue
