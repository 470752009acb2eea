// Test support: a loopback server on a thread of the test that answers each
// connection from a script, for the answers no well-behaved server gives.
#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/socket.h"

namespace upstream_testing {

class ScriptedServer {
 public:
  // Called for each connection, one after the other; `received` is what the
  // client sent up to the blank line ending its head (empty when the
  // server does not read it).
  using Script = std::function<void(platform::SOCKET client, const std::string& received)>;

  // Reads each request's head, then sends `reply` and closes.
  explicit ScriptedServer(std::string reply);
  // `port` 0: any free loopback port. Port() is 0 when it could not listen.
  ScriptedServer(Script script, bool readHead, unsigned port = 0);
  ~ScriptedServer();
  ScriptedServer(const ScriptedServer&) = delete;
  ScriptedServer& operator=(const ScriptedServer&) = delete;

  unsigned Port() const { return port_; }
  std::string Address() const { return "127.0.0.1," + std::to_string(port_); }
  // The heads received so far, in order.
  std::vector<std::string> Requests();

  // Sends everything, waiting as needed; false when the client went away.
  static bool SendAll(platform::SOCKET client, const std::string& data);
  // Reads exactly `length` bytes (waiting at most 5 s for each piece).
  static std::string ReceiveExactly(platform::SOCKET client, std::size_t length);

 private:
  void Serve();

  Script script_;
  bool read_head_;
  platform::SOCKET listener_ = platform::kInvalidSocket;
  unsigned port_ = 0;
  std::mutex lock_;
  std::vector<std::string> requests_;
  std::thread thread_;
};

}  // namespace upstream_testing
