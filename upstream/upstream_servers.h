// Which data-centre server to ask: the configured server list with its
// built-in default, the last server that answered, and the check that a
// redirection does not lead back to this relay.
#pragma once

#include <string>
#include <string_view>

class CPRegistry;

namespace upstream {

// The server list has entries 1 to kServerListEntries.
constexpr unsigned kServerListEntries = 15;
// Entries 1 to this many are removed before the built-in list is written.
constexpr unsigned kServerListValues = 255;
constexpr unsigned kDefaultServerPort = 80;

struct ServerEndpoint {
  std::string host;
  unsigned port = 0;  // 0: none
};

// "host,port" or "host:port" (the separator is the later of the first comma
// and the first colon), or a bare host with port 80. The host is trimmed of
// blanks. False for an empty host or a port outside 1..65535.
bool ParseServerEntry(std::string_view text, ServerEndpoint& endpoint);

// When entry 1 is empty, replaces the whole list with the built-in endpoints.
// True when it did so.
bool InstallDefaultServers(CPRegistry& settings);
// The built-in endpoints as written into the list ("127.0.0.1,80", ...).
const char* const* DefaultServerEntries();
constexpr unsigned kDefaultServerCount = 4;

// The last server that answered 200 or 204 (port 0 when none), process-wide.
ServerEndpoint LastGoodServer();
void SetLastGoodServer(const std::string& host, unsigned port);
// Forgets it (tests and a server started again in the same process).
void ClearLastGoodServer();

// Whether host and port name one of this relay's own listen entries
// (Comm\LISTEN1 .. Comm\LISTEN<NoOfListenThreads>).
bool IsOwnListenAddress(CPRegistry& settings, const std::string& host, unsigned port);

}  // namespace upstream
