// Result of feeding bytes to an incremental reader of the viewer protocol.
#pragma once

enum httpStatus : int {
  eHTTPMoreData = 1,
  eHTTPComplete = 2,
  eHTTPInvalid = 3,
};
