#include "service/nt_service.h"

#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "base/trace_bits.h"
#include "platform/event_log.h"
#include "platform/registry.h"
#include "platform/sync.h"
#include "platform/system.h"
#include "platform/trace.h"
#include "regwrap/qr_registry.h"

namespace {

constexpr std::size_t kNameLimit = 63;
constexpr const char* kServicesKey = "SYSTEM\\CurrentControlSet\\Services\\";

// Closes a service-control handle when it goes out of scope.
struct ScHandle {
  platform::SC_HANDLE handle;
  explicit ScHandle(platform::SC_HANDLE h) : handle(h) {}
  ~ScHandle() {
    if (handle != nullptr) platform::CloseServiceHandle(handle);
  }
  ScHandle(const ScHandle&) = delete;
  ScHandle& operator=(const ScHandle&) = delete;
  explicit operator bool() const { return handle != nullptr; }
};

}  // namespace

CNTService* CNTService::m_pThis = nullptr;

CNTService::CNTService(const char* serviceName, const char* displayName)
    : m_szServiceName(std::string(serviceName).substr(0, kNameLimit)),
      m_szDisplayName(std::string(displayName).substr(0, kNameLimit)) {
  m_pThis = this;
  m_Status.dwServiceType = platform::SERVICE_WIN32_OWN_PROCESS;
  m_Status.dwCurrentState = platform::SERVICE_STOPPED;
  m_Status.dwControlsAccepted = platform::SERVICE_ACCEPT_STOP;
}

CNTService::~CNTService() {
  trace(trace_bits::kService, "CNTService::~CNTService()\n");
  if (m_pThis == this) m_pThis = nullptr;
}

void CNTService::Print(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::vprintf(format, args);
  va_end(args);
  std::fflush(stdout);
}

platform::SERVICE_STATUS CNTService::Status() {
  std::lock_guard<std::recursive_mutex> hold(m_StatusLock);
  return m_Status;
}

DWORD CNTService::ExitCode() { return Status().dwWin32ExitCode; }

// --- command line -----------------------------------------------------------------

int CNTService::ParseStandardArgs(int argc, char** argv) {
  if (argc < 2 || argv[1] == nullptr) return 0;
  const char* arg = argv[1];
  if ((arg[0] != '-' && arg[0] != '/') || std::strlen(arg) != 2) return 0;
  const char* name = m_szServiceName.c_str();
  switch (std::tolower(static_cast<unsigned char>(arg[1]))) {
    case '?':
    case 'h':
      Print("%s\n", name);
      Print("%s [ -? | -v | -d | -i | -u ]\n", argv[0]);
      Print("  -? : Help (This message)\n");
      Print("  -v : Print version number\n");
      Print("  -d : Run in debug mode (stand alone)\n");
      Print("  -i : Install service in registry\n");
      Print("  -i filename.key : Install service and\n");
      Print("       copy registry values from .key file (unimplemented)\n");
      Print("  -u : Uninstall service\n");
      Print("  -s : Start service\n");
      Print("  -e : End (Stop) service\n");
      Print("  -q : Query service (unimplemented)\n");
      Print("  -c n : Send control value (unimplemented)\n");
      return 1;
    case 'v':
      Print("%s Version %d.%d\n", name, m_iMajorVersion, m_iMinorVersion);
      Print("The service is %s installed\n", IsInstalled() ? "currently" : "not");
      return 1;
    case 'd':
      StartDebugging();
      return 1;
    case 'i':
      if (IsInstalled()) {
        Print("%s is already installed\n", name);
      } else if (Install()) {
        Print("%s installed\n", name);
      } else {
        Print("%s failed to install. Error %d\n", name, static_cast<int>(platform::GetLastError()));
      }
      return 1;
    case 'u':
      if (!IsInstalled()) {
        Print("%s is not installed\n", name);
      } else if (Uninstall()) {
        Print("%s removed. (You must delete the file (%s) yourself.)\n", name,
              platform::GetModuleFileName().c_str());
      } else {
        Print("Could not remove %s. Error %d\n", name, static_cast<int>(platform::GetLastError()));
      }
      return 1;
    case 's': {
      ScHandle manager(platform::OpenSCManager(nullptr, platform::SC_MANAGER_ALL_ACCESS));
      if (!manager) {
        Print("Couldn't open Service Control Manager (SCM)\n");
        return 1;
      }
      ScHandle query(platform::OpenService(manager.handle, m_szServiceName, platform::SERVICE_QUERY_STATUS));
      platform::SERVICE_STATUS status;
      if (!query || !platform::QueryServiceStatus(query.handle, &status)) {
        Print("Couldn't inquire service [%s] status\n", name);
        return 1;
      }
      if (status.dwCurrentState != platform::SERVICE_STOPPED) {
        Print("Cannot start service [%s]; it is not stopped!\n", name);
        return 1;
      }
      ScHandle service(platform::OpenService(manager.handle, m_szServiceName, platform::SERVICE_START));
      if (service && platform::StartService(service.handle)) {
        Print("Starting service [%s]...\n", name);
      } else {
        Print("Unable to start service [%s]\n", name);
      }
      return 1;
    }
    case 'e': {
      ScHandle manager(platform::OpenSCManager(nullptr, platform::SC_MANAGER_ALL_ACCESS));
      ScHandle service(manager ? platform::OpenService(manager.handle, m_szServiceName, platform::SERVICE_STOP)
                               : nullptr);
      platform::SERVICE_STATUS status;
      if (service && platform::ControlService(service.handle, platform::SERVICE_CONTROL_STOP, &status)) {
        Print("Service Stopped\n");
      } else {
        Print("Unable to stop service\n");
      }
      return 1;
    }
    case 'q':
      return 1;
    default:
      return 0;
  }
}

