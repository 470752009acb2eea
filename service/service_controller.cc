#include "service/service_controller.h"

#include <algorithm>
#include <chrono>
#include <ctime>

#include "admin/admin_agent.h"
#include "admin/admin_server.h"
#include "admin/console_context.h"
#include "agents/agent_list.h"
#include "agents/null_agent.h"
#include "agents/pass_through_agent.h"
#include "base/trace_bits.h"
#include "cache/proxy_agent.h"
#include "channels/corporate_agent.h"
#include "channels/corporate_data.h"
#include "channels/flash_house.h"
#include "channels/java_protocol.h"
#include "channels/notes_agent.h"
#include "channels/notes_house.h"
#include "conn/conn_mgr.h"
#include "conn/connection_thread.h"
#include "conn/service_conn_mgr.h"
#include "config/listen_address.h"
#include "conn/secret_agent.h"
#include "perf/perf_sampler.h"
#include "platform/service_control.h"
#include "platform/trace.h"
#include "poolmgr/pool_manager.h"
#include "presence/beacon_reader.h"
#include "presence/heartbeat.h"
#include "redirect/redirect_agent.h"
#include "redirect/redirection_house.h"
#include "service/nt_service.h"
#include "txlog/transaction_log.h"
#include "upstream/stream_abort.h"

namespace {

using platform::DWORD;

constexpr DWORD kStepWaitHint = 10000;
// How often a stop looks whether the answers under way are done.
constexpr DWORD kAnswerPollMs = 20;
constexpr const char* kBuildStatus = "Build 1.1.68 domino";

}  // namespace

ServiceController::ServiceController()
    : m_pAgents(std::make_unique<CAgentTable>()), m_pConsole(std::make_unique<CConsoleContext>()) {}

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

void ServiceController::ReportStop(const char* text, DWORD waitHint) {
  if (m_pService == nullptr) return;
  if (m_bFirstReport) {
    m_pService->SetStatus(platform::SERVICE_STOP_PENDING, 0, waitHint != 0 ? waitHint : kStepWaitHint, text);
    m_bFirstReport = false;
  } else if (waitHint != 0) {
    m_pService->SetStatus(platform::SERVICE_STOP_PENDING, 0, waitHint, text);
  } else {
    m_pService->SetStatus(platform::SERVICE_STOP_PENDING, text);
  }
}

