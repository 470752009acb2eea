#include "conn/client_request_params.h"

#include <cstring>

int CClientRequestParams::Assign(const QRThreadParams& other) {
  QRThreadParams::Assign(other);
  if (const auto* job = dynamic_cast<const CClientRequestParams*>(&other)) *this = *job;
  return 0;
}

void CClientRequestParams::SetPeerAddress(const char* text) {
  std::size_t length = text == nullptr ? 0 : ::strnlen(text, kPeerAddressSize - 1);
  if (length > 0) std::memcpy(m_PeerAddress, text, length);
  m_PeerAddress[length] = '\0';
}

int CClientRequestParams::GetPeerAddress(char* buffer, std::size_t size) const {
  std::size_t length = std::strlen(m_PeerAddress);
  if (buffer == nullptr || size <= length) return -1;
  std::memcpy(buffer, m_PeerAddress, length + 1);
  return 0;
}
