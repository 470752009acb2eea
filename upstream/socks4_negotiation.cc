// CPHTTPStream's SOCKS 4 hop: asking the firewall to connect to the target.
#include <cstdint>

#include "base/trace_bits.h"
#include "platform/trace.h"
#include "upstream/http_stream.h"

namespace {

constexpr unsigned char kSocksVersion = 4;
constexpr unsigned char kSocksConnect = 1;
constexpr std::size_t kSocksReplyLength = 8;
// A user name longer than this is not sent (firewalls cap it well below).
constexpr std::size_t kMaxSocksUser = 255;

// Reply codes of a SOCKS 4 firewall.
constexpr int kSocksGranted = 90;
constexpr int kSocksNoIdentd = 92;
constexpr int kSocksUserMismatch = 93;
constexpr int kNetworkUnreachable = 10051;
constexpr int kLogonFailure = 1326;

}  // namespace

int CPHTTPStream::NegotiateSocksConnection(const platform::SocketAddress& target) {
  const std::uint32_t a = target.address;
  const int b1 = static_cast<int>((a >> 24) & 0xFF);
  const int b2 = static_cast<int>((a >> 16) & 0xFF);
  const int b3 = static_cast<int>((a >> 8) & 0xFF);
  const int b4 = static_cast<int>(a & 0xFF);
  const int port = target.port;

  const unsigned char request[8] = {kSocksVersion,
                                    kSocksConnect,
                                    static_cast<unsigned char>(target.port >> 8),
                                    static_cast<unsigned char>(target.port & 0xFF),
                                    static_cast<unsigned char>(b1),
                                    static_cast<unsigned char>(b2),
                                    static_cast<unsigned char>(b3),
                                    static_cast<unsigned char>(b4)};
  const std::string user = m_SocksUser.substr(0, m_SocksUser.find('\0')).substr(0, kMaxSocksUser);
  // The name goes with its terminating zero (alone when the name is empty).
  const int sent = Write(request, sizeof(request));
  if (sent == kIoCancelled) return kOpenCancelled;
  const int sentName = sent == sizeof(request) ? Write(user.c_str(), user.size() + 1) : -1;
  if (sentName == kIoCancelled) return kOpenCancelled;
  if (sentName != static_cast<int>(user.size() + 1)) {
    trace(trace_bits::kNetwork,
          "CPHTTPStream::NegotiateSocksConnection() to %d.%d.%d.%d:%d: Unable to write request to SOCKS server.\n",
          b1, b2, b3, b4, port);
    return kOpenFailed;
  }

  unsigned char reply[kSocksReplyLength] = {};
  std::size_t got = 0;
  while (got < sizeof(reply)) {
    const int n = Read(reply + got, sizeof(reply) - got, 0);
    if (n == kIoCancelled) return kOpenCancelled;
    if (n <= 0) break;
    got += static_cast<std::size_t>(n);
  }
  if (got < sizeof(reply)) {
    trace(trace_bits::kNetwork,
          "CPHTTPStream::NegotiateSocksConnection() to %d.%d.%d.%d:%d: No response from SOCKS firewall.\n", b1, b2,
          b3, b4, port);
    return kOpenFailed;
  }
  const int code = reply[1];
  if (code == kSocksGranted) {
    trace(trace_bits::kNetwork, "CPHttpStream::NegotiateSocksConnection() to %d.%d.%d.%d:%d: Success.\n", b1, b2, b3,
          b4, port);
    return 0;
  }
  trace(trace_bits::kNetwork,
        "CPHTTPStream::NegotiateSocksConnection() to %d.%d.%d.%d:%d: Failed, SOCKS filewall returned reply of %d.\n",
        b1, b2, b3, b4, port, code);
  switch (code) {
    case kSocksNoIdentd:
      return kNetworkUnreachable;
    case kSocksUserMismatch:
      return kLogonFailure;
    default:
      return kOpenFailed;  // 91 (refused) and anything unknown
  }
}
