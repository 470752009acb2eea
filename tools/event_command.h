// "zondrelctl event set NAME": sets a named event of the machine, the way the
// administration program forces a server's background job to run now.
#pragma once

#include <string>
#include <vector>

namespace zondrelctl {

// `args` are the words after "event". Returns the exit code.
int RunEventCommand(const std::vector<std::string>& args);

}  // namespace zondrelctl
