// zondrelctl perf: the relay's performance counters, read as a performance
// monitor reads them: through the library that the service's Performance
// key names.
#pragma once

#include <string>
#include <vector>

namespace zondrelctl {

// `args` are the words after "perf". Returns the exit code.
int RunPerfCommand(const std::vector<std::string>& args);

}  // namespace zondrelctl
