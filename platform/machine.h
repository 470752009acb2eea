// "The machine": one directory that holds everything a machine-wide facility
// keeps (registry, event log, named events, shared memory, service database).
// Two processes with the same root see the same machine.
#pragma once

#include <string>

namespace platform {

// The machine root: $ZONDREL_ROOT, or /var/lib/zondrel when unset. Created on
// first use. The value is read once per process.
const std::string& MachineRoot();

// A directory below the machine root (created when missing), ending in "/".
std::string MachineDirectory(const char* name);

}  // namespace platform
