// CErrorAgent: the administration server's handler of every path that no
// other handler serves. It answers 404.
#pragma once

#include "agents/request_agent.h"

class CErrorAgent : public CRequestAgent {
 public:
  // Sends "HTTP/1.0 404 Not Found"; a failed send is traced and reported.
  // Always 1.
  int ProcessRequest(CHTTPNetwork& connection, const CHTTPRequestMessage& request,
                     CHTTPResponseMessage& response) override;
};
