// "zondrelctl reg ...": add, query, delete, import and export with the
// command syntax operators know from the classic registry tool.
#pragma once

#include <string>
#include <vector>

namespace zondrelctl {

// `args` are the words after "reg". Returns the process exit code.
int RunRegCommand(const std::vector<std::string>& args);

}  // namespace zondrelctl
