// ServiceController: owns every long-lived part of the running server.
// Start builds the server in thirteen fixed steps and Stop takes it down in
// fifteen, each announced to the service frame as a status report. A step
// that fails ends Start with its code, leaving what was built so far.
#pragma once

#include <array>
#include <cstddef>
#include <memory>
#include <string>

#include "agents/agent_table.h"
#include "config/cp_registry.h"
#include "platform/types.h"

class CAbstractAgent;
class CAdminServer;
struct CConsoleContext;
class CJavaProtocol;
class CServiceConnMgr;
class CAgentList;
class CBeaconReader;
class CHeartBeat;
class CPerfSampler;
class CConnMgr;
class CCorporateData;
class CFlashHouse;
class CNotesHouse;
class CNTService;
class CPTransactionLog;
class CRedirectionHouse;
class QRPoolManager;
class QRPoolThreadFactory;

class ServiceController {
 public:
  static constexpr platform::DWORD kErrSettings = 0x5003;
  static constexpr platform::DWORD kErrAgents = 0x5004;
  static constexpr platform::DWORD kErrPassThroughAgent = 0x5005;
  static constexpr platform::DWORD kErrProxyAgent = 0x5006;
  static constexpr platform::DWORD kErrRedirectAgent = 0x5007;
  static constexpr platform::DWORD kErrCorpAgent = 0x5009;
  static constexpr platform::DWORD kErrNoClientPool = 0x500A;
  static constexpr platform::DWORD kErrNoListener = 0x500B;
  static constexpr platform::DWORD kErrNotStarted = 0x500C;
  static constexpr platform::DWORD kErrAlreadyStarted = 0x500D;
  static constexpr platform::DWORD kErrBeaconReader = 0x500F;
  static constexpr platform::DWORD kErrAdminAgent = 0x5010;
  static constexpr platform::DWORD kErrJavaListener = 0x5012;
  static constexpr platform::DWORD kErrAdminListener = 0x5013;
  static constexpr platform::DWORD kErrNotesAgent = 0x5014;
  static constexpr platform::DWORD kErrNullAgent = 0x5015;

  // At most this many connection listeners (Comm\NoOfListenThreads).
  static constexpr std::size_t kMaxListeners = 64;
  // ThreadPools\MaxClientThreads is kept within this range.
  static constexpr platform::DWORD kMaxClientThreadsLimit = 4096;
  static constexpr platform::DWORD kClientPoolDeadbeatSeconds = 180000;
  static constexpr platform::DWORD kClientPoolLowWater = 5;
  static constexpr platform::DWORD kClientPoolCleanerMs = 300000;
  // StopGracePeriod (seconds) is kept below this, so that a stop still ends
  // well within the time a service manager gives it.
  static constexpr platform::DWORD kMaxStopGraceSeconds = 60;
  // The performance sampler samples at least this often.
  static constexpr platform::DWORD kMaxSamplingMs = 10000;
  // The administration listeners: pool depth, the deadbeat time and cleaner
  // interval of their pools, and the receive timeout of their requests.
  static constexpr int kAdminPoolDepth = 30;
  static constexpr int kJavaPoolDepth = 20;
  static constexpr platform::DWORD kAdminPoolDeadbeatMs = 1200000;
  static constexpr platform::DWORD kAdminPoolCleanerMs = 600000;
  static constexpr platform::DWORD kAdminRecvTimeoutSeconds = 40;

  ServiceController();
  ~ServiceController();
  ServiceController(const ServiceController&) = delete;
  ServiceController& operator=(const ServiceController&) = delete;

  // `service` receives the status reports; null reports nothing.
  platform::DWORD Start(CNTService* service);
  platform::DWORD Stop();
  bool Started() const { return m_bStarted != 0; }

  // What the steps built (for the service's own checks and the tests).
  CPRegistry* Settings() const { return m_pSettings.get(); }
  CPTransactionLog* TransactionLog() const { return m_pTransactionLog.get(); }
  CAgentList* AgentList() const { return m_pAgentList.get(); }
  const CAgentTable& Agents() const { return *m_pAgents; }
  QRPoolManager* ClientPool() const { return m_pClientPool.get(); }
  std::size_t ListenerCount() const { return m_ListenerCount; }
  CConnMgr* Listener(std::size_t index) const { return m_Listeners[index].get(); }
  CCorporateData* CorporateData() const { return m_pCorporateData.get(); }
  CFlashHouse* FlashHouse() const { return m_pFlashHouse.get(); }
  CNotesHouse* NotesHouse() const { return m_pNotesHouse.get(); }
  // The administration web server's listener, or null.
  CServiceConnMgr* AdminListener() const { return m_pAdminListener.get(); }
  CServiceConnMgr* JavaListener() const { return m_pJavaListener.get(); }
  CRedirectionHouse* Redirection() const { return m_pRedirection.get(); }
  CPerfSampler* Sampler() const { return m_pSampler.get(); }
  CBeaconReader* BeaconReader() const { return m_pBeaconReader.get(); }
  CHeartBeat* HeartBeat() const { return m_pHeartBeat.get(); }
  // The sampling interval that Statistics\PerformanceMonSamplingInterval gives.
  static platform::DWORD SamplingInterval(platform::DWORD setting);

