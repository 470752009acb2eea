#include "tools/dcsim/dcsim_options.h"

#include <charconv>

#include "platform/socket.h"

namespace dcsim {
namespace {

bool ParseNumber(std::string_view text, std::uint64_t max, std::uint64_t& value) {
  if (text.empty()) return false;
  auto [end, failure] = std::from_chars(text.data(), text.data() + text.size(), value);
  return failure == std::errc() && end == text.data() + text.size() && value <= max;
}

template <typename T>
bool SetNumber(std::string_view text, std::uint64_t max, T& target, std::string& error, std::string_view name) {
  std::uint64_t value = 0;
  if (!ParseNumber(text, max, value)) {
    error = "--" + std::string(name) + " wants a number from 0 to " + std::to_string(max);
    return false;
  }
  target = static_cast<T>(value);
  return true;
}

// "off" (or nothing) turns a text switch off.
std::string SwitchText(std::string_view value) { return value == "off" ? std::string() : std::string(value); }

bool SetListen(Options& options, std::string_view value, std::string& error) {
  const std::size_t colon = value.rfind(':');
  std::uint32_t address = 0;
  std::uint64_t port = 0;
  if (colon == std::string_view::npos ||
      !platform::ParseDottedAddress(std::string(value.substr(0, colon)), &address) ||
      !ParseNumber(value.substr(colon + 1), 65535, port)) {
    error = "--listen wants address:port";
    return false;
  }
  if ((address >> 24) != 127) {
    error = "--listen: only loopback addresses (127.0.0.0/8) are served";
    return false;
  }
  options.listenAddress = address;
  options.port = static_cast<std::uint16_t>(port);
  return true;
}

bool SetCredentials(std::string& target, std::string_view value, std::string& error, std::string_view name) {
  const std::string text = SwitchText(value);
  if (!text.empty() && text.find(':') == std::string::npos) {
    error = "--" + std::string(name) + " wants user:password";
    return false;
  }
  target = text;
  return true;
}

}  // namespace

bool IsFlag(std::string_view name) { return name == "answer-204"; }

bool ApplyOption(Options& options, std::string_view name, std::string_view value, bool running,
                 std::string& error) {
  const bool startUpOnly = name == "listen" || name == "port-file" || name == "item-dir" || name == "agents" ||
                           name == "max-connections";
  if (running && startUpOnly) {
    error = "--" + std::string(name) + " is set at start-up only";
    return false;
  }
  if (name == "listen") return SetListen(options, value, error);
  if (name == "port-file") return options.portFile = value, true;
  if (name == "item-dir") return options.itemDirectory = value, true;
  if (name == "agents") return options.agentsFile = value, true;
  if (name == "max-connections") {
    if (!SetNumber(value, kMaxConnections, options.maxConnections, error, name)) return false;
    if (options.maxConnections == 0) options.maxConnections = 1;
    return true;
  }
  if (name == "items") return SetNumber(value, kMaxItems, options.items, error, name);
  if (name == "item-size") return SetNumber(value, kMaxItemSize, options.itemSize, error, name);
  if (name == "nxtupd") return SetNumber(value, 0x7FFFFFFF, options.nextUpdate, error, name);
  if (name == "delay") return SetNumber(value, kMaxDelayMs, options.delayMs, error, name);
  if (name == "proxy-auth") return SetCredentials(options.proxyCredentials, value, error, name);
  if (name == "auth") return SetCredentials(options.serverCredentials, value, error, name);
  if (name == "redirect") return options.redirect = SwitchText(value), true;
  if (name == "answer-204") {
    if (value != "on" && value != "off") {
      error = "--answer-204 is on or off";
      return false;
    }
    options.answerNoContent = value == "on";
    return true;
  }
  error = "unknown switch --" + std::string(name);
  return false;
}

bool ParseCommandLine(int argc, const char* const* argv, Options& options, std::string& error) {
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      error = "help";
      return false;
    }
    if (arg.substr(0, 2) != "--") {
      error = "unexpected argument " + std::string(arg);
      return false;
    }
    std::string_view name = arg.substr(2);
    std::string_view value;
    const std::size_t equals = name.find('=');
    if (equals != std::string_view::npos) {
      value = name.substr(equals + 1);
      name = name.substr(0, equals);
    } else if (IsFlag(name)) {
      value = "on";
    } else if (i + 1 < argc) {
      value = argv[++i];
    } else {
      error = "--" + std::string(name) + " wants a value";
      return false;
    }
    if (!ApplyOption(options, name, value, false, error)) return false;
  }
  return true;
}

const char* Usage() {
  return "usage: dcsim [switches]\n"
         "A data-centre simulator for tests, demonstrations and benchmarks.\n"
         "  --listen ADDR:PORT      loopback address to serve (default 127.0.0.1:18081; port 0: any)\n"
         "  --port-file PATH        write the port there once listening\n"
         "  --item-dir DIR          items from DIR/<category>/<item id> instead of generated ones\n"
         "  --items N               generated items per category, ids 1..N (default 10)\n"
         "  --item-size BYTES       bytes per generated item (default 1024)\n"
         "  --nxtupd SECONDS        next-update seconds announced (default 3600)\n"
         "  --agents FILE           agent list lines \"category,value\" (default: built in)\n"
         "  --answer-204            answer every data request with 204\n"
         "  --redirect HOST:PORT    answer 302 to http://HOST:PORT/<same path>\n"
         "  --auth USER:PASSWORD    answer 401 unless these credentials come\n"
         "  --proxy-auth USER:PASSWORD  answer 407 unless these proxy credentials come\n"
         "  --delay MS              wait before every answer\n"
         "  --max-connections N     connections served at once (default 16)\n"
         "While it runs: GET /dcsim/stats, GET /dcsim/reset, GET /dcsim/set/<switch>/<value>\n"
         "(value \"off\" turns a switch off). SIGTERM stops it.\n";
}

}  // namespace dcsim
