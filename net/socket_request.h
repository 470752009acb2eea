// CHTTPSocketRequest: reads one plain-HTTP message off a CHTTPNetwork. The
// header block is taken in small peeks so that no byte of the body is taken
// with it; everything a peer sends is bounded before it is kept.
#pragma once

#include <cstddef>
#include <string>

#include "net/http_message.h"
#include "net/http_network.h"

class CHTTPSocketRequest {
 public:
  static constexpr std::size_t kHeaderPeek = 128;
  // A header block longer than this is refused (WSAEMSGSIZE).
  static constexpr std::size_t kMaxHeaderBlock = 65536;
  // The largest body ReadMessage keeps unless told otherwise.
  static constexpr std::size_t kMaxBody = 4 << 20;

  explicit CHTTPSocketRequest(CHTTPNetwork& network) : m_Network(network) {}

  // Waits at most the network's timeout for data, then reads up to `length`
  // bytes; with `peek` they stay in the socket and are not counted. Bytes
  // read (0: the peer has closed), or -1 with the error stored (the timeout
  // error for a timeout).
  int Read(void* buffer, std::size_t length, bool peek);

  // Reads the header block, up to and including the CR LF CR LF or LF LF
  // that ends it, into `header`. The bytes taken, or -1: read failure, the
  // peer closing first (WSAESHUTDOWN) or a block over kMaxHeaderBlock.
  long ReadHeaderBlock(std::string& header);

  // Reads a whole message: the header block into `message`, then the body
  // (Content-Length bytes; for a response without one, up to the peer's
  // close). A body over `maxBody`, a malformed start line (WSAEINVAL) or any
  // read failure gives -1. Otherwise the bytes taken.
  long long ReadMessage(CHTTPMessage& message, std::size_t maxBody = kMaxBody);

 private:
  // Consumes exactly `length` bytes that a peek has shown to be there.
  bool Consume(std::size_t length);
  long long ReadBody(CHTTPMessage& message, std::size_t maxBody);
  long Fail(int error);

  CHTTPNetwork& m_Network;
};
