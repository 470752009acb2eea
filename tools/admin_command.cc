#include "tools/admin_command.h"

#include <iostream>

#include "config/admin_password.h"
#include "config/cp_registry.h"
#include "platform/system.h"

namespace zondrelctl {

int RunAdminCommand(const std::vector<std::string>& args) {
  if (args.size() != 2 || args[0] != "password" || args[1].empty() || args[1].find(':') != std::string::npos) {
    std::cerr << "ERROR: usage: zondrelctl admin password USER (the password is read from standard input;\n"
                 "       a user name has no colon)\n";
    return 1;
  }
  std::cerr << "Password for " << args[1] << ": " << std::flush;
  std::string password;
  if (!platform::ReadSecretLine(&password)) {
    std::cerr << "ERROR: no password given\n";
    return 1;
  }
  CPRegistry settings;
  // An empty password asks nothing of the browsers: it is the same as none.
  settings.SetAdminPassword(password.empty() ? "" : admin_password::Store(args[1] + ":" + password).c_str());
  std::cout << (password.empty() ? "The administration server asks for no password now.\n"
                                 : "The administration password is set.\n");
  return 0;
}

}  // namespace zondrelctl
