// The service control. Installed services are registry keys; a running
// service is a process started by StartService with ZONDREL_SERVICE set,
// whose dispatcher listens on a local socket under
// <machine>/services/<name>/ and keeps the last reported status in a file
// beside it.
#include "platform/service_control.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/file.h"
#include "platform/machine.h"
#include "platform/registry.h"
#include "platform/sync.h"
#include "platform/system.h"

namespace platform {

struct ScObject {
  bool manager = false;
  std::string name;  // service name (services only)
};

struct ServiceStatusSlot {
  std::string name;
  HandlerFunction handler = nullptr;
};

namespace {

constexpr const char* kServicesKey = "SYSTEM\\CurrentControlSet\\Services\\";
constexpr DWORD kStartWaitMs = 30000;
constexpr int kControlReplyWaitMs = 120000;

// Values that make a key an installed service. The key itself may hold more
// (a Performance subkey, a status value) and outlives the service.
constexpr const char* kServiceValues[] = {"Type", "Start", "ErrorControl", "ImagePath", "DisplayName",
                                          "ObjectName"};

bool ValidServiceName(const std::string& name) {
  if (name.empty() || name.size() > 256) return false;
  for (char c : name) {
    if (c == '/' || c == '\\' || c == '\0' || c == ' ') return false;
  }
  return name != "." && name != "..";
}

std::string ServiceDirectory(const std::string& name) {
  std::string directory = MachineDirectory("services") + name;
  CreateDirectory(directory);  // may exist already
  return directory + "/";
}

std::string ServiceKeyPath(const std::string& name) { return kServicesKey + name; }

bool ReadServiceText(const std::string& name, const char* value, std::string* text) {
  HKEY key = nullptr;
  if (RegOpenKeyEx(HKEY_LOCAL_MACHINE, ServiceKeyPath(name).c_str(), KEY_READ, &key) != 0) return false;
  DWORD size = 0, type = 0;
  bool ok = RegQueryValueEx(key, value, &type, nullptr, &size) == 0 && (type == REG_SZ || type == REG_EXPAND_SZ);
  if (ok) {
    text->assign(size, '\0');
    ok = RegQueryValueEx(key, value, &type, reinterpret_cast<BYTE*>(text->data()), &size) == 0;
    text->resize(std::strlen(text->c_str()));
  }
  RegCloseKey(key);
  return ok;
}

bool ServiceInstalled(const std::string& name) {
  std::string image;
  return ReadServiceText(name, "ImagePath", &image);
}

// The start time of a process (clock ticks since boot), to tell a live
// service from a new process that happens to reuse its pid.
unsigned long long ProcessStartTime(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string content((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  auto close = content.rfind(')');
  if (close == std::string::npos) return 0;
  std::istringstream fields(content.substr(close + 2));
  std::string field;
  // Field 22 overall; the text after ") " starts at field 3.
  for (int i = 3; i <= 22 && fields >> field; ++i) {
    if (i == 22) return std::strtoull(field.c_str(), nullptr, 10);
  }
  return 0;
}

struct StoredStatus {
  pid_t pid = 0;
  unsigned long long start_time = 0;
  SERVICE_STATUS status;
};

bool WriteStatusFile(const std::string& name, const StoredStatus& stored) {
  const SERVICE_STATUS& s = stored.status;
  char text[256];
  const int length = std::snprintf(text, sizeof(text), "%d %llu %u %u %u %u %u %u %u\n", static_cast<int>(stored.pid),
                                   stored.start_time, s.dwServiceType, s.dwCurrentState, s.dwControlsAccepted,
                                   s.dwWin32ExitCode, s.dwServiceSpecificExitCode, s.dwCheckPoint, s.dwWaitHint);
  if (length <= 0 || static_cast<std::size_t>(length) >= sizeof(text)) return false;
  // Another process may read the status at any moment.
  const std::string_view contents(text, static_cast<std::size_t>(length));
  return ReplaceFileContents(ServiceDirectory(name) + "status", contents);
}

bool ReadStatusFile(const std::string& name, StoredStatus* stored) {
  FILE* file = std::fopen((ServiceDirectory(name) + "status").c_str(), "r");
  if (file == nullptr) return false;
  int pid = 0;
  SERVICE_STATUS& s = stored->status;
  int fields = std::fscanf(file, "%d %llu %u %u %u %u %u %u %u", &pid, &stored->start_time, &s.dwServiceType,
                           &s.dwCurrentState, &s.dwControlsAccepted, &s.dwWin32ExitCode,
                           &s.dwServiceSpecificExitCode, &s.dwCheckPoint, &s.dwWaitHint);
  std::fclose(file);
  stored->pid = pid;
  return fields == 9;
}

bool ProcessAlive(const StoredStatus& stored) {
  if (stored.pid <= 0) return false;
  if (::kill(stored.pid, 0) != 0 && errno == ESRCH) return false;
  return ProcessStartTime(stored.pid) == stored.start_time;
}

// The status of a service: what its live process last reported, else stopped.
SERVICE_STATUS CurrentStatus(const std::string& name, bool* running, pid_t* pid = nullptr) {
  StoredStatus stored;
  *running = ReadStatusFile(name, &stored) && ProcessAlive(stored) &&
             stored.status.dwCurrentState != SERVICE_STOPPED;
  if (pid != nullptr) *pid = stored.pid;
  if (*running) return stored.status;
  SERVICE_STATUS stopped;
  stopped.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  stopped.dwCurrentState = SERVICE_STOPPED;
  if (stored.pid != 0) stopped.dwWin32ExitCode = stored.status.dwWin32ExitCode;
  return stopped;
}

std::vector<std::string> SplitCommandLine(const std::string& line) {
  std::vector<std::string> parts;
  std::string current;
  bool quoted = false, any = false;
  for (char c : line) {
    if (c == '"') {
      quoted = !quoted;
      any = true;
    } else if (c == ' ' && !quoted) {
      if (any) parts.push_back(current);
      current.clear();
      any = false;
    } else {
      current += c;
      any = true;
    }
  }
  if (any) parts.push_back(current);
  return parts;
}

sockaddr_un ControlAddress(const std::string& name, bool* fits) {
  sockaddr_un address {};
  address.sun_family = AF_UNIX;
  std::string path = ServiceDirectory(name) + "control.sock";
  *fits = path.size() < sizeof(address.sun_path);
  if (*fits) std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  return address;
}

bool ReadFully(int fd, void* data, std::size_t size, int timeoutMs) {
  auto* p = static_cast<char*>(data);
  while (size > 0) {
    pollfd wait {fd, POLLIN, 0};
    int ready = ::poll(&wait, 1, timeoutMs);
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return false;
    ssize_t n = ::read(fd, p, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

bool WriteFully(int fd, const void* data, std::size_t size) {
  const auto* p = static_cast<const char*>(data);
  while (size > 0) {
    ssize_t n = ::send(fd, p, size, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

// --- the service process's side --------------------------------------------------

struct DispatcherState {
  std::mutex lock;
  std::string name;
  ServiceStatusSlot slot;
  SERVICE_STATUS status;
  bool registered = false;
  std::atomic<bool> main_done{false};
};

DispatcherState& Dispatcher() {
  static DispatcherState state;
  return state;
}

void PublishStatus(const std::string& name, const SERVICE_STATUS& status) {
  StoredStatus stored;
  stored.pid = ::getpid();
  stored.start_time = ProcessStartTime(stored.pid);
  stored.status = status;
  WriteStatusFile(name, stored);
}

// Runs one control through the registered handler; the reply is an error
// code followed by the status after the control.
void ServeControl(int connection) {
  DWORD control = 0;
  if (!ReadFully(connection, &control, sizeof(control), 5000)) return;
  DispatcherState& d = Dispatcher();
  HandlerFunction handler = nullptr;
  DWORD error = 0;
  {
    std::lock_guard<std::mutex> hold(d.lock);
    handler = d.registered ? d.slot.handler : nullptr;
    bool user = control >= 128 && control <= 255;
    if (handler == nullptr) {
      error = kErrorServiceCannotAcceptCtrl;
    } else if (control == SERVICE_CONTROL_STOP && (d.status.dwControlsAccepted & SERVICE_ACCEPT_STOP) == 0) {
      error = kErrorServiceCannotAcceptCtrl;
    } else if (!user && control != SERVICE_CONTROL_STOP && control != SERVICE_CONTROL_INTERROGATE &&
               control != SERVICE_CONTROL_PAUSE && control != SERVICE_CONTROL_CONTINUE &&
               control != SERVICE_CONTROL_SHUTDOWN) {
      error = kErrorInvalidServiceControl;
    }
  }
  if (error == 0) handler(control);
  SERVICE_STATUS after;
  {
    std::lock_guard<std::mutex> hold(d.lock);
    after = d.status;
  }
  DWORD reply[8] = {error,
                    after.dwServiceType,
                    after.dwCurrentState,
                    after.dwControlsAccepted,
                    after.dwWin32ExitCode,
                    after.dwServiceSpecificExitCode,
                    after.dwCheckPoint,
                    after.dwWaitHint};
  WriteFully(connection, reply, sizeof(reply));
}

}  // namespace

// --- the controlling side ---------------------------------------------------------

SC_HANDLE OpenSCManager(const char* machine, DWORD access) {
  if (machine != nullptr && *machine != '\0') {
    std::string name = machine;
    while (!name.empty() && name[0] == '\\') name.erase(0, 1);
    if (strcasecmp(name.c_str(), GetHostName().c_str()) != 0 && strcasecmp(name.c_str(), "localhost") != 0) {
      SetLastError(kErrorBadNetPath);
      return nullptr;
    }
  }
  auto* handle = new ScObject;
  handle->manager = true;
  SetLastError(0);
  return handle;
}

SC_HANDLE OpenService(SC_HANDLE manager, const std::string& name, DWORD access) {
  if (manager == nullptr || !manager->manager) {
    SetLastError(kErrorInvalidHandle);
    return nullptr;
  }
  if (!ValidServiceName(name)) {
    SetLastError(kErrorInvalidServiceName);
    return nullptr;
  }
  if (!ServiceInstalled(name)) {
    SetLastError(kErrorServiceDoesNotExist);
    return nullptr;
  }
  auto* handle = new ScObject;
  handle->name = name;
  SetLastError(0);
  return handle;
}

SC_HANDLE CreateService(SC_HANDLE manager, const std::string& name, const std::string& displayName,
                        DWORD access, DWORD serviceType, DWORD startType, DWORD errorControl,
                        const std::string& binaryPath) {
  if (manager == nullptr || !manager->manager) {
    SetLastError(kErrorInvalidHandle);
    return nullptr;
  }
  if (!ValidServiceName(name) || binaryPath.empty()) {
    SetLastError(kErrorInvalidServiceName);
    return nullptr;
  }
  if (ServiceInstalled(name)) {
    SetLastError(kErrorServiceExists);
    return nullptr;
  }
  HKEY key = nullptr;
  DWORD disposition = 0;
  LONG result = RegCreateKeyEx(HKEY_LOCAL_MACHINE, ServiceKeyPath(name).c_str(), KEY_ALL_ACCESS, &key,
                               &disposition);
  if (result != 0) {
    SetLastError(static_cast<DWORD>(result));
    return nullptr;
  }
  auto set_dword = [key](const char* value, DWORD data) {
    return RegSetValueEx(key, value, REG_DWORD, reinterpret_cast<const BYTE*>(&data), sizeof(data));
  };
  auto set_text = [key](const char* value, const std::string& text, DWORD type) {
    return RegSetValueEx(key, value, type, reinterpret_cast<const BYTE*>(text.c_str()),
                         static_cast<DWORD>(text.size() + 1));
  };
  // ImagePath last: it is what makes the key an installed service.
  LONG writes[] = {set_dword("Type", serviceType), set_dword("Start", startType),
                   set_dword("ErrorControl", errorControl), set_text("DisplayName", displayName, REG_SZ),
                   set_text("ObjectName", "LocalSystem", REG_SZ),
                   set_text("ImagePath", binaryPath, REG_EXPAND_SZ)};
  RegCloseKey(key);
  for (LONG w : writes) {
    if (w != 0) {
      SetLastError(static_cast<DWORD>(w));
      return nullptr;
    }
  }
  auto* handle = new ScObject;
  handle->name = name;
  SetLastError(0);
  return handle;
}

bool DeleteService(SC_HANDLE service) {
  if (service == nullptr || service->manager) {
    SetLastError(kErrorInvalidHandle);
    return false;
  }
  if (!ServiceInstalled(service->name)) {
    SetLastError(kErrorServiceMarkedForDelete);
    return false;
  }
  HKEY key = nullptr;
  LONG result = RegOpenKeyEx(HKEY_LOCAL_MACHINE, ServiceKeyPath(service->name).c_str(), KEY_ALL_ACCESS, &key);
  if (result != 0) {
    SetLastError(static_cast<DWORD>(result));
    return false;
  }
  // ImagePath first: once it is gone the service is gone.
  LONG image = RegDeleteValue(key, "ImagePath");
  for (const char* value : kServiceValues) RegDeleteValue(key, value);
  RegCloseKey(key);
  if (image != 0) {
    SetLastError(static_cast<DWORD>(image));
    return false;
  }
  SetLastError(0);
  return true;
}

bool CloseServiceHandle(SC_HANDLE handle) {
  if (handle == nullptr) {
    SetLastError(kErrorInvalidHandle);
    return false;
  }
  delete handle;
  return true;
}

bool StartService(SC_HANDLE service) {
  if (service == nullptr || service->manager) {
    SetLastError(kErrorInvalidHandle);
    return false;
  }
  std::string image;
  if (!ReadServiceText(service->name, "ImagePath", &image)) {
    SetLastError(kErrorServiceDoesNotExist);
    return false;
  }
  bool running = false;
  CurrentStatus(service->name, &running);
  if (running) {
    SetLastError(kErrorServiceAlreadyRunning);
    return false;
  }
  std::vector<std::string> argv = SplitCommandLine(ExpandEnvironmentStrings(image));
  if (argv.empty()) {
    SetLastError(kErrorFileNotFound);
    return false;
  }
  std::string directory = ServiceDirectory(service->name);
  std::remove((directory + "status").c_str());
  std::string log = directory + "output.log";

  int report[2];
  if (::pipe2(report, O_CLOEXEC) != 0) {
    SetLastError(kErrorNotEnoughMemory);
    return false;
  }
  pid_t middle = ::fork();
  if (middle < 0) {
    ::close(report[0]);
    ::close(report[1]);
    SetLastError(kErrorNotEnoughMemory);
    return false;
  }
  if (middle == 0) {
    // Detach: a new session, and the grandchild is re-parented to init.
    ::setsid();
    pid_t service_pid = ::fork();
    if (service_pid != 0) {
      int pid = static_cast<int>(service_pid);
      (void)!::write(report[1], &pid, sizeof(pid));
      ::_exit(service_pid > 0 ? 0 : 1);
    }
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    int null_in = ::open("/dev/null", O_RDONLY);
    int out = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (null_in >= 0) ::dup2(null_in, 0);
    if (out >= 0) {
      ::dup2(out, 1);
      ::dup2(out, 2);
    }
    ::setenv("ZONDREL_SERVICE", service->name.c_str(), 1);
    std::vector<char*> args;
    for (auto& a : argv) args.push_back(a.data());
    args.push_back(nullptr);
    ::execv(args[0], args.data());
    int error = errno;
    (void)!::write(report[1], &error, sizeof(error));
    ::_exit(127);
  }
  ::close(report[1]);
  int status = 0;
  while (::waitpid(middle, &status, 0) < 0 && errno == EINTR) {
  }
  int pid = 0;
  bool got_pid = ReadFully(report[0], &pid, sizeof(pid), 10000);
  int exec_error = 0;
  bool exec_failed = got_pid && ReadFully(report[0], &exec_error, sizeof(exec_error), 10000);
  ::close(report[0]);
  if (!got_pid || pid <= 0 || exec_failed) {
    SetLastError(exec_failed ? kErrorFileNotFound : kErrorServiceRequestTimeout);
    return false;
  }
  // The start has worked once the new process has connected its dispatcher.
  for (DWORD waited = 0; waited < kStartWaitMs; waited += 20) {
    StoredStatus stored;
    if (ReadStatusFile(service->name, &stored) && stored.pid == pid) {
      SetLastError(0);
      return true;
    }
    if (::kill(pid, 0) != 0 && errno == ESRCH) break;
    Sleep(20);
  }
  SetLastError(kErrorServiceRequestTimeout);
  return false;
}

bool ControlService(SC_HANDLE service, DWORD control, SERVICE_STATUS* status) {
  if (service == nullptr || service->manager) {
    SetLastError(kErrorInvalidHandle);
    return false;
  }
  bool running = false;
  SERVICE_STATUS current = CurrentStatus(service->name, &running);
  if (status != nullptr) *status = current;
  if (!running) {
    SetLastError(kErrorServiceNotActive);
    return false;
  }
  bool fits = false;
  sockaddr_un address = ControlAddress(service->name, &fits);
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (!fits || fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
    if (fd >= 0) ::close(fd);
    SetLastError(kErrorServiceNotActive);
    return false;
  }
  DWORD reply[8] = {};
  bool ok = WriteFully(fd, &control, sizeof(control)) && ReadFully(fd, reply, sizeof(reply), kControlReplyWaitMs);
  ::close(fd);
  if (!ok) {
    SetLastError(kErrorServiceRequestTimeout);
    return false;
  }
  if (status != nullptr) {
    *status = SERVICE_STATUS{reply[1], reply[2], reply[3], reply[4], reply[5], reply[6], reply[7]};
  }
  SetLastError(reply[0]);
  return reply[0] == 0;
}

bool QueryServiceStatus(SC_HANDLE service, SERVICE_STATUS* status) {
  if (service == nullptr || service->manager || status == nullptr) {
    SetLastError(kErrorInvalidHandle);
    return false;
  }
  bool running = false;
  *status = CurrentStatus(service->name, &running);
  SetLastError(0);
  return true;
}

// --- the service's side ------------------------------------------------------------

bool StartServiceCtrlDispatcher(const std::string& serviceName, ServiceMainFunction serviceMain) {
  const char* started_as = std::getenv("ZONDREL_SERVICE");
  if (started_as == nullptr || serviceName != started_as || !ValidServiceName(serviceName)) {
    SetLastError(kErrorFailedServiceControllerConnect);
    return false;
  }
  DispatcherState& d = Dispatcher();
  {
    std::lock_guard<std::mutex> hold(d.lock);
    d.name = serviceName;
    d.status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    d.status.dwCurrentState = SERVICE_START_PENDING;
  }
  // Termination signals become the stop control: block them here, before
  // any thread exists, and read them from a descriptor.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGINT);
  ::pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  int signal_fd = ::signalfd(-1, &signals, SFD_CLOEXEC);

  bool fits = false;
  sockaddr_un address = ControlAddress(serviceName, &fits);
  int listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ::unlink(address.sun_path);
  if (!fits || listener < 0 || ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
      ::listen(listener, 8) != 0) {
    if (listener >= 0) ::close(listener);
    if (signal_fd >= 0) ::close(signal_fd);
    SetLastError(kErrorFailedServiceControllerConnect);
    return false;
  }
  PublishStatus(serviceName, d.status);

  std::string name_copy = serviceName;
  std::thread main_thread([serviceMain, name_copy, &d] {
    std::vector<char> name(name_copy.begin(), name_copy.end());
    name.push_back('\0');
    char* argv[2] = {name.data(), nullptr};
    serviceMain(1, argv);
    d.main_done.store(true);
  });

  auto stopped = [&d] {
    std::lock_guard<std::mutex> hold(d.lock);
    return d.status.dwCurrentState == SERVICE_STOPPED;
  };
  bool stop_requested = false;
  bool stop_sent = false;
  for (;;) {
    // Done when the main function has returned, or shortly after the
    // service has reported stopped.
    if (d.main_done.load()) break;
    if (stopped()) {
      for (int i = 0; i < 100 && !d.main_done.load(); ++i) Sleep(100);
      break;
    }
    // A termination signal is the stop control, delivered once the service
    // accepts it (not while it is still starting).
    if (stop_requested && !stop_sent) {
      HandlerFunction handler = nullptr;
      {
        std::lock_guard<std::mutex> hold(d.lock);
        if (d.registered && (d.status.dwControlsAccepted & SERVICE_ACCEPT_STOP) != 0) handler = d.slot.handler;
      }
      if (handler != nullptr) {
        stop_sent = true;
        handler(SERVICE_CONTROL_STOP);
        continue;
      }
    }
    pollfd fds[2] = {{listener, POLLIN, 0}, {signal_fd, POLLIN, 0}};
    int ready = ::poll(fds, signal_fd >= 0 ? 2 : 1, 200);
    if (ready <= 0) continue;
    if (ready > 0 && (fds[1].revents & POLLIN) != 0) {
      signalfd_siginfo info {};
      (void)!::read(signal_fd, &info, sizeof(info));
      stop_requested = true;
    }
    if ((fds[0].revents & POLLIN) != 0) {
      int connection = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
      if (connection >= 0) {
        ServeControl(connection);
        ::close(connection);
      }
    }
  }
  ::close(listener);
  ::unlink(address.sun_path);
  if (signal_fd >= 0) ::close(signal_fd);
  if (d.main_done.load()) {
    main_thread.join();
  } else {
    main_thread.detach();
  }
  if (!stopped()) {
    std::lock_guard<std::mutex> hold(d.lock);
    d.status.dwCurrentState = SERVICE_STOPPED;
    PublishStatus(d.name, d.status);
  }
  SetLastError(0);
  return true;
}

SERVICE_STATUS_HANDLE RegisterServiceCtrlHandler(const std::string& serviceName, HandlerFunction handler) {
  DispatcherState& d = Dispatcher();
  std::lock_guard<std::mutex> hold(d.lock);
  if (d.name.empty() || serviceName != d.name || handler == nullptr) {
    SetLastError(d.name.empty() ? kErrorFailedServiceControllerConnect : kErrorInvalidServiceName);
    return nullptr;
  }
  d.slot.name = serviceName;
  d.slot.handler = handler;
  d.registered = true;
  SetLastError(0);
  return &d.slot;
}

bool SetServiceStatus(SERVICE_STATUS_HANDLE handle, const SERVICE_STATUS& status) {
  DispatcherState& d = Dispatcher();
  if (handle == nullptr || handle != &d.slot) {
    SetLastError(kErrorInvalidHandle);
    return false;
  }
  std::lock_guard<std::mutex> hold(d.lock);
  d.status = status;
  PublishStatus(d.name, status);
  return true;
}

void WatchTerminationSignals(void (*onSignal)(int signal)) {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGINT);
  ::pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  std::thread([signals, onSignal] {
    for (;;) {
      int received = 0;
      if (::sigwait(&signals, &received) == 0) onSignal(received);
    }
  }).detach();
}

}  // namespace platform