// --- installation ------------------------------------------------------------------

int CNTService::IsInstalled() {
  ScHandle manager(platform::OpenSCManager(nullptr, platform::SC_MANAGER_ALL_ACCESS));
  if (!manager) return 0;
  ScHandle service(platform::OpenService(manager.handle, m_szServiceName, platform::SERVICE_QUERY_CONFIG));
  return service ? 1 : 0;
}

int CNTService::Install() {
  ScHandle manager(platform::OpenSCManager(nullptr, platform::SC_MANAGER_ALL_ACCESS));
  if (!manager) return 0;
  std::string binary = "\"" + platform::GetModuleFileName() + "\"";
  {
    ScHandle service(platform::CreateService(manager.handle, m_szServiceName, m_szDisplayName,
                                             platform::SERVICE_ALL_ACCESS, platform::SERVICE_WIN32_OWN_PROCESS,
                                             platform::SERVICE_DEMAND_START, platform::SERVICE_ERROR_NORMAL,
                                             binary));
    if (!service) return 0;
  }
  QRRegistry performance(QRRegistry(platform::HKEY_LOCAL_MACHINE),
                         (kServicesKey + m_szServiceName + "\\Performance").c_str());
  if (performance.Open(1)) performance.Close(0);
  platform::CEventLog source({}, m_szEventMessageFile);
  source.Register(15, 100);
  LogEvent<events::kServiceInstalled>(m_szServiceName.c_str());
  return 1;
}

int CNTService::Uninstall() {
  int result = 0;
  {
    ScHandle manager(platform::OpenSCManager(nullptr, platform::SC_MANAGER_ALL_ACCESS));
    if (!manager) return 0;
    ScHandle service(platform::OpenService(manager.handle, m_szServiceName, platform::DELETE_ACCESS));
    if (service && platform::DeleteService(service.handle)) {
      LogEvent<events::kServiceRemoved>(m_szServiceName.c_str());
      result = 1;
    } else {
      DWORD error = platform::GetLastError();
      LogEvent<events::kServiceNotRemoved>(m_szServiceName.c_str());
      platform::SetLastError(error);
    }
  }
  DWORD error = platform::GetLastError();
  platform::CEventLog source({}, m_szEventMessageFile);
  source.Deregister();
  platform::SetLastError(error);
  return result;
}

// --- running as a service ----------------------------------------------------------

int CNTService::StartService() {
  m_dwMainThreadId = platform::GetCurrentThreadId();
  trace(trace_bits::kService, "NTService: Calling StartServiceCtrlDispatcher()\n");
  if (!platform::StartServiceCtrlDispatcher(m_szServiceName, ServiceMain) && platform::GetLastError() != 0) {
    // Started from a console rather than by the service control.
    StartDebugging();
  }
  trace(trace_bits::kService, "NTService: Returned from StartServiceCtrlDispatcher()\n");
  return 1;
}

