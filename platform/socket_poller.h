// SocketPoller: one thread waits for many sockets at once to become
// readable (the system's readiness notification). Each socket is registered
// with a token of the caller's choice, which a wait reports back.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/socket.h"
#include "platform/types.h"

namespace platform {

class SocketPoller {
 public:
  struct Ready {
    std::uint64_t token;
    bool hungUp;  // the peer closed or the socket failed; a read tells which
  };

  SocketPoller();
  ~SocketPoller();
  SocketPoller(const SocketPoller&) = delete;
  SocketPoller& operator=(const SocketPoller&) = delete;

  // False when the system could not give the poller its descriptor.
  bool Valid() const { return fd_ >= 0; }
  // Watches `s` (any readable descriptor) for arriving bytes and hang-ups.
  // 0, or -1 with the socket error set.
  int Add(SOCKET s, std::uint64_t token);
  int Remove(SOCKET s);
  // Waits up to `timeoutMs` (kInfinite: no limit) until some socket is
  // ready and reports at most `capacity` of them: their number, 0 on time
  // out, -1 on failure.
  int Wait(Ready* ready, std::size_t capacity, DWORD timeoutMs);

 private:
  int fd_ = -1;
};

}  // namespace platform
