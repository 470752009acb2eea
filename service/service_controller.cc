#include "service/service_controller.h"

#include <ctime>

#include "platform/service_control.h"
#include "platform/trace.h"
#include "service/nt_service.h"
#include "txlog/transaction_log.h"

namespace {

using platform::DWORD;

constexpr DWORD kStepWaitHint = 10000;
constexpr const char* kBuildStatus = "Build 1.1.68 domino";

}  // namespace

ServiceController::ServiceController() = default;

ServiceController::~ServiceController() {
  if (m_bStarted) Stop();
}

void ServiceController::ReportStart(const char* text) {
  if (m_pService == nullptr) return;
  if (m_bFirstReport) {
    m_pService->SetStatus(platform::SERVICE_START_PENDING, 0, kStepWaitHint, text);
    m_bFirstReport = false;
  } else {
    m_pService->SetStatus(platform::SERVICE_START_PENDING, text);
  }
}

void ServiceController::ReportStop(const char* text) {
  if (m_pService == nullptr) return;
  if (m_bFirstReport) {
    m_pService->SetStatus(platform::SERVICE_STOP_PENDING, 0, kStepWaitHint, text);
    m_bFirstReport = false;
  } else {
    m_pService->SetStatus(platform::SERVICE_STOP_PENDING, text);
  }
}

DWORD ServiceController::Start(CNTService* service) {
  if (m_bStarted) return kErrAlreadyStarted;
  m_pService = service;
  m_bFirstReport = true;

  struct Step {
    const char* text;
    DWORD (ServiceController::*work)();
  };
  // Steps whose parts do not exist yet only report themselves.
  static constexpr Step kSteps[] = {
      {"Creating Transaction Log and Agents List", &ServiceController::CreateTransactionLogAndAgentList},
      {"Creating Administration Connection Manager", nullptr},
      {"Creating Corporate Data Object", nullptr},
      {"Creating Flash Data Object", nullptr},
      {"Creating Notes Data Object", nullptr},
      {"Creating Redirection Data Object", nullptr},
      {"Creating Thread Pool", nullptr},
      {"Creating the Agents", nullptr},
      {"Creating Performance Monitoring Thread", nullptr},
      {"Creating Connection Managers", nullptr},
      {"Creating Beacon Reader", nullptr},
      {"Creating Heart Beat", nullptr},
      {"Creating Java Connection Manager", nullptr},
  };
  for (const Step& step : kSteps) {
    ReportStart(step.text);
    if (step.work == nullptr) continue;
    DWORD result = (this->*step.work)();
    if (result != 0) return result;
  }
  m_bStarted = 1;
  return 0;
}

DWORD ServiceController::Stop() {
  if (!m_bStarted) return kErrNotStarted;
  m_bFirstReport = true;
  ReportStop("Terminating All HTTP Streams");
  ReportStop("Destroying Heart Beat");
  ReportStop("Destroying Beacon Reader");
  ReportStop("Shuting down connection managers");
  ReportStop("Turning off Performance Monitoring");
  ReportStop("Destroying Thread Pool");
  ReportStop("Destroying Agents");
  ReportStop("Destroying Transaction Log and Agents List");
  DestroyTransactionLogAndAgentList();
  ReportStop("Destroying Java Connection Manager");
  ReportStop("Destroying Corporate Data Object");
  ReportStop("Destroying Flash data object");
  ReportStop("Destroying Notes Data object");
  ReportStop("Destroying Redirection Data object");
  ReportStop("Destroying Administration Connection Manager");
  ReportStop("Destroying Service Controller");
  m_bStarted = 0;
  return 0;
}

// --- start steps ---------------------------------------------------------------

DWORD ServiceController::CreateTransactionLogAndAgentList() {
  if (!m_pSettings) m_pSettings = std::make_unique<CPRegistry>();
  if (!m_pSettings) return kErrSettings;
  if (m_pSettings->Open(1)) {
    char since[64] = {};
    std::time_t now = std::time(nullptr);
    std::tm local {};
    ::localtime_r(&now, &local);
    std::strftime(since, sizeof(since), "%a %b %d %H:%M:%S %Y", &local);
    m_pSettings->SetStatisticsRunningSince(since);
    m_pSettings->SetStatisticsMajorVersion(1);
    m_pSettings->SetStatisticsMinorVersion(1);
    m_pSettings->SetStatisticsBuildStatus(kBuildStatus);
    m_pSettings->Close(0);
  }
  // Without a log the server runs on and records nothing.
  if (!m_pTransactionLog) m_pTransactionLog = OpenViewerTransactionLog(*m_pSettings);
  return 0;
}

// --- stop steps ----------------------------------------------------------------

void ServiceController::DestroyTransactionLogAndAgentList() { m_pTransactionLog.reset(); }
