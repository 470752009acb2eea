// The relay server's program entry.
#include <cstdio>
#include <cstdlib>

#include "platform/system.h"
#include "platform/trace.h"
#include "service/zondrel_service.h"

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  platform::RaiseDescriptorLimit();
  ZondrelService service;
  if (!service.ParseStandardArgs(argc, argv)) service.StartService();
  // Ends the process without tearing down objects that threads may still use.
  int code = static_cast<int>(service.ExitCode());
  std::fflush(nullptr);
  ModuleTraceLog().Flush();
  std::_Exit(code);
}
