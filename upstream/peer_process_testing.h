// Test support: peer programs (the data-centre simulator, an HTTP proxy, a
// SOCKS firewall) run as processes of their own on loopback ports, each
// ended by its pid when the test is done.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include <sys/types.h>

namespace upstream_testing {

class PeerProcess {
 public:
  PeerProcess() = default;
  ~PeerProcess() { Stop(); }
  PeerProcess(const PeerProcess&) = delete;
  PeerProcess& operator=(const PeerProcess&) = delete;

  // Starts argv[0] (a path) with its output going to `logPath`.
  bool Start(const std::vector<std::string>& argv, const std::string& logPath);
  // Sends SIGTERM and waits for the end, at most `grace`, then SIGKILL. The
  // exit code, or -1 when it ended by a signal (or was not running).
  int Stop(std::chrono::milliseconds grace = std::chrono::seconds(5));
  bool Running();
  pid_t Pid() const { return pid_; }

 private:
  pid_t pid_ = -1;
  int exit_code_ = -1;
};

// A loopback port that nothing listens on just now.
unsigned FreeLoopbackPort();
// Waits until 127.0.0.1:port accepts a connection, at most `limit`.
bool WaitForPort(unsigned port, std::chrono::milliseconds limit = std::chrono::seconds(10));
// The same for another loopback address (host byte order).
bool WaitForPort(std::uint32_t address, unsigned port, std::chrono::milliseconds limit = std::chrono::seconds(10));
// The full path of a program in PATH or the system's sbin folders; empty
// when it is not installed.
std::string FindProgram(const std::string& name);

// The data-centre simulator on a port of its own choosing.
class Simulator {
 public:
  // Starts build/bin/dcsim with `options` added; false when it does not come up.
  bool Start(const std::vector<std::string>& options = {});
  int Stop() { return process_.Stop(); }
  unsigned Port() const { return port_; }
  std::string Address() const { return "127.0.0.1," + std::to_string(port_); }
  // One request's whole answer; empty when there is none.
  std::string Get(const std::string& path);
  // A number of its statistics ("requests", "data", ...); -1 when unknown.
  long Stat(const std::string& name);
  // Changes a switch while it runs, as its command line would set it.
  bool Set(const std::string& option, const std::string& value);
  PeerProcess& Process() { return process_; }
  const std::string& LogPath() const { return log_; }

 private:
  PeerProcess process_;
  unsigned port_ = 0;
  std::string log_;
};

// Sends `request` to 127.0.0.1:port and returns everything the peer sends
// back before it closes (at most `limit` of waiting).
std::string Exchange(unsigned port, const std::string& request,
                     std::chrono::milliseconds limit = std::chrono::seconds(10));
// The same from the local address `from` (0: the system's choice) to `to`
// (host byte order), both on loopback.
std::string ExchangeWith(std::uint32_t from, std::uint32_t to, unsigned port, const std::string& request,
                         std::chrono::milliseconds limit = std::chrono::seconds(10));

}  // namespace upstream_testing
