// The agent base's raw and gathered sends, its own file transmission and
// error packets, on real loopback connections.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "agents/agent_testing.h"
#include "agents/test_agent.h"
#include "platform/event_store.h"
#include "platform/file.h"
#include "platform/testing.h"

namespace {

using agent_testing::PatternBytes;
using agent_testing::TraceCapture;
using agent_testing::ViewerConnection;

constexpr const char* kServerLine = "\r\nServer: Orrinvale, Inc. Zondrel\r\n\r\n";

std::string ErrorPacket(int code, const char* reason, unsigned long* bytesSent = nullptr) {
  ViewerConnection viewer;
  viewer.StartReading();
  CTestAgent agent;
  unsigned long sent = 0;
  EXPECT_EQ(agent.HTTPSendErrorPacket(viewer.Server(), sent, nullptr, code, reason), 1);
  if (bytesSent != nullptr) *bytesSent = sent;
  return viewer.Finish();
}

TEST(AgentErrorPacket, ReasonComesFromTheCallerOrTheStatusTable) {
  TraceCapture traces;
  unsigned long sent = 0;
  const std::string notFound = ErrorPacket(404, nullptr, &sent);
  EXPECT_EQ(notFound, std::string("HTTP/1.0 404 Not Found") + kServerLine);
  EXPECT_EQ(sent, notFound.size());
  EXPECT_EQ(ErrorPacket(406, ""), std::string("HTTP/1.0 406 None Acceptable") + kServerLine);
  EXPECT_EQ(ErrorPacket(204, nullptr), std::string("HTTP/1.0 204 No Content") + kServerLine);
  // A code the table does not know: the code, a blank and nothing.
  EXPECT_EQ(ErrorPacket(599, nullptr), std::string("HTTP/1.0 599 ") + kServerLine);
  EXPECT_EQ(ErrorPacket(403, "Category blocked"), std::string("HTTP/1.0 403 Category blocked") + kServerLine);

  const std::string text = traces.Text();
  EXPECT_NE(text.find("SendErrorPacket: Succeeded: 404 \n"), std::string::npos) << text;
  EXPECT_NE(text.find("SendErrorPacket: Succeeded: 403 Category blocked\n"), std::string::npos) << text;
}

TEST(AgentErrorPacket, ReasonCannotAddLinesOrOverrunThePacket) {
  EXPECT_EQ(ErrorPacket(500, "Oops\r\nSet-Cookie: x=1"), std::string("HTTP/1.0 500 Oops") + kServerLine);
  const std::string longReason(5000, 'r');
  EXPECT_EQ(ErrorPacket(500, longReason.c_str()),
            "HTTP/1.0 500 " + std::string(CAbstractAgent::kMaxReasonLength, 'r') + kServerLine);
}

TEST(AgentErrorPacket, FailedSendIsTracedAndStillReturnsOne) {
  TraceCapture traces;
  CTestAgent agent(200);
  unsigned long sent = 99;
  EXPECT_EQ(agent.HTTPSendErrorPacket(platform::kInvalidSocket, sent, nullptr, 404, nullptr), 1);
  EXPECT_EQ(sent, 0u);
  EXPECT_NE(traces.Text().find("SendErrorPacket: Failed: 404 \n"), std::string::npos);
}

TEST(AgentSendResponse, LargeBufferArrivesWholeAndIsCountedOnTopOfTheRunningCount) {
  const std::string data = PatternBytes(1000003, 1);
  ViewerConnection viewer(8192);
  viewer.StartReading();
  CTestAgent agent;
  unsigned long sent = 17;
  EXPECT_EQ(agent.SendResponse(viewer.Server(), sent, data.data(), data.size()), CAbstractAgent::kSendSucceeded);
  EXPECT_EQ(sent, 17 + data.size());
  EXPECT_EQ(agent.SendResponse(viewer.Server(), sent, data.data(), 0), CAbstractAgent::kSendSucceeded);
  EXPECT_EQ(sent, 17 + data.size());
  EXPECT_TRUE(viewer.Finish() == data);
}

TEST(AgentSendResponse, ViewerThatStopsReadingIsGivenUpAfterTheWait) {
  TraceCapture traces;
  const std::string data = PatternBytes(8 << 20, 2);
  ViewerConnection viewer(4096);  // never reads
  CTestAgent agent(300);
  unsigned long sent = 0;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(agent.SendResponse(viewer.Server(), sent, data.data(), data.size()), CAbstractAgent::kSendFailed);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_EQ(sent, 0u);
  EXPECT_NE(traces.Text().find("AbsAgent: No send writability after timeout period\n"), std::string::npos);
}

TEST(AgentSendResponse, ViewerThatWentAwayFailsWithTheSocketErrorTraced) {
  TraceCapture traces;
  const std::string data = PatternBytes(4 << 20, 3);
  ViewerConnection viewer;
  viewer.CloseViewer();
  CTestAgent agent;
  unsigned long sent = 5;
  EXPECT_EQ(agent.SendResponse(viewer.Server(), sent, data.data(), data.size()), CAbstractAgent::kSendFailed);
  EXPECT_EQ(sent, 0u);
  const std::string text = traces.Text();
  // Reset or broken pipe, depending on when the close reached this end.
  EXPECT_TRUE(text.find("CAbstractAgent::SendResponse() WSAECONNRESET failed - the socket has been closed by "
                        "the remote end. socket (") != std::string::npos ||
              text.find("CAbstractAgent::SendResponse() WSAESHUTDOWN failed - Shutdown requested by remote "
                        "end. socket (") != std::string::npos)
      << text;
}

TEST(AgentSendPieces, EveryByteInOrderThroughAFullSocket) {
  ViewerConnection viewer(4096);
  viewer.StartReading();
  // More pieces than one call takes, some empty, some larger than the
  // buffers and than one call's bytes.
  std::vector<std::string> texts;
  for (int i = 0; i < 150; ++i) texts.push_back(i % 7 == 0 ? std::string() : PatternBytes(197 * i, i));
  std::vector<platform::SendSlice> pieces;
  std::string expected;
  for (const std::string& text : texts) {
    pieces.push_back({text.data(), text.size()});
    expected += text;
  }
  CTestAgent agent(5000);
  unsigned long bytesSent = 11;
  std::size_t sent = 0;
  EXPECT_EQ(agent.SendPieces(viewer.Server(), bytesSent, pieces, sent), CAbstractAgent::kSendSucceeded);
  EXPECT_EQ(sent, expected.size());
  EXPECT_EQ(bytesSent, 11 + expected.size());
  EXPECT_TRUE(viewer.Finish() == expected);
}

TEST(AgentSendPieces, AViewerThatStopsReadingEndsTheSendAfterTheWaitAndTellsWhere) {
  TraceCapture traces;
  ViewerConnection viewer(4096);  // never reads
  const std::string big(4 * 1024 * 1024, 'x');
  const platform::SendSlice pieces[] = {{"head", 4}, {big.data(), big.size()}};
  CTestAgent agent(200);
  unsigned long bytesSent = 11;
  std::size_t sent = 0;
  EXPECT_EQ(agent.SendPieces(viewer.Server(), bytesSent, pieces, sent), CAbstractAgent::kSendFailed);
  EXPECT_EQ(platform::WSAGetLastError(), platform::WSAETIMEDOUT);
  EXPECT_EQ(platform::GetLastError(), static_cast<platform::DWORD>(platform::WSAETIMEDOUT));
  EXPECT_EQ(bytesSent, 0u);
  EXPECT_GE(sent, 4u);
  EXPECT_LT(sent, big.size());
  EXPECT_NE(traces.Text().find("AbsAgent: No send writability after timeout period\n"), std::string::npos);
}

class AgentTransmitFile : public testing::Test {
 protected:
  void SetUp() override {
    m_Path = testing_support::MakeTempDir("agent") + "/item.bin";
    m_Contents = PatternBytes(10000, 4);
    testing_support::WriteFile(m_Path, m_Contents);
    m_File = platform::File::Open(m_Path, platform::File::Mode::kRead);
    ASSERT_NE(m_File, nullptr);
  }

