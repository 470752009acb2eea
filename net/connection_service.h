// CConnectionService: what serves one accepted connection of a listener
// whose threads read their own requests (the administration web server, the
// Java administration protocol). The listener's pool thread calls it with
// the connection; the service may keep it as long as it has work on it.
#pragma once

#include <atomic>
#include <chrono>
#include <string>

#include "platform/socket.h"

class CConnectionService {
 public:
  virtual ~CConnectionService() = default;

  // Serves `socket` from `peer` (dotted text). The first request must be in
  // by `deadline`; `stop` turns true when the server stops, and the socket
  // is then shut down under the service's feet. The socket stays the
  // caller's: the service neither shuts it down nor closes it.
  virtual void ServeConnection(platform::SOCKET socket, const std::string& peer,
                               std::chrono::steady_clock::time_point deadline, const std::atomic<bool>& stop) = 0;
};