 private:
  void ReportStart(const char* text);
  // A wait hint of 0 keeps the last one.
  void ReportStop(const char* text, platform::DWORD waitHint = 0);

  // Start steps.
  platform::DWORD CreateTransactionLogAndAgentList();
  platform::DWORD CreateAdministrationListener();
  platform::DWORD CreateJavaListener();
  platform::DWORD CreateCorporateData();
  platform::DWORD CreateFlashHouse();
  platform::DWORD CreateNotesHouse();
  platform::DWORD CreateRedirectionDataObject();
  platform::DWORD CreateThreadPool();
  platform::DWORD CreateAgents();
  platform::DWORD CreatePerformanceSampler();
  platform::DWORD CreateConnectionManagers();
  platform::DWORD CreateBeaconReader();
  platform::DWORD CreateHeartBeat();
  // Stop steps.
  platform::DWORD StopGraceMs() const;
  void StopTakingConnections();
  void WaitForAnswersUnderWay(platform::DWORD graceMs);
  void DestroyHeartBeat();
  void DestroyBeaconReader();
  void ShutDownConnectionManagers();
  void DestroyPerformanceSampler();
  void DestroyThreadPool();
  void DestroyAgents();
  void DestroyTransactionLogAndAgentList();
  void DestroyAdministrationListener();
  void DestroyJavaListener();
  // The corporate directory, ending in "/"; the home directory when none is set.
  std::string CorporateDirectory() const;
  void DestroyRedirectionDataObject();

  int m_bStarted = 0;
  CNTService* m_pService = nullptr;
  bool m_bFirstReport = true;
  std::unique_ptr<CPRegistry> m_pSettings;
  std::unique_ptr<CPTransactionLog> m_pTransactionLog;
  std::unique_ptr<CAgentList> m_pAgentList;
  std::unique_ptr<QRPoolThreadFactory> m_pClientFactory;
  std::unique_ptr<QRPoolManager> m_pClientPool;
  platform::DWORD m_PoolCleanerInterval = 0;
  std::array<std::unique_ptr<CConnMgr>, kMaxListeners> m_Listeners;
  std::size_t m_ListenerCount = 0;
  // The agent record borrowed by every request; the agents it points at are
  // owned here, slot by slot.
  std::unique_ptr<CAgentTable> m_pAgents;
  // Data objects the channel agents serve from; made before the agents and
  // destroyed after them.
  std::unique_ptr<CCorporateData> m_pCorporateData;
  std::unique_ptr<CFlashHouse> m_pFlashHouse;
  std::unique_ptr<CNotesHouse> m_pNotesHouse;
  // The administration web server: its handling, thread pool and listener.
  std::unique_ptr<CAdminServer> m_pAdminServer;
  // What the console's API works on, filled in as the parts are made.
  std::unique_ptr<CConsoleContext> m_pConsole;
  std::unique_ptr<QRPoolThreadFactory> m_pAdminFactory;
  std::unique_ptr<QRPoolManager> m_pAdminPool;
  std::unique_ptr<CServiceConnMgr> m_pAdminListener;
  // The Java administration protocol: the same for its port.
  std::unique_ptr<CJavaProtocol> m_pJavaProtocol;
  std::unique_ptr<QRPoolThreadFactory> m_pJavaFactory;
  std::unique_ptr<QRPoolManager> m_pJavaPool;
  std::unique_ptr<CServiceConnMgr> m_pJavaListener;
  std::array<std::unique_ptr<CAbstractAgent>, kAgentSlotCount> m_OwnedAgents;
  // The redirection table and its map; the redirect agent borrows it.
  std::unique_ptr<CRedirectionHouse> m_pRedirection;
  // Live counters and UDP presence.
  std::unique_ptr<CPerfSampler> m_pSampler;
  std::unique_ptr<CBeaconReader> m_pBeaconReader;
  std::unique_ptr<CHeartBeat> m_pHeartBeat;
};
