// The network writer and the message reader on real loopback connections.
#include "net/http_network.h"

#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "net/http_message.h"
#include "net/socket_request.h"
#include "platform/registry.h"
#include "platform/socket.h"
#include "platform/sync.h"
#include "platform/testing.h"
#include "platform/trace.h"

namespace {

using namespace std::chrono_literals;

// A loopback pair that sends and receives on the client end.
struct Connection : testing_support::LoopbackPair {
  using LoopbackPair::LoopbackPair;
  void Send(const std::string& bytes) const {
    ASSERT_EQ(platform::Send(client, bytes.data(), bytes.size()), static_cast<int>(bytes.size()));
  }
  // Everything the client receives until the server side closes (or 10 s
  // pass without a byte).
  std::string ReceiveAll() const {
    std::string all;
    char piece[65536];
    while (platform::WaitReadable(client, 10000) == 1) {
      int got = platform::Recv(client, piece, sizeof(piece));
      if (got <= 0) break;
      all.append(piece, static_cast<std::size_t>(got));
    }
    return all;
  }
};

// Each test traces to a file of its own, so that trace lines can be checked.
class NetworkTest : public testing::Test {
 protected:
  void SetUp() override {
    base_ = testing_support::MakeTempDir("trace") + "/trace";
    SetTraceFile(nullptr);  // closes a file an earlier test may have left open
    SetTraceFile(base_.c_str());
  }
  void TearDown() override { SetTraceFile(nullptr); }

  std::string TraceText() {
    ModuleTraceLog().Flush();
    return testing_support::ReadFile(base_ + ".zondrel");
  }

 private:
  static void SetTraceFile(const char* path) {
    testing_support::SetTraceFilenameSetting(path);
    ModuleTraceLog().Reload();
    trace(0x10, "-- trace file %s --\n", path != nullptr ? "set" : "cleared");
  }

