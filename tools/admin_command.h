// "zondrelctl admin password USER": sets the administration web server's
// password (Admin\AdminPassword) to the stored form of "USER:password", the
// password read from standard input (not shown on a terminal).
#pragma once

#include <string>
#include <vector>

namespace zondrelctl {

// `args` are the words after "admin". Returns the exit code.
int RunAdminCommand(const std::vector<std::string>& args);

}  // namespace zondrelctl
