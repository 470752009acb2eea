#include "cache/piece_sender.h"

#include <algorithm>

bool SendPieces(platform::SOCKET socket, std::span<const platform::SendSlice> pieces,
                platform::DWORD waitMilliseconds, std::size_t& sent) {
  sent = 0;
  std::size_t next = 0;  // the first piece not wholly sent
  std::size_t offset = 0;  // bytes of it already sent
  while (next < pieces.size()) {
    platform::SendSlice batch[platform::kMaxSendSlices];
    const std::size_t count = std::min(pieces.size() - next, platform::kMaxSendSlices);
    std::copy_n(pieces.begin() + static_cast<std::ptrdiff_t>(next), count, batch);
    batch[0].data = static_cast<const char*>(batch[0].data) + offset;
    batch[0].length -= offset;

    const long long done = platform::SendGather(socket, batch, count, platform::MSG_DONTWAIT_FLAG);
    if (done < 0) {
      if (platform::WSAGetLastError() != platform::WSAEWOULDBLOCK) return false;
      const int ready = platform::WaitWritable(socket, waitMilliseconds);
      if (ready == 0) platform::WSASetLastError(platform::WSAETIMEDOUT);
      if (ready != 1) return false;
      continue;
    }
    sent += static_cast<std::size_t>(done);
    // Move past the pieces that went out whole.
    auto left = static_cast<std::size_t>(done) + offset;
    while (next < pieces.size() && left >= pieces[next].length) {
      left -= pieces[next].length;
      ++next;
    }
    offset = left;
  }
  return true;
}
