#include "platform/socket.h"

#include <sys/socket.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "platform/file.h"
#include "platform/testing.h"

namespace platform {
namespace {

// A listening socket on a free loopback port.
struct Listener {
  SOCKET s = TcpSocket();
  SocketAddress address{0x7F000001, 0};
  Listener() {
    EXPECT_EQ(Bind(s, address), 0);
    EXPECT_EQ(Listen(s, 8), 0);
    EXPECT_EQ(GetLocalAddress(s, &address), 0);
  }
  ~Listener() { CloseSocket(s); }
};

TEST(Sockets, ConnectSendPeekReceiveAndClose) {
  Listener listener;
  SOCKET client = TcpSocket();
  ASSERT_EQ(Connect(client, listener.address, 2000), 0);
  SocketAddress peer;
  SOCKET server = Accept(listener.s, &peer);
  ASSERT_GE(server, 0);
  EXPECT_EQ(peer.address, 0x7F000001u);
  EXPECT_EQ(FormatDottedAddress(peer.address), "127.0.0.1");

  ASSERT_EQ(Send(client, "GET /\r\n\r\nbody", 13), 13);
  ASSERT_EQ(WaitReadable(server, 2000), 1);
  char buffer[64] = {};
  EXPECT_EQ(Recv(server, buffer, 4, MSG_PEEK_FLAG), 4);
  EXPECT_EQ(Recv(server, buffer, sizeof(buffer)), 13);
  EXPECT_EQ(std::string(buffer, 13), "GET /\r\n\r\nbody");

  // Nothing more: the wait times out.
  EXPECT_EQ(WaitReadable(server, 50), 0);
  EXPECT_EQ(WSAGetLastError(), WSAETIMEDOUT);

  Shutdown(client, SD_SEND);
  ASSERT_EQ(WaitReadable(server, 2000), 1);
  EXPECT_EQ(Recv(server, buffer, sizeof(buffer)), 0);
  CloseSocket(client);
  CloseSocket(server);
}

TEST(Sockets, NonBlockingAcceptAndReceiveAndInheritedOptions) {
  Listener listener;
  ASSERT_EQ(SetNonBlocking(listener.s, true), 0);
  ASSERT_EQ(SetSendBuffer(listener.s, 0x80000), 0);
  ASSERT_EQ(SetDontLinger(listener.s, true), 0);
  // Nothing queued: no wait, a would-block failure.
  SocketAddress peer;
  EXPECT_EQ(Accept(listener.s, &peer), kInvalidSocket);
  EXPECT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);

  SOCKET client = TcpSocket();
  ASSERT_EQ(Connect(client, listener.address, 2000), 0);
  ASSERT_EQ(WaitReadable(listener.s, 2000), 1);
  SOCKET server = Accept(listener.s, &peer);
  ASSERT_GE(server, 0);
  // The accepted socket blocks, and has the listening socket's options.
  int sendBuffer = 0;
  socklen_t length = sizeof(sendBuffer);
  ASSERT_EQ(::getsockopt(server, SOL_SOCKET, SO_SNDBUF, &sendBuffer, &length), 0);
  EXPECT_GE(sendBuffer, 0x80000);
  linger lingering{1, 1};
  length = sizeof(lingering);
  ASSERT_EQ(::getsockopt(server, SOL_SOCKET, SO_LINGER, &lingering, &length), 0);
  EXPECT_EQ(lingering.l_onoff, 0);

  char buffer[16] = {};
  EXPECT_EQ(Recv(server, buffer, sizeof(buffer), MSG_DONTWAIT_FLAG), -1);
  EXPECT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);
  ASSERT_EQ(Send(client, "ping", 4), 4);
  ASSERT_EQ(WaitReadable(server, 2000), 1);
  EXPECT_EQ(Recv(server, buffer, sizeof(buffer), MSG_DONTWAIT_FLAG), 4);
  // Without the flag a receive waits for data.
  std::thread later([client] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    Send(client, "pong", 4);
  });
  EXPECT_EQ(Recv(server, buffer, sizeof(buffer)), 4);
  later.join();
  CloseSocket(client);
  CloseSocket(server);
}

