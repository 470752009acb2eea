// Test support: a real web server (lighttpd or nginx) serving a folder of
// the test on a loopback port, started as a process of its own and ended by
// its pid.
#pragma once

#include <string>
#include <vector>

#include "upstream/peer_process_testing.h"

namespace upstream_testing {

// Points the process's temporary directory (where fetched copies go) below
// the test's machine root, once per process, before its first use.
void UseTestTemporaryDirectory();

class WebServer {
 public:
  enum class Kind { kLighttpd, kNginx };

  // The program's path, empty when it is not installed.
  static std::string Program(Kind kind);
  // The Debian package that brings it, for skip messages.
  static const char* Package(Kind kind);

  ~WebServer() { Stop(); }

  // Documents below `protectedPath` (lighttpd only) ask for Basic
  // credentials and take `user` and `password`; `lighttpdConfig` is added
  // to lighttpd's configuration (modules such as mod_cgi and their
  // settings).
  struct Options {
    std::string protectedPath;
    std::string user;
    std::string password;
    std::string lighttpdConfig;
  };

  // Serves Root() on a free port; false when it does not come up. nginx
  // answers a conditional GET with 304 when the document is not newer than
  // the date asked about.
  bool Start(Kind kind, const Options& options);
  bool Start(Kind kind) { return Start(kind, Options()); }
  bool Start(Kind kind, const std::string& lighttpdConfig) {
    Options options;
    options.lighttpdConfig = lighttpdConfig;
    return Start(kind, options);
  }
  void Stop() { process_.Stop(); }
  // Starts the stopped server again, on the same port and folder.
  bool Restart();
  // The served folder, ending in "/".
  const std::string& Root() const { return root_; }
  unsigned Port() const { return port_; }
  std::string Url(const std::string& path) const;
  // The access log so far (one line per answered request).
  std::string AccessLog() const;
  // Whether the access log shows `text` within two seconds: the server
  // writes a request's line only after it has answered.
  bool AccessLogShows(const std::string& text) const;
  std::string ErrorLog() const;

 private:
  PeerProcess process_;
  std::string dir_;
  std::string root_;
  unsigned port_ = 0;
  std::vector<std::string> argv_;
};

// tinyproxy on a free loopback port, demanding Basic proxy credentials.
// (It refuses wrong credentials with 401, and missing ones with 407.)
class ProxyServer {
 public:
  static std::string Program() { return FindProgram("tinyproxy"); }
  bool Start(const std::string& user, const std::string& password);
  unsigned Port() const { return port_; }
  std::string Log() const;

 private:
  PeerProcess process_;
  std::string dir_;
  unsigned port_ = 0;
};

}  // namespace upstream_testing
