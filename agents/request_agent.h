// CRequestAgent: a handler of the administration web server. The server
// reads one request from the connection, builds an empty response and hands
// both to the handler that the request's path chooses; the handler fills the
// response and sends it on the connection.
#pragma once

#include "net/http_message.h"
#include "net/http_network.h"

class CRequestAgent {
 public:
  CRequestAgent() = default;
  virtual ~CRequestAgent() = default;
  CRequestAgent(const CRequestAgent&) = delete;
  CRequestAgent& operator=(const CRequestAgent&) = delete;

  // Answers `request` on `connection` through `response`; nonzero when the
  // answer went out.
  virtual int ProcessRequest(CHTTPNetwork& connection, const CHTTPRequestMessage& request,
                             CHTTPResponseMessage& response) = 0;
};
