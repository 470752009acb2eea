// The connection a pool thread is serving, shared by that thread, which
// closes it, and a stopping thread, which shuts it down so that every wait
// and send on it ends at once.
#pragma once

#include "platform/socket.h"
#include "platform/sync.h"
#include "platform/thread_annotations.h"

class CHeldConnection {
 public:
  void Hold(platform::SOCKET socket) {
    platform::Locked lock(m_Lock);
    m_Socket = socket;
  }

  // Closes `socket` after shutting its sending side down, and forgets the
  // held one. (Shutting the receiving side down too before the close would
  // change nothing a peer can see, for a system call per connection.)
  void Close(platform::SOCKET socket) {
    platform::Locked lock(m_Lock);
    if (socket != platform::kInvalidSocket) {
      platform::Shutdown(socket, platform::SD_SEND);
      platform::CloseSocket(socket);
    }
    m_Socket = platform::kInvalidSocket;
  }

  // Shuts the held connection down in both directions without reading what
  // is still on its way; false when none is held.
  bool ShutDown() {
    platform::Locked lock(m_Lock);
    if (m_Socket == platform::kInvalidSocket) return false;
    platform::Shutdown(m_Socket, platform::SD_BOTH);
    return true;
  }

 private:
  platform::Lock m_Lock;
  platform::SOCKET m_Socket GUARDED_BY(m_Lock) = platform::kInvalidSocket;
};
