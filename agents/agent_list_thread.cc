// The agent list's refresh thread: the initial load at start-up, then a
// fetch from upstream every night, retried every ten minutes until it works.
#include <ctime>

#include "agents/agent_list.h"
#include "base/event_catalogue.h"
#include "base/trace_bits.h"
#include "platform/sync.h"
#include "platform/trace.h"
#include "poolmgr/worker_thread.h"

namespace {

void ReportOutcome(bool refreshed) {
  if (refreshed) {
    events::Report<events::kAgentListLoaded>();
  } else {
    events::Report<events::kAgentListNotLoaded>();
  }
}

}  // namespace

class CAgentList::RefreshThread : public CWorkerThread {
 public:
  explicit RefreshThread(CAgentList& list) : CWorkerThread("AgentList", "BuildAgentList"), m_List(list) {}

  ~RefreshThread() override {
    Stop(15);
    // The body works on the list: it must be gone before the list is.
    WaitForDetachedThread(platform::kInfinite);
  }

 protected:
  platform::DWORD WorkerThreadRun() override {
    trace(trace_bits::kAgentList, "AgentList: Refresh thread id 0x%x\n", platform::GetCurrentThreadId());
    bool refreshed = m_List.Refresh(kInitialLoad) == 1;
    trace(trace_bits::kAgentList, "CAgentList::RefreshThreadInit - Initial refresh %s.\n",
          refreshed ? "succeeded" : "failed");
    ReportOutcome(refreshed);
    for (;;) {
      const std::int32_t sleep = refreshed ? NightlySleepSeconds(std::time(nullptr)) : kRetrySeconds;
      trace(trace_bits::kAgentList, "CAgentList::RefreshThreadInit - Sleep time is %d seconds\n", sleep);
      if (Wait(sleep, true)) return 0;
      trace(trace_bits::kAgentList, "CAgentList::RefreshThreadInit - Refreshing\n");
      while (m_List.Refresh(kFetchUpstream) != 1) {
        ReportOutcome(false);
        trace(trace_bits::kAgentList, "CAgentList::RefreshThreadInit - Refresh failed - Sleep time is %d seconds\n",
              kRetrySeconds);
        if (Wait(kRetrySeconds, true)) return 0;
      }
      refreshed = true;
      ReportOutcome(true);
      trace(trace_bits::kAgentList, "CAgentList::RefreshThreadInit - Refresh done.  Sleep time is %d seconds\n",
            NightlySleepSeconds(std::time(nullptr)));
      // Lookups that still read the old map are long done after this.
      if (Wait(kDrainSeconds, false)) return 0;
      m_List.EmptyIdleMap();
    }
  }

 private:
  // True when the thread is to stop. A failed wait pauses, so that the loop
  // cannot spin against upstream.
  bool Wait(std::int32_t seconds, bool acceptUpdates) {
    const int code = WaitFor(seconds, acceptUpdates);
    if (code == kWakeFailed) platform::Sleep(1000);
    return code == kWakeStop;
  }

  CAgentList& m_List;
};

// Here, where the thread's type is complete.
CAgentList::CAgentList(const CPRegistry& registry)
    : m_Registry(registry), m_FilePath(m_Registry.GetHomeDirectory() + "Agents.lst") {}

CAgentList::~CAgentList() { Stop(); }

std::int32_t CAgentList::NightlySleepSeconds(std::time_t now) {
  std::tm target{};
  if (localtime_r(&now, &target) == nullptr) return kRetrySeconds;
  target.tm_min = target.tm_sec;
  target.tm_hour = 24;
  target.tm_sec = 0;
  target.tm_isdst = -1;
  const std::time_t when = std::mktime(&target);
  if (when == static_cast<std::time_t>(-1) || when <= now) return kRetrySeconds;
  return static_cast<std::int32_t>(when - now);
}

void CAgentList::Start() {
  if (m_Thread == nullptr) m_Thread = std::make_unique<RefreshThread>(*this);
  m_Thread->Start(false);
}

void CAgentList::Stop(platform::DWORD seconds) {
  if (m_Thread == nullptr) return;
  m_Thread->Stop(seconds);
  m_Thread->WaitForDetachedThread(platform::kInfinite);
}
