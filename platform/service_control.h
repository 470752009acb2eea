// The machine's service control: a database of installed services (registry
// keys under SYSTEM\CurrentControlSet\Services\<name>), starting a service's
// program as a detached service process, delivering controls to the running
// service's control handler and reporting the status it last set.
//
// Calls report failure as false or null and leave the reason in the last
// error, like the rest of the platform.
#pragma once

#include <string>

#include "platform/types.h"

namespace platform {

struct ScObject;          // opaque: the manager or one service
using SC_HANDLE = ScObject*;
struct ServiceStatusSlot;  // opaque: a running service's status reporting
using SERVICE_STATUS_HANDLE = ServiceStatusSlot*;

// Service types, start types, error control.
constexpr DWORD SERVICE_WIN32_OWN_PROCESS = 0x10;
constexpr DWORD SERVICE_WIN32_SHARE_PROCESS = 0x20;
constexpr DWORD SERVICE_DEMAND_START = 3;
constexpr DWORD SERVICE_ERROR_NORMAL = 1;

// States.
constexpr DWORD SERVICE_STOPPED = 1;
constexpr DWORD SERVICE_START_PENDING = 2;
constexpr DWORD SERVICE_STOP_PENDING = 3;
constexpr DWORD SERVICE_RUNNING = 4;

// Controls.
constexpr DWORD SERVICE_CONTROL_STOP = 1;
constexpr DWORD SERVICE_CONTROL_PAUSE = 2;
constexpr DWORD SERVICE_CONTROL_CONTINUE = 3;
constexpr DWORD SERVICE_CONTROL_INTERROGATE = 4;
constexpr DWORD SERVICE_CONTROL_SHUTDOWN = 5;
constexpr DWORD SERVICE_ACCEPT_STOP = 1;
constexpr DWORD SERVICE_ACCEPT_SHUTDOWN = 4;

// Access rights (accepted and kept; the machine has a single user).
constexpr DWORD SC_MANAGER_ALL_ACCESS = 0xF003F;
constexpr DWORD SERVICE_QUERY_CONFIG = 0x0001;
constexpr DWORD SERVICE_QUERY_STATUS = 0x0004;
constexpr DWORD SERVICE_START = 0x0010;
constexpr DWORD SERVICE_STOP = 0x0020;
constexpr DWORD SERVICE_USER_DEFINED_CONTROL = 0x0100;
constexpr DWORD SERVICE_ALL_ACCESS = 0xF01FF;
constexpr DWORD DELETE_ACCESS = 0x10000;

struct SERVICE_STATUS {
  DWORD dwServiceType = 0;
  DWORD dwCurrentState = 0;
  DWORD dwControlsAccepted = 0;
  DWORD dwWin32ExitCode = 0;
  DWORD dwServiceSpecificExitCode = 0;
  DWORD dwCheckPoint = 0;
  DWORD dwWaitHint = 0;
};

// --- the controlling side ---------------------------------------------------

// `machine` null, empty or this machine's name.
SC_HANDLE OpenSCManager(const char* machine, DWORD access);
SC_HANDLE OpenService(SC_HANDLE manager, const std::string& name, DWORD access);
// `binaryPath` may be enclosed in double quotes; arguments after it are passed
// to the program.
SC_HANDLE CreateService(SC_HANDLE manager, const std::string& name,
                        const std::string& displayName, DWORD access, DWORD serviceType,
                        DWORD startType, DWORD errorControl, const std::string& binaryPath);
bool DeleteService(SC_HANDLE service);
bool CloseServiceHandle(SC_HANDLE handle);

// Starts the service's program detached (its own session, standard input from
// /dev/null, output to the service's log file under the machine root) and
// returns once it has connected its control dispatcher.
bool StartService(SC_HANDLE service);
// Delivers a control to the running service's handler and returns the status
// the service reports after it. False with kErrorServiceNotActive when the
// service does not run.
bool ControlService(SC_HANDLE service, DWORD control, SERVICE_STATUS* status);
// The status the service last reported; stopped when its process is gone.
bool QueryServiceStatus(SC_HANDLE service, SERVICE_STATUS* status);

// --- the service's side -----------------------------------------------------

using ServiceMainFunction = void (*)(DWORD argc, char** argv);
using HandlerFunction = void (*)(DWORD control);

// Connects this process to the service control and runs its dispatcher:
// starts `serviceMain` on a new thread and calls the registered handler for
// every control delivered (SIGTERM and SIGINT count as the stop control), on
// the calling thread. Returns true once the service has reported stopped and
// its main function has returned. Fails at once with
// kErrorFailedServiceControllerConnect in a process that the service control
// did not start (ZONDREL_SERVICE names the service in the process it starts;
// a service manager such as systemd may set it too).
bool StartServiceCtrlDispatcher(const std::string& serviceName, ServiceMainFunction serviceMain);
SERVICE_STATUS_HANDLE RegisterServiceCtrlHandler(const std::string& serviceName,
                                                  HandlerFunction handler);
bool SetServiceStatus(SERVICE_STATUS_HANDLE handle, const SERVICE_STATUS& status);

// Blocks SIGTERM and SIGINT in the calling thread (and the threads it starts
// later) and calls `onSignal` on a watcher thread when one arrives. For
// programs that are not run by the dispatcher (console debug mode).
void WatchTerminationSignals(void (*onSignal)(int signal));

}  // namespace platform
