// The level bits of the trace log: the first argument of every trace call.
// A line is written when its bit is set in value TraceMask. Every trace
// call names its bit from this list, so that one mask bit keeps one meaning
// across the server and the registry library.
#pragma once

#include "platform/trace.h"
#include "platform/types.h"

namespace trace_bits {

using platform::DWORD;

inline constexpr DWORD kConfig = 0x1;         // configuration reads, registry defaults, keys created
inline constexpr DWORD kConnPool = 0x2;       // connection manager pool depth and thread errors
inline constexpr DWORD kFolder = 0x8;         // cache folder file deletion
inline constexpr DWORD kSend = 0x10;          // sending answers: agents and the network writer
inline constexpr DWORD kHouseError = 0x20;    // data-file (house) exceptions
inline constexpr DWORD kHttp = 0x40;          // HTTP responses and error packets, listeners, viewer connections
inline constexpr DWORD kThreads = 0x80;       // thread time-outs, UDP threads, worker and pool threads
inline constexpr DWORD kRequest = 0x100;      // agent request handling
inline constexpr DWORD kService = 0x200;      // service frame and shut-down progress
inline constexpr DWORD kNetwork = 0x800;      // network read/write errors, upstream streams, URL file fetch
inline constexpr DWORD kAccept = 0x1000;      // accepted connections
inline constexpr DWORD kProxy = 0x2000;       // proxy agent and proxy cache
inline constexpr DWORD kAgentList = 0x10000;  // agent list refresh
inline constexpr DWORD kParse = 0x20000;      // HTTP parsing
inline constexpr DWORD kHouse = 0x80000;      // data files (houses)
inline constexpr DWORD kRedirect = 0x100000;  // redirection data

// Every bit but kConfig is on unless TraceMask says otherwise.
inline constexpr DWORD kOnByDefault = kConnPool | kFolder | kSend | kHouseError | kHttp | kThreads | kRequest |
                                      kService | kNetwork | kAccept | kProxy | kAgentList | kParse | kHouse |
                                      kRedirect;
static_assert((platform::kDefaultTraceMask & kOnByDefault) == kOnByDefault &&
                  (platform::kDefaultTraceMask & kConfig) == 0,
              "the default trace mask sets every bit but kConfig");

}  // namespace trace_bits
