// dcsim: the simulated data centre. Serves the agent list and data streams
// on a loopback port until SIGTERM.
#include <cstdio>
#include <string>

#include "platform/file.h"
#include "platform/service_control.h"
#include "tools/dcsim/dcsim_options.h"
#include "tools/dcsim/dcsim_server.h"

namespace {

dcsim::Server* g_server = nullptr;

void OnTerminationSignal(int) {
  if (g_server != nullptr) g_server->Stop();
}

bool WritePortFile(const std::string& path, unsigned port) {
  // A test waiting for the file never reads half of it.
  return platform::ReplaceFileContents(path, std::to_string(port) + "\n");
}

}  // namespace

int main(int argc, char** argv) {
  dcsim::Options options;
  std::string error;
  if (!dcsim::ParseCommandLine(argc, argv, options, error)) {
    const bool help = error == "help";
    if (!help) std::fprintf(stderr, "dcsim: %s\n", error.c_str());
    std::fputs(dcsim::Usage(), help ? stdout : stderr);
    return help ? 0 : 2;
  }
  dcsim::Server server(options);
  g_server = &server;
  platform::WatchTerminationSignals(OnTerminationSignal);
  if (!server.Listen(error)) {
    std::fprintf(stderr, "dcsim: %s\n", error.c_str());
    return 1;
  }
  if (!options.portFile.empty() && !WritePortFile(options.portFile, server.Port())) {
    std::fprintf(stderr, "dcsim: cannot write %s\n", options.portFile.c_str());
    return 1;
  }
  std::printf("dcsim: listening on 127.0.0.1:%u\n", static_cast<unsigned>(server.Port()));
  std::fflush(stdout);
  server.Run();
  std::printf("dcsim: stopped\n%s", server.StatsText().c_str());
  return 0;
}
