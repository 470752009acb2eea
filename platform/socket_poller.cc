#include "platform/socket_poller.h"

#include <sys/epoll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace platform {

namespace {

int FailWith(int error) {
  WSASetLastError(error == EINTR ? WSAEINTR : error == EMFILE || error == ENFILE ? WSAEMFILE
                                              : error == ENOMEM || error == ENOSPC ? WSAENOBUFS
                                                                                   : WSAEINVAL);
  return -1;
}

constexpr std::size_t kMaxEventsPerWait = 256;

}  // namespace

SocketPoller::SocketPoller() : fd_(::epoll_create1(EPOLL_CLOEXEC)) {}

SocketPoller::~SocketPoller() {
  if (fd_ >= 0) ::close(fd_);
}

int SocketPoller::Add(SOCKET s, std::uint64_t token) {
  epoll_event event {};
  event.events = EPOLLIN | EPOLLRDHUP;
  event.data.u64 = token;
  return ::epoll_ctl(fd_, EPOLL_CTL_ADD, s, &event) == 0 ? 0 : FailWith(errno);
}

int SocketPoller::Remove(SOCKET s) {
  epoll_event ignored {};
  return ::epoll_ctl(fd_, EPOLL_CTL_DEL, s, &ignored) == 0 ? 0 : FailWith(errno);
}

int SocketPoller::Wait(Ready* ready, std::size_t capacity, DWORD timeoutMs) {
  epoll_event events[kMaxEventsPerWait];
  const int wanted = static_cast<int>(std::min(capacity, kMaxEventsPerWait));
  const int waitMs = timeoutMs == kInfinite ? -1 : static_cast<int>(std::min<DWORD>(timeoutMs, 0x7FFFFFFF));
  const int count = ::epoll_wait(fd_, events, wanted, waitMs);
  if (count < 0) return FailWith(errno);
  for (int i = 0; i < count; ++i) {
    ready[i].token = events[i].data.u64;
    ready[i].hungUp = (events[i].events & (EPOLLHUP | EPOLLERR | EPOLLRDHUP)) != 0;
  }
  return count;
}

}  // namespace platform
