// The data-centre simulator's switches, from its command line and, for the
// answer switches, changed while it runs (GET /dcsim/set/<name>/<value>).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace dcsim {

// Bounds that keep one answer small enough to build in memory.
constexpr std::uint32_t kMaxItems = 100000;
constexpr std::uint32_t kMaxItemSize = 16 * 1024 * 1024;
constexpr std::uint64_t kMaxAnswerBytes = 64 * 1024 * 1024;
constexpr std::uint32_t kMaxConnections = 256;
constexpr std::uint32_t kMaxDelayMs = 600000;

struct Options {
  // Start-up only.
  std::uint32_t listenAddress = 0x7F000001;  // loopback only
  std::uint16_t port = 18081;                // 0: any free port
  std::string portFile;                      // receives the port once listening
  std::string itemDirectory;                 // <dir>/<category>/<item id>; empty: generated items
  std::string agentsFile;                    // "category,value" lines; empty: the built-in list
  std::uint32_t maxConnections = 16;

  // Content, changeable while running.
  std::uint32_t items = 10;        // generated items per category, ids 1..items
  std::uint32_t itemSize = 1024;   // bytes per generated item
  std::uint32_t nextUpdate = 3600; // NXTUPD seconds

  // Answers, changeable while running; checked in this order.
  std::uint32_t delayMs = 0;          // before every answer
  std::string proxyCredentials;       // "user:password": 407 without Proxy-Authorization
  std::string serverCredentials;      // "user:password": 401 without Authorization
  std::string redirect;               // "host:port" (or "host"): 302 there
  bool answerNoContent = false;       // 204 to every data request
};

// Sets one switch by its name (without "--"). `running` refuses the
// start-up-only ones. False with `error` set when name or value is unusable.
bool ApplyOption(Options& options, std::string_view name, std::string_view value, bool running,
                 std::string& error);
// Whether a switch takes no value on the command line.
bool IsFlag(std::string_view name);
// The whole command line; false with `error` (or "help") when it is unusable.
bool ParseCommandLine(int argc, const char* const* argv, Options& options, std::string& error);
const char* Usage();

}  // namespace dcsim
