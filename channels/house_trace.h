// Trace bits and event-log entries of the houses. Kept here until the
// project's catalogue of bits and events takes them in.
#pragma once

#include "platform/types.h"

namespace channels {

// Data files of the houses: checks, reads, writes.
inline constexpr platform::DWORD kTraceHouse = 0x80000;
// File and other exceptions while a house reads or writes its file.
inline constexpr platform::DWORD kTraceHouseError = 0x20;

// A file or image a house refuses to keep: the warning "Error opening file
// %1 : %2" of the file category, with the path and the reason.
inline constexpr platform::WORD kHouseFileCategory = 18;
inline constexpr platform::DWORD kEventHouseFileError = 0xC0000065;
inline constexpr platform::DWORD kHouseFileViewBit = 0x80;

}  // namespace channels
