#include "tools/event_command.h"

#include <iostream>

#include "platform/sync.h"

namespace zondrelctl {

int RunEventCommand(const std::vector<std::string>& args) {
  if (args.size() != 2 || args[0] != "set") {
    std::cerr << "ERROR: Invalid syntax: zondrelctl event set NAME\n";
    return 1;
  }
  const std::string& name = args[1];
  auto event = platform::Event::OpenNamed(name);
  if (!event) {
    platform::DWORD error = platform::GetLastError();
    if (error == platform::kErrorFileNotFound) {
      std::cerr << "ERROR: No process holds the named event \"" << name
                << "\": the program that waits on it is not running.\n";
    } else {
      std::cerr << "ERROR: Cannot open the named event \"" << name << "\" (error " << error << ").\n";
    }
    return 1;
  }
  if (!event->Set()) {
    std::cerr << "ERROR: Cannot set the named event \"" << name << "\" (error "
              << platform::GetLastError() << ").\n";
    return 1;
  }
  std::cout << "The event \"" << name << "\" was set.\n";
  return 0;
}

}  // namespace zondrelctl
