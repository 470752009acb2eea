// libperfctr.so: the relay's performance counters for a performance-data
// collector. The collector loads the library named by the service's
// Performance key and calls, with C linkage:
//
//   OpenZondrelPerf(deviceNames)       once per user; 0
//   CollectZondrelPerf(valueName, &data, &totalBytes, &objectCount)
//       valueName: null, "" or "Global", "Foreign", "Costly", or blank-separated
//       index numbers. On entry *totalBytes is the room at *data; on return
//       the bytes written, *data advanced past them and the objects written.
//       0, or 234 (more data) with nothing written when the room is short.
//   CloseZondrelPerf()                 once per Open; 0
//
// The calls may come from several threads at once.
#pragma once

#include <cstdint>

extern "C" {
std::uint32_t OpenZondrelPerf(const char* deviceNames);
std::uint32_t CollectZondrelPerf(const char* valueName, void** data, std::uint32_t* totalBytes,
                                 std::uint32_t* objectCount);
std::uint32_t CloseZondrelPerf(void);
}
