// The events the server writes to the event log. Each entry is one kind of
// report: the event id with the type, category and view bits it is written
// with, and the number of insertion strings its text expects. An id may
// serve several reports (a file error of the agent list, of the transaction
// log, ...); each has its own entry. The ids reach the event log as they are
// and never change.
//
// The texts live in service/evtmsgs.msg, shipped beside the program: one
// line per id, whose highest %n is the entry's string count. The message
// test of service/ holds the file to this catalogue, and Report holds every
// report to its entry's count when it compiles.
#pragma once

#include <cstddef>
#include <string_view>

#include "platform/event_log.h"
#include "platform/event_store.h"
#include "platform/types.h"

namespace events {

using platform::DWORD;
using platform::WORD;

struct Entry {
  WORD type;  // platform::EVENTLOG_ERROR_TYPE, _WARNING_TYPE or _INFORMATION_TYPE
  WORD category;
  DWORD id;
  // Met against value EventViewMask. 0 only for the service frame's own
  // entries, which are written whatever the mask says (CNTService::LogEvent).
  DWORD viewBits;
  std::size_t strings;  // insertion strings the text expects
};

inline constexpr WORD kError = platform::EVENTLOG_ERROR_TYPE;
inline constexpr WORD kWarning = platform::EVENTLOG_WARNING_TYPE;
inline constexpr WORD kInformation = platform::EVENTLOG_INFORMATION_TYPE;

// Service frame (category 1).
inline constexpr Entry kServiceInstalled{kInformation, 1, 0xC00005F0, 0, 1};  // service name
inline constexpr Entry kServiceRemoved{kInformation, 1, 0xC00005F1, 0, 1};    // service name
inline constexpr Entry kServiceNotRemoved{kError, 1, 0xC00005F2, 0, 1};       // service name
inline constexpr Entry kServiceNoCtrlHandler{kError, 1, 0xC00005F3, 0, 0};
inline constexpr Entry kServiceInitFailed{kError, 1, 0xC00005F4, 0, 0};
inline constexpr Entry kServiceStarted{kInformation, 1, 0xC00005F5, 0, 0};
inline constexpr Entry kServiceBadRequest{kError, 1, 0xC00005F6, 0, 0};
inline constexpr Entry kServiceStopped{kInformation, 1, 0xC00005F8, 0, 0};

// Transaction log (category 5): file name and reason; pause in minutes.
inline constexpr Entry kLogOpenFailed{kError, 5, 0xC0000065, 1, 2};
inline constexpr Entry kLogWriteFailed{kError, 5, 0xC0000067, 1, 2};
inline constexpr Entry kLogPaused{kError, 5, 0xC00007F8, 1, 1};

// Sending an answer to a viewer (category 11): error number and step.
inline constexpr Entry kAgentSendFailed{kWarning, 11, 0x80000072, 0x80, 2};

// Proxy cache fetches (category 18), each limited per window.
inline constexpr Entry kCacheNoDataCenter{kError, 18, 0xC000006E, 2, 0};
inline constexpr Entry kCacheReadFailed{kError, 18, 0xC000006F, 0x80, 0};
// Cache dump file of the admin agent (category 18): file name and reason.
inline constexpr Entry kDumpFileFailed{kWarning, 18, 0xC0000065, 0x80, 2};

// Proxy agent (category 19); the exception carries the request URI.
inline constexpr Entry kProxyAgentStarted{kInformation, 19, 0x40000834, 1, 0};
inline constexpr Entry kProxyAgentStartFailed{kError, 19, 0xC0000835, 1, 0};
inline constexpr Entry kProxyAgentException{kError, 19, 0xC0000079, 1, 1};

// Agent list (category 23). File errors: file name and reason.
inline constexpr Entry kAgentListReadFailed{kWarning, 23, 0xC0000065, 0x80, 2};
inline constexpr Entry kAgentListStoreFailed{kError, 23, 0xC0000065, 0x80, 2};
inline constexpr Entry kAgentListReplaceFailed{kError, 23, 0xC000006A, 0x80, 2};  // both names
inline constexpr Entry kAgentListNotFetched{kError, 23, 0xC000006E, 0x80, 0};
inline constexpr Entry kAgentListUnreadable{kError, 23, 0xC000006F, 0x80, 0};
inline constexpr Entry kAgentListLoaded{kInformation, 23, 0x400007E4, 1, 0};
inline constexpr Entry kAgentListNotLoaded{kError, 23, 0xC00007E5, 1, 0};

// Houses (category 18): a file or image a house refuses to keep, with the
// path and the reason.
inline constexpr Entry kHouseFileRefused{kWarning, 18, 0xC0000065, 0x80, 2};

// Channels (category 9): a request without the argument its category needs
// (client address); a channel file that cannot be read, kept or sent (path
// and reason).
inline constexpr Entry kChannelArgumentMissing{kWarning, 9, 0x800007D3, 1, 1};
inline constexpr Entry kCorpFileFailed{kWarning, 9, 0xC0000065, 0x80, 2};
inline constexpr Entry kCorpFileSendFailed{kError, 9, 0xC0000065, 0x80, 2};
// The Notes channel's description file (category 25): read from, or not
// reachable at, the Domino URL.
inline constexpr Entry kNotesSourceFailed{kError, 25, 0xC00008C0, 1, 1};
inline constexpr Entry kNotesSourceRead{kInformation, 25, 0xC00008C0, 1, 1};

// Administration server (category 26): socket error of a request that could
// not be read, or of an answer that could not be sent.
inline constexpr Entry kAdminReadFailed{kError, 26, 0xC0000073, 0x80, 1};
inline constexpr Entry kAdminSendFailed{kError, 26, 0xC0000074, 0x80, 1};

// Redirection (category 24): the client whose answer failed; the poster's
// address and why its table was refused.
inline constexpr Entry kRedirectNoClientAddress{kError, 24, 0xC00008AF, 0x80, 0};
inline constexpr Entry kRedirectSendFailed{kWarning, 24, 0x800007D2, 0x80, 1};
inline constexpr Entry kRedirectPostRefused{kWarning, 24, 0x800007D4, 0x80, 2};

// Worker threads (category 28): which event, thread name, error number.
inline constexpr Entry kWorkerEventFailed{kError, 28, 0xC00008CA, 1, 3};

// Every entry above.
inline constexpr const Entry* kAll[] = {
    &kServiceInstalled, &kServiceRemoved, &kServiceNotRemoved, &kServiceNoCtrlHandler, &kServiceInitFailed,
    &kServiceStarted, &kServiceBadRequest, &kServiceStopped,
    &kLogOpenFailed, &kLogWriteFailed, &kLogPaused,
    &kAgentSendFailed,
    &kCacheNoDataCenter, &kCacheReadFailed, &kDumpFileFailed,
    &kProxyAgentStarted, &kProxyAgentStartFailed, &kProxyAgentException,
    &kAgentListReadFailed, &kAgentListStoreFailed, &kAgentListReplaceFailed, &kAgentListNotFetched,
    &kAgentListUnreadable, &kAgentListLoaded, &kAgentListNotLoaded,
    &kHouseFileRefused,
    &kChannelArgumentMissing, &kCorpFileFailed, &kCorpFileSendFailed, &kNotesSourceFailed, &kNotesSourceRead,
    &kAdminReadFailed, &kAdminSendFailed,
    &kRedirectNoClientAddress, &kRedirectSendFailed, &kRedirectPostRefused,
    &kWorkerEventFailed,
};

// Stops the build of a report that gives E another number of strings than
// its text expects.
template <const Entry& E, std::size_t N>
constexpr void ExpectStrings() {
  static_assert(N == E.strings, "the event's text expects another number of insertion strings");
}

// Reports E through the view mask (platform::ReportEvent).
template <const Entry& E, typename... Strings>
bool Report(const Strings&... strings) {
  static_assert(E.viewBits != 0, "the service frame's entries go through CNTService::LogEvent");
  ExpectStrings<E, sizeof...(Strings)>();
  return platform::ReportEvent(E.type, E.category, E.id, E.viewBits, {std::string_view(strings)...});
}

// The same, at most `count` times per window of seconds (platform::ReportEventLimited).
template <const Entry& E, typename... Strings>
bool ReportLimited(DWORD windowSeconds, WORD count, const Strings&... strings) {
  static_assert(E.viewBits != 0, "the service frame's entries go through CNTService::LogEvent");
  ExpectStrings<E, sizeof...(Strings)>();
  return platform::ReportEventLimited(windowSeconds, count, E.type, E.category, E.id, E.viewBits,
                                      {std::string_view(strings)...});
}

}  // namespace events
