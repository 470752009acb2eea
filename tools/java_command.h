// "zondrelctl java COMMAND": a small client of the relay's Java
// administration protocol (Admin\JavaPort), for scripts and for a first
// look: read and replace the flash file, the corporate channel and the
// redirection table.
#pragma once

#include <string>
#include <vector>

namespace zondrelctl {

// `args` are the words after "java". Returns the exit code.
int RunJavaCommand(const std::vector<std::string>& args);

}  // namespace zondrelctl
