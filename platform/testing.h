// Test support. Linking it gives every test process a fresh machine root
// (ZONDREL_ROOT points at a new temporary directory, removed at exit unless
// ZONDREL_KEEP_TEST_ROOT=1), and helpers to run the project's programs.
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "platform/socket.h"

namespace testing_support {

// The test process's machine root.
const std::string& TestRoot();
// A new empty directory below the test root.
std::string MakeTempDir(const std::string& prefix);

// build/bin/<name>
std::string ProgramPath(const std::string& name);
// A file of the source tree, by its path relative to the tree's top.
std::string SourcePath(const std::string& relative);

struct RunResult {
  int exit_code = -1;       // -1 when killed by the time limit or a signal
  std::string output;       // standard output
  std::string error;        // standard error
};
// Runs a program to its end with `input` on standard input, killing it (by
// its pid) when it outlives `limit`.
RunResult Run(const std::vector<std::string>& argv, const std::string& input = {},
              std::chrono::milliseconds limit = std::chrono::seconds(60));

// A connected TCP pair on 127.0.0.1: `server` is the accepted end (the side
// under test), `client` its peer. With `bufferBytes` the flow from server to
// client gets small socket buffers, so that a client that stops reading
// stalls the server's sends quickly. The ends still open close with the pair.
struct LoopbackPair {
  explicit LoopbackPair(int bufferBytes = 0);
  ~LoopbackPair();
  LoopbackPair(const LoopbackPair&) = delete;
  LoopbackPair& operator=(const LoopbackPair&) = delete;
  void CloseServer();
  void CloseClient();

  platform::SOCKET server = platform::kInvalidSocket;
  platform::SOCKET client = platform::kInvalidSocket;
};

void WriteFile(const std::string& path, const std::string& contents);
std::string ReadFile(const std::string& path);

// Ends a test whose peer program (a web server, proxy or firewall it runs
// against) is not installed: a skip, or a failure when ZONDREL_REQUIRE_PEERS=1
// says that every peer must be there. Called as `return PeerMissing(...);`
// from a test's body or its SetUp.
void PeerMissing(const std::string& program, const std::string& package);

// Sets the server's TraceFilename setting to `path`, or removes it (null).
// A module's trace log takes it up when reloaded.
void SetTraceFilenameSetting(const char* path);

}  // namespace testing_support