DWORD ServiceController::Start(CNTService* service) {
  if (m_bStarted) return kErrAlreadyStarted;
  m_pService = service;
  m_bFirstReport = true;
  // Streams aborted by an earlier stop may work again.
  upstream::ResumeStreams();

  struct Step {
    const char* text;
    DWORD (ServiceController::*work)();
  };
  // Steps whose parts do not exist yet only report themselves.
  static constexpr Step kSteps[] = {
      {"Creating Transaction Log and Agents List", &ServiceController::CreateTransactionLogAndAgentList},
      {"Creating Administration Connection Manager", &ServiceController::CreateAdministrationListener},
      {"Creating Corporate Data Object", &ServiceController::CreateCorporateData},
      {"Creating Flash Data Object", &ServiceController::CreateFlashHouse},
      {"Creating Notes Data Object", &ServiceController::CreateNotesHouse},
      {"Creating Redirection Data Object", &ServiceController::CreateRedirectionDataObject},
      {"Creating Thread Pool", &ServiceController::CreateThreadPool},
      {"Creating the Agents", &ServiceController::CreateAgents},
      {"Creating Performance Monitoring Thread", &ServiceController::CreatePerformanceSampler},
      {"Creating Connection Managers", &ServiceController::CreateConnectionManagers},
      {"Creating Beacon Reader", &ServiceController::CreateBeaconReader},
      {"Creating Heart Beat", &ServiceController::CreateHeartBeat},
      {"Creating Java Connection Manager", &ServiceController::CreateJavaListener},
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
  // No new viewers from here on; those being answered get the grace period
  // to receive their answers before the upstream streams are cut.
  const DWORD graceMs = StopGraceMs();
  ReportStop("Terminating All HTTP Streams", kStepWaitHint + graceMs);
  StopTakingConnections();
  WaitForAnswersUnderWay(graceMs);
  upstream::AbortAllStreams();
  ReportStop("Destroying Heart Beat", kStepWaitHint);
  DestroyHeartBeat();
  ReportStop("Destroying Beacon Reader");
  DestroyBeaconReader();
  ReportStop("Shuting down connection managers");
  ShutDownConnectionManagers();
  ReportStop("Turning off Performance Monitoring");
  DestroyPerformanceSampler();
  ReportStop("Destroying Thread Pool");
  DestroyThreadPool();
  ReportStop("Destroying Agents");
  DestroyAgents();
  ReportStop("Destroying Transaction Log and Agents List");
  DestroyTransactionLogAndAgentList();
  ReportStop("Destroying Java Connection Manager");
  DestroyJavaListener();
  ReportStop("Destroying Corporate Data Object");
  m_pConsole->Set<CCorporateData>(m_pConsole->corporate, nullptr);
  m_pCorporateData.reset();
  ReportStop("Destroying Flash data object");
  m_pConsole->Set<CFlashHouse>(m_pConsole->flash, nullptr);
  m_pFlashHouse.reset();
  ReportStop("Destroying Notes Data object");
  m_pNotesHouse.reset();
  ReportStop("Destroying Redirection Data object");
  DestroyRedirectionDataObject();
  ReportStop("Destroying Administration Connection Manager");
  DestroyAdministrationListener();
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
  if (!m_pAgentList) {
    m_pAgentList = std::make_unique<CAgentList>(*m_pSettings);
    m_pAgentList->Start();
  }
  // Without a log the server runs on and records nothing.
  if (!m_pTransactionLog) m_pTransactionLog = OpenViewerTransactionLog(*m_pSettings);
  return 0;
}

namespace {

// A pooled listener of the administration side: its pool of connection
// threads, opened and cleaned as the administration pools are, and the
// listener on Admin\ListenAddress. 0, or `failure` when it does not listen.
template <typename Service>
DWORD StartServiceListener(CPRegistry& settings, DWORD port, int depth, Service* service,
                           std::unique_ptr<QRPoolThreadFactory>& factory, std::unique_ptr<QRPoolManager>& pool,
                           std::unique_ptr<CServiceConnMgr>& listener, DWORD failure) {
  factory = std::make_unique<CConnectionThreadFactory>();
  pool = std::make_unique<QRPoolManager>(factory.get(), ServiceController::kAdminPoolDeadbeatMs,
                                         settings.GetThreadExpireTime(), ServiceController::kClientPoolLowWater);
  pool->OpenPool(depth, 0);
  pool->StartPoolCleaner(ServiceController::kAdminPoolCleanerMs);
  listener = std::make_unique<CServiceConnMgr>(pool.get(), service);
  // Administration stays on this machine unless opened on purpose.
  const std::string address = settings.GetAdminListenAddress();
  const int started = listener->Start(static_cast<unsigned short>(port), ServiceController::kAdminRecvTimeoutSeconds,
                                      nullptr, nullptr, nullptr, nullptr, address.c_str());
  if (started == 0) return 0;
  trace(trace_bits::kHttp, "ServiceController: no administration listener on %s port %u: %d\n", address.c_str(), port,
        started);
  return failure;
}

void StopServiceListener(std::unique_ptr<QRPoolThreadFactory>& factory, std::unique_ptr<QRPoolManager>& pool,
                         std::unique_ptr<CServiceConnMgr>& listener) {
  if (listener) listener->Shutdown();
  if (pool) pool->ClosePoolEasy();
  listener.reset();
  pool.reset();
  factory.reset();
}

}  // namespace

DWORD ServiceController::CreateAdministrationListener() {
  const DWORD port = m_pSettings->GetWebPort();
  if (port == 0 || port > 65535 || m_pAdminListener) return 0;
  m_pAdminServer = std::make_unique<CAdminServer>(*m_pSettings, kAdminRecvTimeoutSeconds, m_pConsole.get());
  return StartServiceListener(*m_pSettings, port, kAdminPoolDepth, m_pAdminServer.get(), m_pAdminFactory,
                              m_pAdminPool, m_pAdminListener, kErrAdminListener);
}

void ServiceController::DestroyAdministrationListener() {
  StopServiceListener(m_pAdminFactory, m_pAdminPool, m_pAdminListener);
  m_pAdminServer.reset();
}

DWORD ServiceController::CreateJavaListener() {
  const DWORD port = m_pSettings->GetJavaPort();
  if (port == 0 || port > 65535 || m_pJavaListener) return 0;
  m_pJavaProtocol = std::make_unique<CJavaProtocol>(*m_pSettings, m_pCorporateData.get(), m_pRedirection.get(),
                                                    m_pFlashHouse.get());
  return StartServiceListener(*m_pSettings, port, kJavaPoolDepth, m_pJavaProtocol.get(), m_pJavaFactory,
                              m_pJavaPool, m_pJavaListener, kErrJavaListener);
}

void ServiceController::DestroyJavaListener() {
  StopServiceListener(m_pJavaFactory, m_pJavaPool, m_pJavaListener);
  m_pJavaProtocol.reset();
}

std::string ServiceController::CorporateDirectory() const {
  std::string directory = m_pSettings->GetCorpDirectory();
  if (directory.empty()) directory = m_pSettings->GetHomeDirectory();
  if (!directory.empty() && directory.back() != '/') directory += '/';
  return directory;
}

DWORD ServiceController::CreateCorporateData() {
  if (!m_pCorporateData && m_pSettings) {
    m_pCorporateData = std::make_unique<CCorporateData>(*m_pSettings);
    m_pCorporateData->Initialize(CorporateDirectory(), "corp.dat");
    m_pConsole->Set(m_pConsole->corporate, m_pCorporateData.get());
  }
  return 0;
}

DWORD ServiceController::CreateFlashHouse() {
  if (!m_pFlashHouse && m_pSettings) {
    std::string directory = m_pSettings->GetCorpDirectory();
    if (!directory.empty() && directory.back() != '/') directory += '/';
    m_pFlashHouse = std::make_unique<CFlashHouse>(directory + m_pSettings->GetFlashFile(), std::string(), *m_pSettings);
    m_pFlashHouse->Initialize();
    m_pConsole->Set(m_pConsole->flash, m_pFlashHouse.get());
  }
  return 0;
}

DWORD ServiceController::CreateNotesHouse() {
  // A channel that is not enabled fetches nothing.
  if (!m_pNotesHouse && m_pSettings) {
    m_pNotesHouse = std::make_unique<CNotesHouse>(*m_pSettings);
    m_pNotesHouse->Initialize();
  }
  return 0;
}

// The house loads its table (or asks the master for it) on threads of its
// own; start-up waits a few seconds for it and goes on either way.
DWORD ServiceController::CreateRedirectionDataObject() {
  if (!m_pRedirection) {
    m_pRedirection = std::make_unique<CRedirectionHouse>(*m_pSettings);
    m_pRedirection->Initialize();
    m_pConsole->Set<CGenericHouse>(m_pConsole->redirection, m_pRedirection.get());
  }
  return 0;
}

DWORD ServiceController::CreateThreadPool() {
  const DWORD depth = std::clamp<DWORD>(m_pSettings->GetServerMaxClientThreads(), 1, kMaxClientThreadsLimit);
  const DWORD expireMs = m_pSettings->GetThreadExpireTime();
  if (!m_pClientPool) {
    m_pClientFactory = std::make_unique<CSecretAgentFactory>();
    m_pClientPool = std::make_unique<QRPoolManager>(m_pClientFactory.get(), kClientPoolDeadbeatSeconds, expireMs,
                                                    kClientPoolLowWater);
  }
  if (!m_pClientPool) return kErrNoClientPool;
  const int result = m_pClientPool->OpenPool(static_cast<int>(depth), 0);
  m_PoolCleanerInterval = kClientPoolCleanerMs;
  m_pClientPool->StartPoolCleaner(m_PoolCleanerInterval);
  return static_cast<DWORD>(result);
}

DWORD ServiceController::CreateAgents() {
  if (!m_pAgents || !m_pSettings) return kErrAgents;
  // A failed agent stays in its slot and start-up goes on; the code of the
  // last agent made is the step's result.
  DWORD code = 0;
  auto make = [&](eAgentSlot slot, DWORD failure, auto create) {
    if (m_OwnedAgents[slot]) return;
    code = failure;
    m_OwnedAgents[slot] = create();
    (*m_pAgents)[slot] = m_OwnedAgents[slot].get();
    if (m_OwnedAgents[slot]->Init()) code = 0;
  };
  make(ePassThroughSlot, kErrPassThroughAgent, [&] { return std::make_unique<CPassThroughAgent>(*m_pSettings); });
  make(eProxySlot, kErrProxyAgent, [&] { return std::make_unique<CProxyAgent>(*m_pSettings); });
  m_pConsole->Set(m_pConsole->proxy, static_cast<CProxyAgent*>(m_OwnedAgents[eProxySlot].get()));
  make(eRedirectSlot, kErrRedirectAgent,
       [&] { return std::make_unique<CRedirectAgent>(*m_pSettings, m_pRedirection.get()); });
  make(eCorporateSlot, kErrCorpAgent, [&] {
    return std::make_unique<CCorporateAgent>(*m_pSettings, m_pCorporateData.get(), m_pFlashHouse.get());
  });
  make(eNotesSlot, kErrNotesAgent,
       [&] { return std::make_unique<CNotesAgent>(*m_pSettings, m_pNotesHouse.get()); });
  // The admin agent has the proxy cache write its report.
  make(eAdminSlot, kErrAdminAgent, [&] {
    return std::make_unique<CAdminAgent>(*m_pSettings, static_cast<CProxyAgent*>(m_OwnedAgents[eProxySlot].get()));
  });
  make(eNullSlot, kErrNullAgent, [&] { return std::make_unique<CNullAgent>(*m_pSettings); });
  return code;
}

DWORD ServiceController::CreateConnectionManagers() {
  const DWORD recvTimeout = m_pSettings->GetRecvTimeout();
  const DWORD listeners = std::min<DWORD>(m_pSettings->GetServerNoOfListenThreads(), kMaxListeners);
  if (!m_pClientPool || !m_pClientFactory || m_ListenerCount > 0) return kErrNoListener;
  DWORD result = kErrNoListener;
  for (DWORD index = 1; index <= listeners; ++index) {
    const std::string text = m_pSettings->GetServerLISTENIPPort(index);
    ListenAddress address;
    if (!ParseListenAddress(text, address)) {
      trace(trace_bits::kHttp, "ServiceController: Comm\\LISTEN%u \"%s\" names no port: no listener\n", index,
            text.c_str());
      result = kErrNoListener;
      continue;
    }
    auto& listener = m_Listeners[m_ListenerCount++];
    listener = std::make_unique<CConnMgr>(m_pClientPool.get());
    result = static_cast<DWORD>(listener->Start(address.port, recvTimeout, m_pAgentList.get(), m_pAgents.get(),
                                                m_pTransactionLog.get(), m_pSampler.get(), address.address.c_str()));
  }
  return result;
}

DWORD ServiceController::SamplingInterval(DWORD setting) { return setting < kMaxSamplingMs ? setting : kMaxSamplingMs; }

DWORD ServiceController::CreatePerformanceSampler() {
  const DWORD interval = SamplingInterval(m_pSettings->GetPerformanceMonSamplingInterval());
  if (m_pClientPool && !m_pSampler) {
    m_pSampler = std::make_unique<CPerfSampler>();
    // A sampler without its block stays inert; the relay runs all the same.
    if (m_pSampler->Start(m_pClientPool.get(), interval) != 0) {
      trace(trace_bits::kThreads, "ServiceController: no performance block: counters off\n");
    }
  }
  return 0;
}

DWORD ServiceController::CreateBeaconReader() {
  const DWORD port = m_pSettings->GetUDPBeaconPort();
  if (!m_pSampler || !m_pClientPool || m_pBeaconReader || port == 0) return 0;
  // The reader listens on the port above the beacon port.
  if (port >= 0xFFFF) return kErrBeaconReader;
  m_pBeaconReader = std::make_unique<CServerBeaconReader>(*m_pSettings, m_pSampler.get());
  if (m_pBeaconReader->Start(static_cast<std::uint16_t>(port + 1)) != 0) return kErrBeaconReader;
  return 0;
}

DWORD ServiceController::CreateHeartBeat() {
  const DWORD port = m_pSettings->GetHeartBeatPort();
  const DWORD frequency = m_pSettings->GetHeartBeatFrequency();
  if (port == 0 || port > 0xFFFF || frequency == 0 || m_pHeartBeat) return 0;
  std::vector<std::uint16_t> ports;
  for (std::size_t i = 0; i < m_ListenerCount; ++i) {
    if (m_Listeners[i]) ports.push_back(m_Listeners[i]->Port());
  }
  if (ports.empty()) return 0;
  m_pHeartBeat = std::make_unique<CHeartBeat>(*m_pSettings);
  if (m_pHeartBeat->Start(static_cast<std::uint16_t>(port), ports.size(), ports.data(), frequency) != 0) {
    trace(trace_bits::kHttp, "ServiceController: the heartbeat did not start (%u ports)\n",
          static_cast<unsigned>(ports.size()));
    m_pHeartBeat.reset();
  }
  return 0;
}
// --- stop steps ----------------------------------------------------------------

DWORD ServiceController::StopGraceMs() const {
  if (!m_pSettings) return 0;
  return std::min<DWORD>(m_pSettings->GetStopGracePeriod(), kMaxStopGraceSeconds) * 1000;
}

// The listeners stop here and are deleted by the later step, which then
// finds them stopped.
void ServiceController::StopTakingConnections() {
  for (std::size_t i = 0; i < m_ListenerCount; ++i) m_Listeners[i]->Shutdown();
}

void ServiceController::WaitForAnswersUnderWay(DWORD graceMs) {
  if (!m_pClientPool) return;
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(graceMs);
  for (;;) {
    int slots = 0, idle = 0, reserved = 0, working = 0, ended = 0, expired = 0;
    float averageJobs = 0;
    if (m_pClientPool->GatherSummaryStats(slots, idle, reserved, working, ended, expired, averageJobs) != 0 ||
        reserved + working == 0) {
      return;
    }
    if (Clock::now() >= deadline) {
      trace(trace_bits::kHttp, "ServiceController: %d requests still under way after %u ms: cut\n", reserved + working, graceMs);
      return;
    }
    platform::Sleep(kAnswerPollMs);
  }
}

void ServiceController::DestroyHeartBeat() {
  if (m_pHeartBeat) m_pHeartBeat->Stop();
  m_pHeartBeat.reset();
}

void ServiceController::DestroyBeaconReader() {
  if (m_pBeaconReader) m_pBeaconReader->Stop();
  m_pBeaconReader.reset();
}

void ServiceController::DestroyPerformanceSampler() {
  if (m_pSampler) m_pSampler->Stop();
  m_pSampler.reset();
}

void ServiceController::ShutDownConnectionManagers() {
  for (std::size_t i = 0; i < m_ListenerCount; ++i) {
    m_Listeners[i]->Shutdown();
    m_Listeners[i].reset();
  }
  m_ListenerCount = 0;
}

void ServiceController::DestroyThreadPool() {
  if (m_pClientPool) m_pClientPool->ClosePoolEasy();
  m_pClientPool.reset();
  m_pClientFactory.reset();
}

void ServiceController::DestroyAgents() {
  m_pConsole->Set<CProxyAgent>(m_pConsole->proxy, nullptr);
  for (std::size_t slot = 0; slot < kAgentSlotCount; ++slot) {
    (*m_pAgents)[slot] = nullptr;
    m_OwnedAgents[slot].reset();
  }
}

void ServiceController::DestroyRedirectionDataObject() {
  m_pConsole->Set<CGenericHouse>(m_pConsole->redirection, nullptr);
  if (m_pRedirection) m_pRedirection->StopThreads();
  m_pRedirection.reset();
}

void ServiceController::DestroyTransactionLogAndAgentList() {
  m_pTransactionLog.reset();
  m_pAgentList.reset();
  *m_pAgents = CAgentTable{};
}
