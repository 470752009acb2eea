// "zondrelctl eventlog [--json]": the machine's Application log, oldest
// first, each record with its message text.
#pragma once

#include <string>
#include <vector>

namespace zondrelctl {

// `args` are the words after "eventlog". Returns the exit code.
int RunEventLogCommand(const std::vector<std::string>& args);

}  // namespace zondrelctl
