#include "config/statistic_counter.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace {

// The thread that publishes every live counter. It runs while counters
// exist and is joined when the last one ends.
class Publisher {
 public:
  static Publisher& Instance() {
    static Publisher* publisher = new Publisher;  // outlives static destructors
    return *publisher;
  }

  void Add(CStatisticCounter* counter) {
    std::lock_guard hold(m_Lock);
    m_Counters.push_back(counter);
    if (!m_Running) {
      m_Running = true;
      m_Thread = std::thread([this] { Run(); });
    }
  }

  // Once this returns the thread no longer touches `counter`.
  void Remove(CStatisticCounter* counter) {
    std::thread ending;
    {
      std::lock_guard hold(m_Lock);
      m_Counters.erase(std::remove(m_Counters.begin(), m_Counters.end(), counter), m_Counters.end());
      if (m_Counters.empty() && m_Running) {
        m_Running = false;
        m_Wake.notify_all();
        ending = std::move(m_Thread);
      }
    }
    if (ending.joinable()) ending.join();
  }

  platform::Lock& PublishLock() { return m_PublishLock; }

 private:
  void Run() {
    std::unique_lock hold(m_Lock);
    while (m_Running) {
      m_Wake.wait_for(hold, CStatisticCounter::kPublishInterval);
      if (!m_Running) break;
      for (CStatisticCounter* counter : m_Counters) counter->Publish();
    }
  }

  std::mutex m_Lock;
  platform::Lock m_PublishLock;
  std::condition_variable m_Wake;
  std::vector<CStatisticCounter*> m_Counters;
  std::thread m_Thread;
  bool m_Running = false;
};

}  // namespace

CStatisticCounter::CStatisticCounter(std::function<void(std::uint32_t)> publish)
    : m_Publish(std::move(publish)) {
  Publisher::Instance().Add(this);
}

CStatisticCounter::~CStatisticCounter() {
  Publisher::Instance().Remove(this);
  Publish();
}

platform::Lock& CStatisticCounter::PublishLock() { return Publisher::Instance().PublishLock(); }

void CStatisticCounter::Publish() {
  platform::Locked hold(PublishLock());
  const std::uint32_t count = Value();
  if (count == m_Published) return;
  m_Publish(count);
  m_Published = count;
}
