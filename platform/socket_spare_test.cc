// A listener out of descriptors: the spare descriptor lets it take the
// waiting connection and close it instead of leaving it queued.
#include <sys/resource.h>
#include <unistd.h>

#include <vector>

#include <gtest/gtest.h>

#include "platform/socket.h"

namespace platform {
namespace {

// Uses up every descriptor below a lowered limit; gives them back at the end.
class DescriptorExhaustion {
 public:
  DescriptorExhaustion() {
    ::getrlimit(RLIMIT_NOFILE, &saved_);
    rlimit lowered = saved_;
    lowered.rlim_cur = 256;
    ::setrlimit(RLIMIT_NOFILE, &lowered);
    for (int fd; (fd = ::dup(0)) >= 0;) taken_.push_back(fd);
  }
  ~DescriptorExhaustion() {
    for (int fd : taken_) ::close(fd);
    ::setrlimit(RLIMIT_NOFILE, &saved_);
  }
  // Frees one so that the spare can be taken again.
  void GiveOneBack() {
    ::close(taken_.back());
    taken_.pop_back();
  }

 private:
  rlimit saved_ {};
  std::vector<int> taken_;
};

SOCKET LoopbackListener(SocketAddress* address) {
  SOCKET listener = TcpSocket();
  *address = SocketAddress{0x7F000001, 0};
  if (Bind(listener, *address) != 0 || Listen(listener, 4) != 0 || GetLocalAddress(listener, address) != 0) {
    CloseSocket(listener);
    return kInvalidSocket;
  }
  return listener;
}

TEST(SocketsSpareDescriptor, ClosesTheWaitingConnectionWhenOutOfDescriptors) {
  SocketAddress address;
  SOCKET listener = LoopbackListener(&address);
  ASSERT_NE(listener, kInvalidSocket);
  SOCKET viewer = TcpSocket();
  SpareDescriptor spare;
  ASSERT_TRUE(spare.Held());

  // Nothing waits: nothing is dropped and the call does not block.
  EXPECT_FALSE(spare.DropOneConnection(listener));
  EXPECT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);
  {
    DescriptorExhaustion exhaustion;
    ASSERT_EQ(Connect(viewer, address, 2000), 0);
    ASSERT_EQ(WaitReadable(listener, 2000), 1);
    EXPECT_EQ(Accept(listener, nullptr), kInvalidSocket);
    EXPECT_EQ(WSAGetLastError(), WSAEMFILE);

    EXPECT_TRUE(spare.DropOneConnection(listener));
    EXPECT_TRUE(spare.Held());
    EXPECT_EQ(WaitReadable(listener, 0), 0);
  }
  // The viewer sees its connection closed without an answer.
  char byte = 0;
  ASSERT_EQ(WaitReadable(viewer, 2000), 1);
  EXPECT_LE(Recv(viewer, &byte, 1), 0);
  CloseSocket(viewer);
  CloseSocket(listener);
}

TEST(SocketsSpareDescriptor, IsTakenAgainOnceADescriptorIsFree) {
  SocketAddress address;
  SOCKET listener = LoopbackListener(&address);
  ASSERT_NE(listener, kInvalidSocket);
  SOCKET first = TcpSocket();
  SOCKET second = TcpSocket();
  {
    DescriptorExhaustion exhaustion;
    SpareDescriptor spare;
    EXPECT_FALSE(spare.Held());
    ASSERT_EQ(Connect(first, address, 2000), 0);
    // Without a spare the connection is still taken and closed: the accepted
    // socket gets the descriptor that the spare would have had.
    exhaustion.GiveOneBack();
    EXPECT_TRUE(spare.DropOneConnection(listener));
    EXPECT_TRUE(spare.Held());
    ASSERT_EQ(Connect(second, address, 2000), 0);
    EXPECT_TRUE(spare.DropOneConnection(listener));
  }
  CloseSocket(second);
  CloseSocket(first);
  CloseSocket(listener);
}

}  // namespace
}  // namespace platform
