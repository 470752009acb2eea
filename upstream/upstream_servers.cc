#include "upstream/upstream_servers.h"

#include <algorithm>
#include <cstdint>
#include <mutex>

#include "config/cp_registry.h"
#include "base/text_scan.h"
#include "platform/socket.h"

namespace upstream {
namespace {

// Loopback only: the relay must never reach out by default.
constexpr const char* kDefaultServers[kDefaultServerCount] = {"127.0.0.1,80", "127.0.0.2,80", "127.0.0.3,80",
                                                               "127.0.0.4,80"};
constexpr unsigned kMaxListenEntries = 64;

std::mutex g_last_good_lock;
ServerEndpoint g_last_good;

bool ParsePort(std::string_view text, unsigned& port) {
  text = net::TrimBlanks(text);
  if (text.empty() || text.size() > 5 || text.find_first_not_of("0123456789") != std::string_view::npos) {
    return false;
  }
  const std::int32_t number = net::ScanLong(text);
  if (number < 1 || number > 65535) return false;
  port = static_cast<unsigned>(number);
  return true;
}

// Whether `host` is this machine as seen by a listener on every interface.
bool IsThisMachine(const std::string& host) {
  std::uint32_t address = 0;
  if (platform::ParseDottedAddress(host, &address)) return (address >> 24) == 127 || address == 0;
  return net::EqualsNoCase(host, "localhost") || net::EqualsNoCase(host, CPRegistry::GetHostName());
}

}  // namespace

bool ParseServerEntry(std::string_view text, ServerEndpoint& endpoint) {
  const std::size_t comma = text.find(',');
  const std::size_t colon = text.find(':');
  std::size_t separator = std::string_view::npos;
  if (comma != std::string_view::npos && colon != std::string_view::npos) {
    separator = std::max(comma, colon);
  } else {
    separator = comma != std::string_view::npos ? comma : colon;
  }
  unsigned port = kDefaultServerPort;
  if (separator != std::string_view::npos && !ParsePort(text.substr(separator + 1), port)) return false;
  const std::string_view host = net::TrimBlanks(text.substr(0, separator));
  if (host.empty()) return false;
  endpoint.host = std::string(host);
  endpoint.port = port;
  return true;
}

const char* const* DefaultServerEntries() { return kDefaultServers; }

bool InstallDefaultServers(CPRegistry& settings) {
  if (!net::TrimBlanks(settings.GetIPPort(1)).empty()) return false;
  for (unsigned n = 1; n <= kServerListValues; ++n) settings.DeleteIPPort(n);
  for (unsigned n = 0; n < kDefaultServerCount; ++n) settings.SetIPPort(n + 1, kDefaultServers[n]);
  return true;
}

ServerEndpoint LastGoodServer() {
  std::lock_guard<std::mutex> hold(g_last_good_lock);
  return g_last_good;
}

void SetLastGoodServer(const std::string& host, unsigned port) {
  std::lock_guard<std::mutex> hold(g_last_good_lock);
  g_last_good.host = host;
  g_last_good.port = port;
}

void ClearLastGoodServer() { SetLastGoodServer({}, 0); }

bool IsOwnListenAddress(CPRegistry& settings, const std::string& host, unsigned port) {
  const std::string target = host + "," + std::to_string(port);
  const unsigned count = std::min<unsigned>(settings.GetServerNoOfListenThreads(), kMaxListenEntries);
  for (unsigned n = 1; n <= count; ++n) {
    const std::string entry = settings.GetServerLISTENIPPort(n);
    if (entry == target) return true;
    // An entry of a port alone listens on every interface, so any name of
    // this machine with that port is the relay itself.
    unsigned listenPort = 0;
    if (entry.find(',') == std::string::npos && ParsePort(entry, listenPort) && listenPort == port &&
        IsThisMachine(host)) {
      return true;
    }
    ServerEndpoint listen;
    if (entry.find(',') != std::string::npos && ParseServerEntry(entry, listen) && listen.port == port) {
      std::uint32_t listenAddress = 0;
      std::uint32_t targetAddress = 0;
      if (platform::ParseDottedAddress(listen.host, &listenAddress) &&
          platform::ParseDottedAddress(host, &targetAddress) &&
          (listenAddress == targetAddress || (listenAddress == 0 && IsThisMachine(host)))) {
        return true;
      }
    }
  }
  return false;
}

}  // namespace upstream