  std::string base_;
};

// A request head of exactly `size` bytes, ended by CR LF CR LF.
std::string HeadOfSize(std::size_t size) {
  std::string head = "GET /Admin/ HTTP/1.0\r\nX-Fill: ";
  head.append(size - head.size() - 4, 'f');
  head += "\r\n\r\n";
  return head;
}

TEST_F(NetworkTest, HeaderBlocksAreTakenUpToTheirEndAndNoFurther) {
  // Ends exactly at the first and at the second peek boundary.
  for (std::size_t size : {CHTTPSocketRequest::kHeaderPeek, 2 * CHTTPSocketRequest::kHeaderPeek}) {
    Connection connection;
    CHTTPNetwork network(connection.server, 2);
    CHTTPSocketRequest request(network);
    const std::string head = HeadOfSize(size);
    connection.Send(head + "BODY");
    std::string header;
    EXPECT_EQ(request.ReadHeaderBlock(header), static_cast<long>(size));
    EXPECT_EQ(header, head);
    EXPECT_EQ(network.BytesRead(), size);
    char body[16] = {};
    EXPECT_EQ(request.Read(body, sizeof(body), false), 4);
    EXPECT_EQ(std::string(body, 4), "BODY");
  }

  // LF LF alone ends a block too, also when it arrives split over two sends
  // and two peeks (the first LF the 128th byte).
  Connection connection;
  CHTTPNetwork network(connection.server, 2);
  CHTTPSocketRequest request(network);
  std::string head = "GET / HTTP/1.0\nX-Fill: ";
  head.append(CHTTPSocketRequest::kHeaderPeek - head.size() - 1, 'f');
  head += "\n";
  connection.Send(head);
  std::thread late([&] {
    std::this_thread::sleep_for(100ms);
    connection.Send("\nrest");
  });
  std::string header;
  EXPECT_EQ(request.ReadHeaderBlock(header), static_cast<long>(head.size() + 1));
  late.join();
  EXPECT_EQ(header, head + "\n");
  // The body stays in the socket; peeking does not count it.
  char rest[8] = {};
  EXPECT_EQ(request.Read(rest, sizeof(rest), true), 4);
  EXPECT_EQ(network.BytesRead(), head.size() + 1);
  EXPECT_EQ(request.Read(rest, sizeof(rest), false), 4);
  EXPECT_EQ(network.BytesRead(), head.size() + 5);
}

TEST_F(NetworkTest, HeaderBlocksThatNeverEndFail) {
  {  // The peer closes mid-header: failure, not an endless peek.
    Connection connection;
    CHTTPNetwork network(connection.server, 2);
    CHTTPSocketRequest request(network);
    connection.Send("GET / HTTP/1.0\r\nHost: x\r\n");
    platform::Shutdown(connection.client, platform::SD_SEND);
    std::string header;
    EXPECT_EQ(request.ReadHeaderBlock(header), -1);
    EXPECT_EQ(network.LastError(), platform::WSAESHUTDOWN);
  }
  {  // A header without end is cut off at the bound, whatever the peer sends.
    Connection connection;
    CHTTPNetwork network(connection.server, 2);
    CHTTPSocketRequest request(network);
    std::thread flood([&] {
      std::string line = "X-Flood: " + std::string(1000, 'x') + "\r\n";
      for (int i = 0; i < 100; ++i) {
        if (platform::WaitWritable(connection.client, 5000) != 1) break;
        if (platform::Send(connection.client, line.data(), line.size()) < 0) break;
      }
    });
    std::string header;
    EXPECT_EQ(request.ReadHeaderBlock(header), -1);
    EXPECT_EQ(network.LastError(), platform::WSAEMSGSIZE);
    EXPECT_LE(network.BytesRead(), CHTTPSocketRequest::kMaxHeaderBlock);
    EXPECT_LE(header.size(), CHTTPSocketRequest::kMaxHeaderBlock + CHTTPSocketRequest::kHeaderPeek);
    platform::Shutdown(connection.server, platform::SD_BOTH);
    flood.join();
  }
  {  // Silence: the read wait ends with the timeout error, traced.
    Connection connection;
    CHTTPNetwork network(connection.server, 1);
    CHTTPSocketRequest request(network);
    const auto started = std::chrono::steady_clock::now();
    std::string header;
    EXPECT_EQ(request.ReadHeaderBlock(header), -1);
    EXPECT_GE(std::chrono::steady_clock::now() - started, 900ms);
    EXPECT_EQ(network.LastError(), CHTTPNetwork::kTimeoutError);
    EXPECT_NE(TraceText().find("CHTTPSocketRequest::Read(): Error: -1\n"), std::string::npos);
  }
}

struct ReadOutcome {
  long long result;
  int error;
  std::uint64_t bytesRead;
};

// The peer sends `bytes` (and closes its side after them when `close`); the
// server side reads one message into `message`.
ReadOutcome ReadFromPeer(const std::string& bytes, bool close, CHTTPMessage& message,
                         std::size_t maxBody = CHTTPSocketRequest::kMaxBody) {
  Connection connection;
  CHTTPNetwork network(connection.server, 2);
  CHTTPSocketRequest socket(network);
  connection.Send(bytes);
  if (close) platform::Shutdown(connection.client, platform::SD_SEND);
  long long result = socket.ReadMessage(message, maxBody);
  return {result, network.LastError(), network.BytesRead()};
}

TEST_F(NetworkTest, MessagesAreReadWithTheirBodies) {
  // A request with a Content-Length body; what follows is left alone.
  const std::string head = "POST /Admin/x HTTP/1.0\r\ncontent-length: 5\r\nUser-Agent: t\r\n\r\n";
  CHTTPRequestMessage request;
  ReadOutcome read = ReadFromPeer(head + "helloNEXT", false, request);
  EXPECT_EQ(read.result, static_cast<long long>(head.size() + 5));
  EXPECT_EQ(read.bytesRead, head.size() + 5);
  EXPECT_EQ(request.Method(), net::kHTTPPost);
  EXPECT_EQ(request.URI(), "/Admin/x");
  EXPECT_EQ(request.Body(), "hello");
  EXPECT_EQ(request.FindHeader(kUserAgentHeader).value_or(""), "t");

  // A response without Content-Length runs to the close.
  CHTTPResponseMessage response;
  read = ReadFromPeer("HTTP/1.0 200 OK\r\nContent-Encoding: x-test\r\n\r\nall of it", true, response);
  EXPECT_GT(read.result, 0);
  EXPECT_EQ(response.StatusCode(), 200);
  EXPECT_EQ(response.Body(), "all of it");
  EXPECT_EQ(response.FindHeader(kContentEncodingHeader).value_or(""), "x-test");

  // A body announced larger than allowed is refused before it is read.
  read = ReadFromPeer("POST / HTTP/1.0\r\nContent-Length: 2147483647\r\n\r\nxx", false, request, 1024);
  EXPECT_EQ(read.result, -1);
  EXPECT_EQ(read.error, platform::WSAEMSGSIZE);
  EXPECT_TRUE(request.Body().empty());

  // Too much without a length; a body cut short; a response read as a request.
  read = ReadFromPeer("HTTP/1.0 200 OK\r\n\r\n" + std::string(2000, 'b'), true, response, 1024);
  EXPECT_EQ(read.result, -1);
  EXPECT_EQ(read.error, platform::WSAEMSGSIZE);
  read = ReadFromPeer("POST / HTTP/1.0\r\nContent-Length: 10\r\n\r\nshort", true, request);
  EXPECT_EQ(read.result, -1);
  EXPECT_EQ(read.error, platform::WSAESHUTDOWN);
  read = ReadFromPeer("HTTP/1.0 200 OK\r\n\r\n", false, request);
  EXPECT_EQ(read.result, -1);
  EXPECT_EQ(read.error, platform::WSAEINVAL);
}

TEST_F(NetworkTest, WriteSendsEverythingAndCountsIt) {
  Connection connection(64 * 1024);
  CHTTPNetwork network(connection.server, 2);
  std::string data(3 * CHTTPNetwork::kWritePiece + 123, '\0');
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7 + i / 251);
  std::string received;
  std::thread reader([&] { received = connection.ReceiveAll(); });
  EXPECT_EQ(network.Write(data.data(), data.size()), static_cast<long long>(data.size()));
  EXPECT_EQ(network.Write("", 0), 0);
  EXPECT_EQ(network.BytesWritten(), data.size());
  platform::Shutdown(connection.server, platform::SD_SEND);
  reader.join();
  EXPECT_TRUE(received == data) << received.size() << " of " << data.size() << " bytes arrived";
}

