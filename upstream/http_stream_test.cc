// The stream itself on real loopback sockets: connecting, bounded reads and
// writes, the header reader that stops at the first body byte, timeouts,
// and the abort that ends every wait.
#include "upstream/http_stream.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>

#include "upstream/scripted_server_testing.h"
#include "upstream/stream_abort.h"

namespace {

using upstream_testing::ScriptedServer;
using Clock = std::chrono::steady_clock;

CPRegistry FastSettings() {
  CPRegistry settings;
  settings.SetRecvTimeout(1);
  settings.SetConnectTimeout(1);
  return settings;
}

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// A listener whose queue is full: connects to it wait without an answer.
class FullListener {
 public:
  FullListener() {
    listener_ = platform::TcpSocket();
    platform::Bind(listener_, {0x7F000001, 0});
    platform::Listen(listener_, 0);
    platform::SocketAddress local;
    platform::GetLocalAddress(listener_, &local);
    port_ = local.port;
    for (int i = 0; i < 8; ++i) {
      platform::SOCKET s = platform::TcpSocket();
      clients_.push_back(s);
      if (platform::Connect(s, {0x7F000001, local.port}, 200) != 0) break;
    }
  }
  ~FullListener() {
    for (platform::SOCKET s : clients_) platform::CloseSocket(s);
    platform::CloseSocket(listener_);
  }
  unsigned Port() const { return port_; }

