// Test support: the relay program, zondrel in debug mode, on a machine root
// and home directory of the test's own, listening on a free loopback port,
// optionally with a simulated data centre behind it. Ended by SIGTERM.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "config/cp_registry.h"
#include "platform/types.h"
#include "upstream/peer_process_testing.h"

namespace conn_testing {

// The agent list the relay loads: category 900 is blocked (null agent), 1000
// cached (proxy agent), 2000 the administration commands (admin agent),
// 66560 redirection (redirect agent); every other category is passed
// through.
extern const char* const kRelayAgentsFile;

class RelayProcess {
 public:
  struct Settings {
    unsigned simulatorPort = 0;
    platform::DWORD recvTimeoutSeconds = 20;
    platform::DWORD maxClientThreads = 300;
    platform::DWORD threadExpireMs = 0;  // 0: the default
    // The machine the relay runs on: empty is the test's own root; another
    // root (a directory) is a machine of its own, whose registry gets the
    // settings through zondrelctl.
    std::string machineRoot = {};
    // Where it listens: the address (loopback) and the port, 0 for a free one.
    std::string listenAddress = "127.0.0.1";
    unsigned short port = 0;
    // Lines of a .reg file (sections and values) applied to the relay's
    // machine after the settings above.
    std::string regText = {};
    // Files written below the home directory before the relay starts
    // (name relative to it, contents); folders are made as needed.
    std::vector<std::pair<std::string, std::string>> homeFiles{};
    // Further settings of a relay on the test's own machine, written after
    // the ones above (the home directory is set by then).
    std::function<void(CPRegistry&, const std::string& home)> configure{};
  };

  // Writes the settings and starts the relay; true once it routes requests.
  bool Start(const Settings& settings);
  // SIGTERM; the transaction log is written out as the relay stops.
  int Stop(std::chrono::milliseconds limit = std::chrono::seconds(30)) { return m_Process.Stop(limit); }

  unsigned short Port() const { return m_Port; }
  // The listen address in host byte order.
  std::uint32_t Address() const { return m_Address; }
  pid_t Pid() const { return m_Process.Pid(); }
  const std::string& Home() const { return m_Home; }
  std::string LogText() const;
  std::string ConsoleText() const;
  int Threads() const;
  // Open descriptors, those of the registry's connections apart (or only
  // those): the registry keeps a bounded pool of them that grows with use.
  int Descriptors(bool registry = false) const;

 private:
  std::string ProcPath(const char* what) const;
  // True once the relay answers on its address and routes requests.
  bool WaitUntilRouting();
  // Writes the settings into the registry of `settings.machineRoot`.
  bool WriteMachineSettings(const Settings& settings);

  upstream_testing::PeerProcess m_Process;
  std::string m_Home;
  unsigned short m_Port = 0;
  std::uint32_t m_Address = 0x7F000001;
};

// Runs zondrelctl with `arguments` on the machine rooted at `root` (the
// test's own when empty); true when it succeeded.
bool RunZondrelctl(const std::string& root, const std::vector<std::string>& arguments);

// A transaction-log line split at its blanks.
std::vector<std::string> LogFields(const std::string& line);
// The log line whose cs-uri is `uri`, split into its fields; empty if none.
std::vector<std::string> LogLine(const std::string& log, const std::string& uri);

}  // namespace conn_testing