TEST_F(NetworkTest, WriteGivesUpOnAPeerThatStopsReading) {
  Connection connection(16 * 1024);
  CHTTPNetwork network(connection.server, 2, 1);  // the server's wait is 60 s
  const std::string data(8 << 20, 'x');          // far more than the buffers hold
  const auto started = std::chrono::steady_clock::now();
  EXPECT_EQ(network.Write(data.data(), data.size()), -1);
  const auto took = std::chrono::steady_clock::now() - started;
  EXPECT_GE(took, 900ms);
  EXPECT_LT(took, 10s);
  EXPECT_EQ(network.LastError(), -1);
  EXPECT_GT(network.BytesWritten(), 0u);
  EXPECT_LT(network.BytesWritten(), data.size());
  EXPECT_NE(TraceText().find("CHTTPNetwork::Write: No send writability after timeout period\n"), std::string::npos);
}

TEST_F(NetworkTest, WriteToAResetConnectionFailsWithTheSocketError) {
  Connection connection;
  CHTTPNetwork network(connection.server, 2, 5);
  // The peer drops the connection with unread data: it answers with a reset.
  connection.Send("unread");
  platform::SetDontLinger(connection.client, false);
  connection.CloseClient();
  std::this_thread::sleep_for(50ms);
  const std::string data(1024, 'x');
  long long result = 0;
  for (int i = 0; i < 50 && result >= 0; ++i) result = network.Write(data.data(), data.size());
  EXPECT_EQ(result, -1);
  // Which of the two depends on how far the reset had got.
  const std::string thread = "Thread " + std::to_string(platform::GetCurrentThreadId()) + ": ";
  const std::string socket = "socket (" + std::to_string(connection.server) + ") error: ";
  const std::string expected =
      network.LastError() == platform::WSAECONNRESET
          ? thread + "CHTTPNetwork::Write() WSAECONNRESET failed - the socket has been closed by the remote end. " +
                socket + "10054...\n"
          : thread + "CHTTPNetwork::Write() WSAESHUTDOWN failed - Shutdown requested by remote end. " + socket +
                "10058...\n";
  EXPECT_TRUE(network.LastError() == platform::WSAECONNRESET || network.LastError() == platform::WSAESHUTDOWN)
      << network.LastError();
  const std::string text = TraceText();
  EXPECT_NE(text.find(expected), std::string::npos) << text;
}

