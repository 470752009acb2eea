// zondrelctl: the machine's command line tool for the registry, named events
// and the event log of the machine named by ZONDREL_ROOT.
#include <iostream>
#include <string>
#include <vector>

#include "tools/admin_command.h"
#include "tools/event_command.h"
#include "tools/java_command.h"
#include "tools/eventlog_command.h"
#include "tools/perf_command.h"
#include "tools/reg_command.h"

namespace {

constexpr const char* kUsage = R"(Usage: zondrelctl COMMAND ...
The machine is the directory named by ZONDREL_ROOT (/var/lib/zondrel when unset).

  zondrelctl reg add KEY [/v NAME | /ve] [/t TYPE] [/s SEP] [/d DATA] [/f]
      Creates KEY and, with /v or /ve (the default value), sets a value.
      TYPE: REG_SZ (default), REG_EXPAND_SZ, REG_MULTI_SZ, REG_DWORD, REG_QWORD,
      REG_BINARY, REG_NONE. DWORD/QWORD data is decimal or 0x hex; binary data
      is hex digits ("01ab"); REG_MULTI_SZ strings are separated by the two
      characters \0 ("a\0b") or by the one character given with /s.
      An existing value is always overwritten: there is no prompt, standard
      input is never read, and /f is accepted for compatibility.
  zondrelctl reg query KEY [/v NAME | /ve] [/s]
      Prints KEY, then "    NAME    TYPE    DATA" lines, then the subkeys;
      /s shows every key below KEY. Exit 1 when the key or value is missing.
  zondrelctl reg delete KEY [/v NAME | /ve | /va] /f
      Deletes KEY with all its subkeys, one value, or all of KEY's values
      (/va). /f is required because there is no confirmation prompt.
  zondrelctl reg import FILE
      Applies a .reg file ("REGEDIT4" or "Windows Registry Editor Version 5.00";
      UTF-8 or UTF-16LE with BOM). The whole file is checked first: when it is
      malformed the error names the line and nothing is written.
  zondrelctl reg export KEY FILE [/y]
      Writes KEY and everything below it as a version 5.00 .reg file in UTF-8
      (not UTF-16) with CRLF line ends. hex(2) and hex(7) carry the stored
      bytes as they are. /y overwrites an existing FILE.
  KEY starts with HKLM, HKCU, HKU or HKCR (or HKEY_LOCAL_MACHINE, ...).

  zondrelctl event set NAME
      Sets the machine's named event NAME; exit 1 when no process holds it.
  zondrelctl eventlog [--json]
      Prints the Application event log, oldest first, with message texts;
      --json prints one JSON object per record and line.
  zondrelctl admin password USER
      Sets the administration web server's password for USER, read from
      standard input (one line, not shown on a terminal); an empty line
      removes the password.
  zondrelctl java [--host ADDRESS] [--port PORT] COMMAND [FILE]
      Talks to a relay's Java administration port (Admin\JavaPort of this
      machine unless --port; 127.0.0.1 unless --host). COMMAND: get-flash,
      put-flash FILE, get-corp, put-corp FILE (groups inline), get-groups,
      animations, corp-enabled, get-redirect, put-redirect FILE. What the
      relay sends goes to standard output.
  zondrelctl perf [--interval S] [--count N] [--json] [--prometheus]
      Shows the running relay's thirteen performance counters every S seconds
      (default 1), N times (default: until interrupted), read through the
      library the service's Performance key names (installed by zondrel -i);
      accepted connections as a rate per second. --json prints one object per
      sample and line; --prometheus prints the counters and the Statistics
      values once in the Prometheus text format.
  zondrelctl --help
      Prints this text.

Exit status: 0 on success, 1 on any error (the message goes to standard error).
)";

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty() || args[0] == "--help" || args[0] == "-h" || args[0] == "/?") {
    std::cout << kUsage;
    return 0;
  }
  std::string command = args[0];
  args.erase(args.begin());
  if (command == "reg") return zondrelctl::RunRegCommand(args);
  if (command == "event") return zondrelctl::RunEventCommand(args);
  if (command == "eventlog") return zondrelctl::RunEventLogCommand(args);
  if (command == "admin") return zondrelctl::RunAdminCommand(args);
  if (command == "java") return zondrelctl::RunJavaCommand(args);
  if (command == "perf") return zondrelctl::RunPerfCommand(args);
  std::cerr << "ERROR: Unknown command \"" << command << "\". Type \"zondrelctl --help\" for usage.\n";
  return 1;
}