 private:
  platform::SOCKET listener_;
  unsigned port_ = 0;
  std::vector<platform::SOCKET> clients_;
};

TEST(StreamTransfer, WritesAndReadsWithinTheBufferGiven) {
  std::promise<std::string> received;
  ScriptedServer server(
      [&received](platform::SOCKET client, const std::string&) {
        received.set_value(ScriptedServer::ReceiveExactly(client, 9));
        ScriptedServer::SendAll(client, "0123456789");
      },
      false);
  CPHTTPStream stream(FastSettings());
  ASSERT_EQ(stream.Open("127.0.0.1", server.Port()), 0);
  // Length 0: the zero-terminated text.
  EXPECT_EQ(stream.Write("GET /", 0), 5);
  EXPECT_EQ(stream.Write("abcdef", 4), 4);
  EXPECT_EQ(received.get_future().get(), "GET /abcd");

  char buffer[16] = {};
  // A peek leaves the bytes where they are.
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  int peeked = stream.Read(buffer, 4, 1);
  ASSERT_EQ(peeked, 4);
  EXPECT_EQ(std::string(buffer, 4), "0123");
  std::string all;
  for (int n; (n = stream.Read(buffer, 3)) > 0;) {
    EXPECT_LE(n, 3);
    all.append(buffer, static_cast<std::size_t>(n));
  }
  EXPECT_EQ(all, "0123456789");
  EXPECT_EQ(stream.Read(buffer, sizeof(buffer)), 0);  // the peer closed
  stream.Close();
  EXPECT_EQ(stream.Read(buffer, sizeof(buffer)), CPHTTPStream::kIoFailed);
  EXPECT_EQ(stream.Write("x", 1), CPHTTPStream::kIoFailed);
}

TEST(StreamOpen, FailuresAreReportedNotWaitedOn) {
  CPHTTPStream stream(FastSettings());
  const unsigned closed = [] {
    ScriptedServer gone("");
    return gone.Port();
  }();
  EXPECT_EQ(stream.Open("127.0.0.1", closed), CPHTTPStream::kOpenFailed);
  EXPECT_EQ(stream.Open("no-such-host.invalid", 80), CPHTTPStream::kOpenFailed);
  EXPECT_EQ(stream.Open("127.0.0.1", 0), CPHTTPStream::kOpenFailed);
  EXPECT_EQ(stream.Socket(), platform::kInvalidSocket);

  FullListener silent;
  const auto start = Clock::now();
  EXPECT_EQ(stream.Open("127.0.0.1", silent.Port()), CPHTTPStream::kOpenFailed);
  const double waited = SecondsSince(start);
  EXPECT_GE(waited, 0.9);
  EXPECT_LT(waited, 5.0);
}

TEST(StreamHeader, StopsExactlyAtTheFirstBodyByte) {
  for (const char* terminator : {"\r\n\r\n", "\n\n"}) {
    const std::string head = std::string("HTTP/1.0 200 OK\r\nContent-Length: 5") + terminator;
    ScriptedServer server(head + "HELLO");
    CPHTTPStream stream(FastSettings());
    ASSERT_EQ(stream.Open("127.0.0.1", server.Port()), 0);
    ASSERT_EQ(stream.Write("GET / HTTP/1.0\r\n\r\n", 0), 18);
    std::string header;
    EXPECT_EQ(stream.ReadHeader(header), 200);
    EXPECT_EQ(header, head);
    EXPECT_EQ(stream.GetContentLength(header), 5);
    char body[16];
    int n = stream.Read(body, sizeof(body));
    ASSERT_EQ(n, 5);
    EXPECT_EQ(std::string(body, 5), "HELLO");
  }
}

TEST(StreamHeader, ArrivingInDribsGivesTheSameHeader) {
  const std::string answer = "HTTP/1.0 204 No content\r\nServer: slow\r\n\r\nX";
  ScriptedServer server(
      [&answer](platform::SOCKET client, const std::string&) {
        for (char c : answer) {
          ScriptedServer::SendAll(client, std::string(1, c));
          std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
      },
      true);
  CPHTTPStream stream(FastSettings());
  ASSERT_EQ(stream.Open("127.0.0.1", server.Port()), 0);
  stream.Write("GET / HTTP/1.0\r\n\r\n", 0);
  std::string header;
  EXPECT_EQ(stream.ReadHeader(header), 204);
  EXPECT_EQ(header, answer.substr(0, answer.size() - 1));
  EXPECT_EQ(stream.GetStatusText(header), "No content");
  EXPECT_EQ(stream.GetContentLength(header), -1);
}

TEST(StreamHeader, ABadOrEndlessHeaderIsAFailureNotAMemoryHog) {
  const std::string endless(200000, 'A');  // no line end at all
  for (const std::string& answer :
       {endless, std::string("HTTP/1.0 200 OK\r\nContent-"), std::string("garbage\r\n\r\n"),
        std::string("HTTP/1.0 2000 Big\r\n\r\n"), std::string()}) {
    ScriptedServer server(answer);
    CPHTTPStream stream(FastSettings());
    ASSERT_EQ(stream.Open("127.0.0.1", server.Port()), 0);
    stream.Write("GET / HTTP/1.0\r\n\r\n", 0);
    std::string header;
    EXPECT_EQ(stream.ReadHeader(header), 500) << answer.substr(0, 40);
    EXPECT_LE(header.size(), 65536u);
  }
}

TEST(StreamHeader, ContentLengthAndReasonOfAnyHeader) {
  CPHTTPStream stream(FastSettings());
  EXPECT_EQ(stream.GetContentLength("HTTP/1.0 200 OK\r\ncontent-length:42\r\n\r\n"), 42);
  EXPECT_EQ(stream.GetContentLength("HTTP/1.0 200 OK\r\nContent-Length: -7\r\n\r\n"), -1);
  EXPECT_EQ(stream.GetContentLength("HTTP/1.0 200 OK\r\n\r\nContent-Length: 3\r\n"), -1);
  EXPECT_EQ(stream.GetStatusText("HTTP/1.0 407 Proxy Authentication Required\r\n\r\n"),
            "Proxy Authentication Required");
  EXPECT_EQ(stream.GetStatusText(""), "");
}

TEST(StreamTimeouts, ASilentPeerEndsTheWaitAfterRecvTimeout) {
  ScriptedServer server([](platform::SOCKET client, const std::string&) {
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
  }, false);
  CPHTTPStream stream(FastSettings());
  ASSERT_EQ(stream.Open("127.0.0.1", server.Port()), 0);
  char buffer[8];
  auto start = Clock::now();
  EXPECT_EQ(stream.Read(buffer, sizeof(buffer)), CPHTTPStream::kIoFailed);
  EXPECT_GE(SecondsSince(start), 0.9);
  std::string header;
  start = Clock::now();
  EXPECT_EQ(stream.ReadHeader(header), 500);
  EXPECT_LT(SecondsSince(start), 2.0);
}

TEST(StreamAbort, EndsPendingReadsAndConnectsAndEveryLaterWait) {
  ScriptedServer quiet([](platform::SOCKET client, const std::string&) {
    ScriptedServer::ReceiveExactly(client, 1);  // waits for the stream to go
  }, false);
  FullListener silent;
  CPRegistry patient;
  patient.SetRecvTimeout(30);
  patient.SetConnectTimeout(30);

  CPHTTPStream reader(patient);
  ASSERT_EQ(reader.Open("127.0.0.1", quiet.Port()), 0);
  auto read = std::async(std::launch::async, [&reader] {
    char buffer[8];
    return reader.Read(buffer, sizeof(buffer));
  });
  CPHTTPStream connector(patient);
  auto connect = std::async(std::launch::async, [&connector, &silent] {
    return connector.Open("127.0.0.1", silent.Port());
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  const auto start = Clock::now();
  CPHTTPStream::AbortAll();
  EXPECT_EQ(read.get(), CPHTTPStream::kIoCancelled);
  EXPECT_EQ(connect.get(), CPHTTPStream::kOpenCancelled);
  EXPECT_LT(SecondsSince(start), 3.0);

  // Later work ends at once.
  CPHTTPStream later(patient);
  EXPECT_EQ(later.Open("127.0.0.1", quiet.Port()), CPHTTPStream::kOpenCancelled);
  std::string text;
  EXPECT_EQ(later.OpenAndGetHeader("GET / HTTP/1.0\r\n\r\n", text), 500);

  upstream::ResumeStreams();
  EXPECT_EQ(later.Open("127.0.0.1", quiet.Port()), 0);
}

}  // namespace