void CNTService::ServiceMain(DWORD argc, char** argv) {
  CNTService* self = m_pThis;
  platform::SetCurrentDirectory(platform::GetModuleDirectory());
  self->m_dwServiceThreadId = platform::GetCurrentThreadId();
  trace(trace_bits::kService, "NTService: Entering CNTService::ServiceMain()\n");
  {
    std::lock_guard<std::recursive_mutex> hold(self->m_StatusLock);
    self->m_Status.dwCurrentState = platform::SERVICE_START_PENDING;
  }
  if (!self->m_bDebugging) {
    self->m_hServiceStatus = platform::RegisterServiceCtrlHandler(self->m_szServiceName, Handler);
    if (self->m_hServiceStatus == nullptr) {
      self->LogEvent<events::kServiceNoCtrlHandler>();
      return;
    }
  }
  if (self->Initialize()) {
    self->m_bIsRunning = 1;
    {
      std::lock_guard<std::recursive_mutex> hold(self->m_StatusLock);
      self->m_Status.dwWin32ExitCode = 0;
      // A stop may already be under way: its checkpoints are not reset.
      if (self->m_Status.dwCurrentState == platform::SERVICE_RUNNING) {
        self->m_Status.dwCheckPoint = 0;
        self->m_Status.dwWaitHint = 0;
      }
    }
    self->Run();
  }
  trace(trace_bits::kService, "NTService: Leaving CNTService::ServiceMain()\n");
  self->m_bServiceMainFinished = 1;
}

int CNTService::Initialize() {
  trace(trace_bits::kService, "NTService: Entering CNTService::Initialize()\n");
  SetStatus(platform::SERVICE_START_PENDING, 0, 0, nullptr);
  int ok = OnInit();
  DWORD error = platform::GetLastError();
  {
    std::lock_guard<std::recursive_mutex> hold(m_StatusLock);
    m_Status.dwWin32ExitCode = error;
  }
  if (!ok) {
    LogEvent<events::kServiceInitFailed>();
    SetStatus(platform::SERVICE_STOPPED, 0, 0, "Stopped");
    return 0;
  }
  LogEvent<events::kServiceStarted>();
  SetStatus(platform::SERVICE_RUNNING, 0, 0, "Running");
  trace(trace_bits::kService, "NTService: Leaving CNTService::Initialize()\n");
  return 1;
}

void CNTService::Handler(DWORD control) {
  CNTService* self = m_pThis;
  if (self == nullptr) return;
  std::lock_guard<std::mutex> serial(self->m_HandlerLock);
  self->m_dwHandlerThreadId = platform::GetCurrentThreadId();
  trace(trace_bits::kService, "CNTService::Handler(%lu)\n", static_cast<unsigned long>(control));
  switch (control) {
    case platform::SERVICE_CONTROL_STOP:
      self->SetStatus(platform::SERVICE_STOP_PENDING, 0, 0, "Stop Pending");
      self->OnStop();
      self->m_bIsRunning = 0;
      {
        std::lock_guard<std::recursive_mutex> hold(self->m_StatusLock);
        self->m_Status.dwCurrentState = platform::SERVICE_STOPPED;
        // Counted up to 0 by the closing report below; a stopped service
        // has nothing to wait for.
        self->m_Status.dwCheckPoint = 0xFFFFFFFF;
        self->m_Status.dwWaitHint = 0;
      }
      self->LogEvent<events::kServiceStopped>();
      break;
    case platform::SERVICE_CONTROL_PAUSE:
      self->OnPause();
      break;
    case platform::SERVICE_CONTROL_CONTINUE:
      self->OnContinue();
      break;
    case platform::SERVICE_CONTROL_INTERROGATE:
      self->OnInterrogate();
      break;
    case platform::SERVICE_CONTROL_SHUTDOWN:
      self->SetStatus(platform::SERVICE_STOP_PENDING, 0, 0, "Stop Pending");
      self->OnShutdown();
      {
        std::lock_guard<std::recursive_mutex> hold(self->m_StatusLock);
        self->m_Status.dwCurrentState = platform::SERVICE_STOPPED;
      }
      break;
    default:
      if (control < 128 || !self->OnUserControl(control)) {
        self->LogEvent<events::kServiceBadRequest>();
      }
      break;
  }
  self->SetStatus(self->Status().dwCurrentState, 0, 0, nullptr);
  platform::Sleep(2000);
}

