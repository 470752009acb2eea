#include "service/service_controller.h"

#include "platform/service_control.h"
#include "platform/trace.h"
#include "service/nt_service.h"

namespace {

constexpr platform::DWORD kStepWaitHint = 10000;

const char* const kStartSteps[] = {
    "Creating Transaction Log and Agents List",
    "Creating Administration Connection Manager",
    "Creating Corporate Data Object",
    "Creating Flash Data Object",
    "Creating Notes Data Object",
    "Creating Redirection Data Object",
    "Creating Thread Pool",
    "Creating the Agents",
    "Creating Performance Monitoring Thread",
    "Creating Connection Managers",
    "Creating Beacon Reader",
    "Creating Heart Beat",
    "Creating Java Connection Manager",
};

const char* const kStopSteps[] = {
    "Terminating All HTTP Streams",
    "Destroying Heart Beat",
    "Destroying Beacon Reader",
    "Shuting down connection managers",
    "Turning off Performance Monitoring",
    "Destroying Thread Pool",
    "Destroying Agents",
    "Destroying Transaction Log and Agents List",
    "Destroying Java Connection Manager",
    "Destroying Corporate Data Object",
    "Destroying Flash data object",
    "Destroying Notes Data object",
    "Destroying Redirection Data object",
    "Destroying Administration Connection Manager",
    "Destroying Service Controller",
};

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

platform::DWORD ServiceController::Start(CNTService* service) {
  if (m_bStarted) return kErrAlreadyStarted;
  m_pService = service;
  m_bFirstReport = true;
  for (const char* step : kStartSteps) {
    ReportStart(step);
  }
  m_bStarted = 1;
  return 0;
}

platform::DWORD ServiceController::Stop() {
  if (!m_bStarted) return kErrNotStarted;
  m_bFirstReport = true;
  for (const char* step : kStopSteps) {
    ReportStop(step);
  }
  m_bStarted = 0;
  return 0;
}