TEST(Sockets, DeferredAcceptHandsOverOnlyConnectionsThatHaveSentSomething) {
  Listener listener;
  ASSERT_EQ(SetNonBlocking(listener.s, true), 0);
  ASSERT_EQ(SetDeferAccept(listener.s, 1), 0);
  SOCKET silent = TcpSocket();
  ASSERT_EQ(Connect(silent, listener.address, 2000), 0);
  SOCKET sending = TcpSocket();
  ASSERT_EQ(Connect(sending, listener.address, 2000), 0);
  ASSERT_EQ(Send(sending, "GET /", 5), 5);

  // Only the connection with data is handed over, and its data is there.
  ASSERT_EQ(WaitReadable(listener.s, 2000), 1);
  SocketAddress peer;
  SOCKET first = Accept(listener.s, &peer);
  ASSERT_GE(first, 0);
  char buffer[8] = {};
  EXPECT_EQ(Recv(first, buffer, sizeof(buffer), MSG_DONTWAIT_FLAG), 5);
  EXPECT_EQ(Accept(listener.s, &peer), kInvalidSocket);

  // The silent one follows after about a second.
  const auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(WaitReadable(listener.s, 4000), 1);
  SOCKET second = Accept(listener.s, &peer);
  EXPECT_GE(second, 0);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
  for (SOCKET s : {silent, sending, first, second}) CloseSocket(s);
}

TEST(Sockets, RefusedConnectionAndAddressParsing) {
  Listener listener;
  SocketAddress closed = listener.address;
  CloseSocket(listener.s);
  listener.s = TcpSocket();
  SOCKET client = TcpSocket();
  EXPECT_EQ(Connect(client, closed, 2000), -1);
  EXPECT_EQ(WSAGetLastError(), WSAECONNREFUSED);
  CloseSocket(client);

  std::uint32_t address = 0;
  EXPECT_TRUE(ParseDottedAddress("127.0.0.2", &address));
  EXPECT_EQ(address, 0x7F000002u);
  EXPECT_FALSE(ParseDottedAddress("localhost", &address));
  EXPECT_FALSE(ParseDottedAddress("", &address));
  EXPECT_FALSE(ParseDottedAddress("1.2.3", &address));
  ASSERT_FALSE(ResolveHost("localhost").empty());
  EXPECT_EQ(ResolveHost("localhost")[0] >> 24, 127u);
  EXPECT_TRUE(ResolveHost("no-such-host.invalid").empty());
}

TEST(Sockets, CancelEndsEveryWaitAtOnce) {
  Listener listener;
  SocketCancel cancel;
  EXPECT_FALSE(cancel.Cancelled());
  std::thread canceller([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    cancel.Cancel();
  });
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(WaitReadable(listener.s, 10000, &cancel), -1);
  EXPECT_EQ(WSAGetLastError(), WSAEINTR);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  canceller.join();
  EXPECT_TRUE(cancel.Cancelled());
  EXPECT_EQ(WaitReadable(listener.s, 10000, &cancel), -1);  // stays cancelled
  cancel.Reset();
  EXPECT_EQ(WaitReadable(listener.s, 20, &cancel), 0);
}

TEST(Sockets, TransmitFileSendsTheFileRange) {
  std::string path = testing_support::TestRoot() + "/payload.bin";
  std::string content(100000, 'a');
  for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>('a' + i % 26);
  testing_support::WriteFile(path, content);
  auto file = File::Open(path, File::Mode::kRead);
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(file->Size(), 100000);

  Listener listener;
  SOCKET client = TcpSocket();
  ASSERT_EQ(Connect(client, listener.address, 2000), 0);
  SOCKET server = Accept(listener.s, nullptr);
  std::string received;
  std::thread reader([&] {
    char buffer[8192];
    int n;
    while ((n = Recv(client, buffer, sizeof(buffer))) > 0) received.append(buffer, static_cast<std::size_t>(n));
  });
  EXPECT_EQ(TransmitFile(server, file->Descriptor(), 10, 99990), 99990);
  Shutdown(server, SD_BOTH);
  reader.join();
  EXPECT_EQ(received, content.substr(10));
  CloseSocket(server);
  CloseSocket(client);

  EXPECT_EQ(File::Open(path + ".missing", File::Mode::kRead), nullptr);
  EXPECT_EQ(GetLastError(), kErrorFileNotFound);
  EXPECT_EQ(File::Open(path, File::Mode::kCreateNew), nullptr);
  EXPECT_EQ(GetLastError(), kErrorFileExists);
}

}  // namespace
}  // namespace platform
