#include "cache/piece_sender.h"

bool SendPieces(platform::SOCKET socket, std::span<const CSendPiece> pieces, platform::DWORD waitMilliseconds,
                std::size_t& sent) {
  sent = 0;
  for (const CSendPiece& piece : pieces) {
    const char* next = static_cast<const char*>(piece.data);
    std::size_t remaining = piece.length;
    while (remaining > 0) {
      const int done = platform::Send(socket, next, remaining, platform::MSG_DONTWAIT_FLAG);
      if (done >= 0) {
        next += done;
        remaining -= static_cast<std::size_t>(done);
        sent += static_cast<std::size_t>(done);
        continue;
      }
      if (platform::WSAGetLastError() != platform::WSAEWOULDBLOCK) return false;
      const int ready = platform::WaitWritable(socket, waitMilliseconds);
      if (ready != 1) {
        if (ready == 0) platform::WSASetLastError(platform::WSAETIMEDOUT);
        return false;
      }
    }
  }
  return true;
}
