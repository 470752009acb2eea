#include "conn/client_request_params.h"

int CClientRequestParams::Assign(const QRThreadParams& other) {
  QRThreadParams::Assign(other);
  if (const auto* job = dynamic_cast<const CClientRequestParams*>(&other)) *this = *job;
  return 0;
}