// --- status ------------------------------------------------------------------------

void CNTService::SetStatus(DWORD state, const char* text) { SetStatus(state, 0, 0, text); }

void CNTService::SetStatus(DWORD state, DWORD checkpoint, DWORD waitHint, const char* text) {
  std::lock_guard<std::recursive_mutex> hold(m_StatusLock);
  if (state == m_Status.dwCurrentState) {
    if (checkpoint == 0) checkpoint = m_Status.dwCheckPoint + 1;
    if (waitHint == 0) waitHint = m_Status.dwWaitHint;
  }
  trace(trace_bits::kService, "CNTService::SetStatus(%lu, %lu)\n", static_cast<unsigned long>(state),
        static_cast<unsigned long>(checkpoint));
  m_Status.dwCurrentState = state;
  m_Status.dwCheckPoint = checkpoint;
  m_Status.dwWaitHint = waitHint;
  m_Status.dwControlsAccepted = state == platform::SERVICE_START_PENDING ? 0 : m_dwControlsAccepted;
  WriteStatusValue(state, checkpoint, text);
  if (m_bDebugging) {
    Print("Service status = (%lu, %lu) %s\n", static_cast<unsigned long>(state),
          static_cast<unsigned long>(checkpoint), text != nullptr ? text : "");
  } else {
    platform::SetServiceStatus(m_hServiceStatus, m_Status);
  }
}

// ServiceStatus: one character holding the state, one holding
// (checkpoint + 1) mod 256, then the text. Removed when stopped.
void CNTService::WriteStatusValue(DWORD state, DWORD checkpoint, const char* text) {
  QRRegistry key(QRRegistry(platform::HKEY_LOCAL_MACHINE), (kServicesKey + m_szServiceName).c_str());
  if (state == platform::SERVICE_STOPPED) {
    key.DeleteValue("ServiceStatus");
    return;
  }
  std::string value;
  value += static_cast<char>(state);
  value += static_cast<char>((checkpoint + 1) % 256);
  if (text != nullptr) value += text;
  value += '\0';
  key.SetValue("ServiceStatus", reinterpret_cast<const BYTE*>(value.data()), static_cast<DWORD>(value.size()),
               platform::REG_SZ);
}

// --- hooks ----------------------------------------------------------------------------

void CNTService::Run() {
  trace(trace_bits::kService, "NTService: Entering CNTService::Run()\n");
  while (m_bIsRunning) {
    trace(trace_bits::kService, "NTService: Sleeping...\n");
    platform::Sleep(5000);
  }
  trace(trace_bits::kService, "NTService: Leaving CNTService::Run()\n");
}

int CNTService::OnInit() {
  trace(trace_bits::kService, "CNTService::OnInit()\n");
  return 1;
}

void CNTService::OnStop() { trace(trace_bits::kService, "CNTService::OnStop()\n"); }
void CNTService::OnInterrogate() { trace(trace_bits::kService, "CNTService::OnInterrogate()\n"); }
void CNTService::OnPause() { trace(trace_bits::kService, "CNTService::OnPause()\n"); }
void CNTService::OnContinue() { trace(trace_bits::kService, "CNTService::OnContinue()\n"); }
void CNTService::OnShutdown() { trace(trace_bits::kService, "CNTService::OnShutdown()\n"); }

int CNTService::OnUserControl(DWORD code) {
  trace(trace_bits::kService, "CNTService::OnUserControl(%8.8lXH)\n", static_cast<unsigned long>(code));
  return 0;
}

// --- events and debug output ----------------------------------------------------------

