// CNTService: a program that runs as a service of the machine's service
// control, or stand-alone in a console ("debug mode") where a small menu
// stands in for the service control. It owns the command line, installation
// and removal, the link to the service control and the status reports (to
// the service control, to the ServiceStatus registry value that the
// administration tool polls, and to the console in debug mode).
#pragma once

#include <atomic>
#include <mutex>
#include <string>

#include "base/event_catalogue.h"
#include "platform/service_control.h"
#include "platform/types.h"

using platform::DWORD;
using platform::WORD;

class CNTService {
 public:
  CNTService(const char* serviceName, const char* displayName);
  CNTService(const CNTService&) = delete;
  CNTService& operator=(const CNTService&) = delete;
  virtual ~CNTService();

  virtual int ParseStandardArgs(int argc, char** argv);
  virtual int IsInstalled();
  virtual int Install();
  virtual int Uninstall();
  virtual void SetStatus(DWORD state, const char* text);
  virtual void SetStatus(DWORD state, DWORD checkpoint, DWORD waitHint, const char* text);
  virtual void Run();
  virtual int OnInit();
  virtual void OnStop();
  virtual void OnInterrogate();
  virtual void OnPause();
  virtual void OnContinue();
  virtual void OnShutdown();
  virtual int OnUserControl(DWORD code);

  int StartService();
  void StartDebugging();
  int Initialize();
  void LogEvent(WORD type, DWORD eventId, const char* s1 = nullptr, const char* s2 = nullptr,
                const char* s3 = nullptr);
  // The same for one of the service entries of the event catalogue, its
  // strings counted when it compiles.
  template <const events::Entry& E, typename... Strings>
  void LogEvent(const Strings&... strings) {
    static_assert(E.category == 1 && E.viewBits == 0, "not one of the service frame's entries");
    events::ExpectStrings<E, sizeof...(Strings)>();
    LogEvent(E.type, E.id, strings...);
  }
  void DebugMsg(const char* format, ...) __attribute__((format(printf, 2, 3)));

  static void ServiceMain(DWORD argc, char** argv);
  static void Handler(DWORD control);
  static DWORD DebugMain(void* unused);
  static void WaitWhileStarting();

  const std::string& ServiceName() const { return m_szServiceName; }
  platform::SERVICE_STATUS Status();
  DWORD ExitCode();

 protected:
  // The process's one service object.
  static CNTService* m_pThis;

  std::string m_szServiceName;
  std::string m_szDisplayName;
  std::string m_szEventMessageFile;
  int m_iMajorVersion = 1;
  int m_iMinorVersion = 0;
  platform::SERVICE_STATUS_HANDLE m_hServiceStatus = nullptr;
  platform::SERVICE_STATUS m_Status;
  DWORD m_dwControlsAccepted = platform::SERVICE_ACCEPT_STOP;
  std::atomic<int> m_bIsRunning{0};
  std::atomic<int> m_bDebugging{0};
  std::atomic<int> m_bServiceMainFinished{0};
  DWORD m_dwMainThreadId = 0;
  std::atomic<DWORD> m_dwServiceThreadId{0};
  std::atomic<DWORD> m_dwHandlerThreadId{0};

 private:
  void WriteStatusValue(DWORD state, DWORD checkpoint, const char* text);
  void Print(const char* format, ...) __attribute__((format(printf, 2, 3)));

  // Status reports come from the service thread and the handler's thread.
  std::recursive_mutex m_StatusLock;
  // Debug mode: the console and a termination signal may both send controls.
  std::mutex m_HandlerLock;
};