TEST_F(NetworkTest, WriteFileSendsTheWholeFileAndCountsIt) {
  const std::string directory = testing_support::MakeTempDir("files");
  std::string contents(5 * CHTTPNetwork::kWritePiece + 77, '\0');
  for (std::size_t i = 0; i < contents.size(); ++i) contents[i] = static_cast<char>(i % 253);
  testing_support::WriteFile(directory + "/big.bin", contents);
  testing_support::WriteFile(directory + "/empty.bin", "");

  Connection connection(32 * 1024);
  CHTTPNetwork network(connection.server, 2);
  std::string received;
  std::thread reader([&] { received = connection.ReceiveAll(); });
  ASSERT_EQ(network.Write("head:", 5), 5);
  auto file = platform::File::Open(directory + "/big.bin", platform::File::Mode::kRead);
  ASSERT_TRUE(file);
  file->Seek(1000);  // the whole file goes, wherever its position stands
  EXPECT_EQ(network.WriteFile(*file), static_cast<long long>(contents.size()));
  auto empty = platform::File::Open(directory + "/empty.bin", platform::File::Mode::kRead);
  ASSERT_TRUE(empty);
  EXPECT_EQ(network.WriteFile(*empty), 0);
  EXPECT_EQ(network.BytesWritten(), contents.size() + 5);
  platform::Shutdown(connection.server, platform::SD_SEND);
  reader.join();
  EXPECT_TRUE(received == "head:" + contents) << received.size() << " bytes arrived";
  const std::string text = TraceText();
  EXPECT_TRUE(text.find("CHTTPNetwork::WriteFile: Performing Blocking TransmitFile 10035\n") != std::string::npos ||
              text.find("CHTTPNetwork::WriteFile: Perform(ed) Non Blocking TransmitFile, 0\n") != std::string::npos)
      << text;
}

TEST_F(NetworkTest, WriteFileGivesUpOnAPeerThatStopsReading) {
  const std::string path = testing_support::MakeTempDir("files") + "/big.bin";
  testing_support::WriteFile(path, std::string(16 << 20, 'f'));
  auto file = platform::File::Open(path, platform::File::Mode::kRead);
  ASSERT_TRUE(file);
  Connection connection(16 * 1024);
  CHTTPNetwork network(connection.server, 2, 1);
  EXPECT_EQ(network.WriteFile(*file), -1);
  EXPECT_EQ(network.LastError(), -1);
  EXPECT_EQ(network.BytesWritten(), 0u);
  const std::string text = TraceText();
  EXPECT_NE(text.find("CHTTPNetwork::WriteFile: Performing Blocking TransmitFile 10035\n"), std::string::npos);
  EXPECT_NE(text.find("CHTTPNetwork::WriteFile: Error in TransmitFile -1\n"), std::string::npos);
}

TEST_F(NetworkTest, MessagesGoOutAsFormattedWithTheirBody) {
  const std::string path = testing_support::MakeTempDir("files") + "/index.html";
  testing_support::WriteFile(path, "<html></html>");
  auto file = platform::File::Open(path, platform::File::Mode::kRead);
  ASSERT_TRUE(file);

  Connection connection;
  CHTTPNetwork network(connection.server, 2);
  CHTTPResponseMessage response;
  response.SetStatus(200);
  response.AddHeader("Content-type", "text/html");
  response.SetBodyFile(file.get());
  EXPECT_EQ(response.Send(network), 1);
  CHTTPResponseMessage head;
  head.SetStatus(401);
  head.Body() = "<BODY>not for HEAD</BODY>";
  head.SetNoBody(true);
  EXPECT_EQ(head.Send(network), 1);
  CHTTPResponseMessage text;
  text.SetStatus(404);
  text.Body() = "gone";
  EXPECT_EQ(text.Send(network), 1);
  platform::Shutdown(connection.server, platform::SD_SEND);
  EXPECT_EQ(connection.ReceiveAll(),
            "HTTP/1.0 200 OK\r\nContent-type: text/html\r\n\r\n<html></html>"
            "HTTP/1.0 401 Unauthorized\r\n\r\n"
            "HTTP/1.0 404 Not Found\r\n\r\ngone");
}

}  // namespace
