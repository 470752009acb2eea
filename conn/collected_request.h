// A viewer's request as the listener collected it before handing the
// connection to a request thread: the viewer's address, the parser that took
// its bytes, the bytes it has not taken yet, and the time by which the whole
// request must be in.
#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>

#include "net/http_status.h"
#include "net/qrn_http.h"

struct CCollectedRequest {
  // Dotted text, made once when the connection was accepted; the log entry
  // takes it from here.
  std::string peer;
  std::unique_ptr<QRNHTTP> parser;
  // eHTTPComplete, or eHTTPMoreData when the request outgrew what the
  // listener collects and its thread reads the rest.
  httpStatus status = eHTTPMoreData;
  std::string pending;
  // Bytes read for this request so far (the collector's bound counts them).
  std::size_t received = 0;
  std::chrono::steady_clock::time_point deadline;
};