  std::string m_Path;
  std::string m_Contents;
  std::unique_ptr<platform::File> m_File;
  CTestAgent m_Agent;
};

TEST_F(AgentTransmitFile, HeadFileFromItsPositionAndTailAreSentAndCounted) {
  const std::string head = "HEAD-BYTES";
  const std::string tail = "TAIL";
  TransmitFileBuffers buffers{head.data(), static_cast<unsigned long>(head.size()), tail.data(),
                              static_cast<unsigned long>(tail.size())};
  {
    ASSERT_EQ(m_File->Seek(100), 100);
    ViewerConnection viewer;
    viewer.StartReading();
    unsigned long sent = 3;
    EXPECT_EQ(m_Agent.TransmitFile(viewer.Server(), m_File.get(), 0, sent, &buffers), CAbstractAgent::kSendSucceeded);
    EXPECT_EQ(sent, 3 + head.size() + (m_Contents.size() - 100) + tail.size());
    EXPECT_TRUE(viewer.Finish() == head + m_Contents.substr(100) + tail);
  }
  {
    // A count shorter than the file sends that many bytes only.
    ASSERT_EQ(m_File->Seek(0), 0);
    ViewerConnection viewer;
    viewer.StartReading();
    unsigned long sent = 0;
    EXPECT_EQ(m_Agent.TransmitFile(viewer.Server(), m_File.get(), 4097, sent, nullptr), CAbstractAgent::kSendSucceeded);
    EXPECT_EQ(sent, 4097u);
    EXPECT_TRUE(viewer.Finish() == m_Contents.substr(0, 4097));
  }
}

TEST_F(AgentTransmitFile, FileShorterThanTheCountFailsInsteadOfWaiting) {
  TraceCapture traces;
  ViewerConnection viewer;
  viewer.StartReading();
  unsigned long sent = 0;
  EXPECT_EQ(m_Agent.TransmitFile(viewer.Server(), m_File.get(), 20000, sent, nullptr), CAbstractAgent::kSendFailed);
  EXPECT_EQ(sent, 0u);
  viewer.Finish();
  EXPECT_NE(traces.Text().find("AbsAgent: TransmitFile (hime brew) - file "), std::string::npos);
}

TEST_F(AgentTransmitFile, UnreadableFileIsCaughtAndTraced) {
  TraceCapture traces;
  auto writeOnly = platform::File::Open(m_Path, platform::File::Mode::kAppend);
  ASSERT_NE(writeOnly, nullptr);
  ViewerConnection viewer;
  viewer.StartReading();
  unsigned long sent = 0;
  EXPECT_EQ(m_Agent.TransmitFile(viewer.Server(), writeOnly.get(), 0, sent, nullptr), CAbstractAgent::kSendFailed);
  EXPECT_EQ(sent, 0u);
  viewer.Finish();
  EXPECT_NE(traces.Text().find("AbsAgent: TransmitFile (hime brew) caught an exception\n"), std::string::npos);
}

}  // namespace
