// The simulated data centre's HTTP/1.0 server: a listener on a loopback
// address and a fixed set of worker threads, each answering one connection
// (one request) at a time.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/socket.h"
#include "platform/sync.h"
#include "tools/dcsim/dcsim_options.h"

class CHTTPRequestMessage;
class CHTTPResponseMessage;

namespace dcsim {

// What has been answered since the start (or the last /dcsim/reset).
struct Counters {
  std::atomic<std::uint64_t> requests{0};    // every request but the control ones
  std::atomic<std::uint64_t> data{0};        // 200 with a data stream
  std::atomic<std::uint64_t> agentList{0};   // 200 with the agent list
  std::atomic<std::uint64_t> noContent{0};   // 204
  std::atomic<std::uint64_t> redirected{0};  // 302
  std::atomic<std::uint64_t> unauthorized{0};  // 401
  std::atomic<std::uint64_t> proxyAuth{0};   // 407
  std::atomic<std::uint64_t> invalid{0};     // 400, and requests that could not be read
  std::atomic<std::uint64_t> refused{0};     // connections closed unanswered: all workers busy
  std::atomic<std::uint64_t> itemsSent{0};
};

class Server {
 public:
  explicit Server(const Options& options);
  ~Server();
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  // Binds and listens; false with `error` set.
  bool Listen(std::string& error);
  std::uint16_t Port() const { return port_; }
  // Accepts and answers until Stop.
  void Run();
  // Ends Run: stops accepting, ends every wait and open connection. Any thread.
  void Stop();

  std::string StatsText() const;

 private:
  void Work();
  void Answer(platform::SOCKET client);
  void AnswerControl(const std::string& path, CHTTPResponseMessage& response);
  void AnswerRequest(const CHTTPRequestMessage& request, const Options& options, CHTTPResponseMessage& response);
  Options Snapshot();

  std::mutex options_lock_;
  Options options_;
  Counters counters_;

  platform::SOCKET listener_ = platform::kInvalidSocket;
  std::uint16_t port_ = 0;
  std::atomic<bool> stopping_{false};
  std::unique_ptr<platform::Event> stop_event_;  // ends the slow answers' waits

  std::mutex queue_lock_;
  std::condition_variable queue_ready_;
  std::deque<platform::SOCKET> queue_;
  std::set<platform::SOCKET> active_;  // being answered; shut down on Stop
  std::vector<std::thread> workers_;
};

}  // namespace dcsim