void CNTService::LogEvent(WORD type, DWORD eventId, const char* s1, const char* s2, const char* s3) {
  std::vector<std::string> strings;
  if (s1 != nullptr) {
    strings.emplace_back(s1);
    if (s2 != nullptr) {
      strings.emplace_back(s2);
      if (s3 != nullptr) strings.emplace_back(s3);
    }
  }
  platform::CEventLog log;
  log.ReportArray(type, 1, eventId, strings);
}

void CNTService::DebugMsg(const char* format, ...) {
  char line[1024];
  int prefix = std::snprintf(line, sizeof(line), "[%s](%lu): ", m_szServiceName.c_str(),
                             static_cast<unsigned long>(platform::GetCurrentThreadId()));
  if (prefix < 0) return;
  std::size_t used = std::min(static_cast<std::size_t>(prefix), sizeof(line) - 1);
  va_list args;
  va_start(args, format);
  int n = std::vsnprintf(line + used, sizeof(line) - used - 1, format, args);
  va_end(args);
  if (n > 0) used = std::min(used + static_cast<std::size_t>(n), sizeof(line) - 2);
  line[used] = '\n';
  line[used + 1] = '\0';
  platform::OutputDebugString(line);
}

// --- debug mode -------------------------------------------------------------------------

namespace {

std::atomic<bool> g_console_stop{false};

void StopFromSignal(int) {
  // A termination signal in debug mode acts as the menu's stop.
  if (g_console_stop.exchange(true)) return;
  CNTService::WaitWhileStarting();
  CNTService::Handler(platform::SERVICE_CONTROL_STOP);
}

}  // namespace

// Like the service control, the console hands controls over only once the
// service has finished starting.
void CNTService::WaitWhileStarting() {
  CNTService* self = m_pThis;
  // Before the service main runs the state is still the initial "stopped",
  // so only running or a finished service main end the wait.
  while (self != nullptr && !self->m_bServiceMainFinished &&
         self->Status().dwCurrentState != platform::SERVICE_RUNNING) {
    platform::Sleep(50);
  }
}

DWORD CNTService::DebugMain(void*) {
  ServiceMain(0, nullptr);
  return 0;
}

void CNTService::StartDebugging() {
  m_dwMainThreadId = platform::GetCurrentThreadId();
  m_bDebugging = 1;
  trace(trace_bits::kService, "NTService:[-d] Debugging Mode\n");
  platform::WatchTerminationSignals(StopFromSignal);
  std::unique_ptr<platform::Thread> debug_thread = platform::Thread::Start([] { return DebugMain(nullptr); });

  Print("%s Version %d.%d\n", m_szServiceName.c_str(), m_iMajorVersion, m_iMinorVersion);
  Print("The service is %s installed\n", IsInstalled() ? "currently" : "not");
  Print("You are currently debugging the service\n");
  Print("Menu: (For simulated SCM functions)\n");
  Print("  s - Simulated 'Stop Service'\n");
  Print("  p - Simulated 'Pause Service'\n");
  Print("  c - Simulated 'Continue Service'\n");
  Print("  i - Simulated 'Interrogate Service'\n");
  Print("  d - Simulated 'shutDown Service'\n");
  Print("  any number - Simulates sending that number to Handler\n");

  // Without a console (input at its end) only a termination signal stops
  // the server.
  std::string line;
  while (!g_console_stop) {
    int got = platform::ReadConsoleLine(&line, 500);
    if (got < 0) break;
    if (got == 0) continue;
    DWORD code = static_cast<DWORD>(std::atol(line.c_str()));
    if (code == 0) {
      switch (std::tolower(static_cast<unsigned char>(line.empty() ? '\0' : line[0]))) {
        case 's': code = platform::SERVICE_CONTROL_STOP; break;
        case 'p': code = platform::SERVICE_CONTROL_PAUSE; break;
        case 'c': code = platform::SERVICE_CONTROL_CONTINUE; break;
        case 'i': code = platform::SERVICE_CONTROL_INTERROGATE; break;
        case 'd': code = platform::SERVICE_CONTROL_SHUTDOWN; break;
        default: code = 0; break;
      }
    }
    WaitWhileStarting();
    if (code == platform::SERVICE_CONTROL_STOP) {
      if (g_console_stop.exchange(true)) break;
      Handler(code);
      break;
    }
    Handler(code);
  }
  while (!m_bServiceMainFinished) platform::Sleep(1000);
}
