// Test support for agents: a viewer on a real loopback connection, parsed
// requests, answers split into head and body, and the trace lines written.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <thread>

#include "net/qrn_http.h"
#include "platform/socket.h"
#include "platform/testing.h"

namespace agent_testing {

// A connected loopback pair: the agent writes on Server(), the viewer end
// reads on a thread of its own once StartReading() is called.
class ViewerConnection {
 public:
  // With `bufferBytes` both ends get small socket buffers, so that a viewer
  // that does not read stalls the agent quickly.
  explicit ViewerConnection(int bufferBytes = 0);
  ~ViewerConnection();
  ViewerConnection(const ViewerConnection&) = delete;
  ViewerConnection& operator=(const ViewerConnection&) = delete;

  platform::SOCKET Server() const { return m_Pair.server; }
  void StartReading();
  // Closes the agent's end and returns everything the viewer received.
  std::string Finish();
  // The viewer goes away without reading.
  void CloseViewer() { m_Pair.CloseClient(); }

 private:
  testing_support::LoopbackPair m_Pair;
  std::thread m_Reader;
  std::string m_Received;
};

// A parser holding "<method> /KIBO-1/5-1 HTTP/1.0".
std::unique_ptr<QRNHTTP> ParsedRequest(std::string_view method);

// An answer cut after its empty header line; contentLength -1 when the head
// has no Content-length.
struct Answer {
  std::string head;
  std::string body;
  long long contentLength = -1;
};
Answer SplitAnswer(const std::string& wire);

// Sends this process's trace lines to a file of the test's own.
class TraceCapture {
 public:
  TraceCapture();
  ~TraceCapture();
  std::string Text() const;

 private:
  std::string m_Base;
};

// `size` bytes that differ from piece to piece.
std::string PatternBytes(std::size_t size, unsigned seed);

}  // namespace agent_testing
