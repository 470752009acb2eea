#include "agents/agent_testing.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "base/trace_bits.h"
#include "platform/registry.h"
#include "platform/testing.h"
#include "platform/trace.h"

namespace agent_testing {

ViewerConnection::ViewerConnection(int bufferBytes) : m_Pair(bufferBytes) {}

ViewerConnection::~ViewerConnection() { Finish(); }

void ViewerConnection::StartReading() {
  m_Reader = std::thread([this] {
    char piece[65536];
    // Ten quiet seconds end the read, so a test that goes wrong still ends.
    while (platform::WaitReadable(m_Pair.client, 10000) == 1) {
      const int got = platform::Recv(m_Pair.client, piece, sizeof(piece));
      if (got <= 0) break;
      m_Received.append(piece, static_cast<std::size_t>(got));
    }
  });
}

std::string ViewerConnection::Finish() {
  m_Pair.CloseServer();
  if (m_Reader.joinable()) m_Reader.join();
  return m_Received;
}

std::unique_ptr<QRNHTTP> ParsedRequest(std::string_view method) {
  auto parser = std::make_unique<QRNHTTP>();
  std::string text = std::string(method) + " /KIBO-1/5-1 HTTP/1.0\r\n\r\n";
  std::vector<char> buffer(text.begin(), text.end());
  unsigned int length = static_cast<unsigned int>(buffer.size());
  EXPECT_EQ(parser->HTTPprocess(buffer.data(), length), eHTTPComplete) << method;
  return parser;
}

Answer SplitAnswer(const std::string& wire) {
  Answer answer;
  const std::size_t end = wire.find("\r\n\r\n");
  if (end == std::string::npos) {
    answer.head = wire;
    return answer;
  }
  answer.head = wire.substr(0, end + 4);
  answer.body = wire.substr(end + 4);
  const std::size_t field = answer.head.find("\r\nContent-length:");
  if (field != std::string::npos) answer.contentLength = std::atoll(answer.head.c_str() + field + 17);
  return answer;
}

namespace {

void SetTraceFilename(const char* path) {
  testing_support::SetTraceFilenameSetting(path);
  ModuleTraceLog().Reload();
  trace(trace_bits::kSend, "-- trace capture %s --\n", path != nullptr ? "on" : "off");
}

}  // namespace

TraceCapture::TraceCapture() : m_Base(testing_support::MakeTempDir("trace") + "/trace") {
  SetTraceFilename(m_Base.c_str());
}

TraceCapture::~TraceCapture() { SetTraceFilename(nullptr); }

std::string TraceCapture::Text() const {
  ModuleTraceLog().Flush();
  return testing_support::ReadFile(m_Base + ".zondrel");
}

std::string PatternBytes(std::size_t size, unsigned seed) {
  std::string bytes(size, '\0');
  unsigned state = seed * 2654435761u + 1;
  for (char& byte : bytes) {
    state = state * 1103515245u + 12345u;
    byte = static_cast<char>(state >> 16);
  }
  return bytes;
}

}  // namespace agent_testing
