#include "service/zondrel_service.h"

#include "admin/console_install.h"
#include "admin/content_types.h"
#include "admin/file_agent.h"
#include "base/product_identity.h"
#include "perf/perf_text.h"
#include "platform/system.h"
#include "regwrap/qr_registry.h"

namespace {

constexpr platform::DWORD kInitWaitHint = 5000;
constexpr platform::DWORD kStopWaitHint = 10000;

}  // namespace

ZondrelService::ZondrelService() : CNTService(net::kServiceName, "Orrinvale Zondrel") {
  // The display name is kept whole.
  m_szDisplayName = "Orrinvale Zondrel";
  m_iMajorVersion = 1;
  m_iMinorVersion = 1;
  m_Status.dwServiceType = platform::SERVICE_WIN32_SHARE_PROCESS;
  m_Status.dwControlsAccepted = platform::SERVICE_ACCEPT_STOP | platform::SERVICE_ACCEPT_SHUTDOWN;
  m_dwControlsAccepted = platform::SERVICE_ACCEPT_STOP | platform::SERVICE_ACCEPT_SHUTDOWN;
}

ZondrelService::~ZondrelService() {
  if (m_pServiceController) {
    m_pServiceController->Stop();
    m_pServiceController.reset();
  }
  if (m_hTerminateEvent) {
    m_hTerminateEvent->Set();
    platform::Sleep(1000);
    m_hTerminateEvent.reset();
  }
}

int ZondrelService::Install() {
  // The event texts live in the message file beside the program.
  m_szEventMessageFile = platform::GetModuleDirectory() + "evtmsgs.msg";
  int result = CNTService::Install();
  QRRegistry performance(QRRegistry(platform::HKEY_LOCAL_MACHINE),
                         ("SYSTEM\\CurrentControlSet\\Services\\" + m_szServiceName + "\\Performance").c_str());
  if (performance.Open(1)) {
    performance.SetValue("Library", "libperfctr.so", platform::REG_SZ);
    performance.SetValue("Open", "OpenZondrelPerf", platform::REG_SZ);
    performance.SetValue("Close", "CloseZondrelPerf", platform::REG_SZ);
    performance.SetValue("Collect", "CollectZondrelPerf", platform::REG_SZ);
    performance.Close(0);
  }
  // The administration web server names file types from the machine's
  // content types; the system's table fills those not set yet.
  if (result) content_types::Seed();
  // The administration console, where the administration web server serves
  // it; a program without the console's files installs without it.
  if (result) console_install::Install(console_install::SourceDirectory(), CFileAgent::JavaDirectory(CPRegistry()));
  // The counters' names and help texts for performance monitors.
  perf::InstallCounterNames(m_szServiceName);
  return result;
}

int ZondrelService::OnInit() {
  SetStatus(platform::SERVICE_START_PENDING, 1, kInitWaitHint, "Creating Termination Event");
  m_hTerminateEvent = platform::Event::Create(true, false);
  if (!m_hTerminateEvent) return 0;
  SetStatus(platform::SERVICE_START_PENDING, 2, kInitWaitHint, "Creating Service Controller");
  m_pServiceController = std::make_unique<ServiceController>();
  // A failed step leaves the service running with what was built before it.
  m_pServiceController->Start(this);
  return 1;
}

void ZondrelService::Run() { platform::WaitForSingleObject(*m_hTerminateEvent, platform::kInfinite); }

void ZondrelService::OnStop() {
  SetStatus(platform::SERVICE_STOP_PENDING, 1, kStopWaitHint, "Stopping Service Controller");
  if (m_pServiceController) {
    m_pServiceController->Stop();
    m_pServiceController.reset();
  }
  if (m_hTerminateEvent) m_hTerminateEvent->Set();
}

void ZondrelService::OnShutdown() { OnStop(); }
