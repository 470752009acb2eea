// The refresh pool's work: one job refreshes one cache directory for a
// request that named several arguments. The request waits for the job's
// completion event; the outcome lives in a state that both hold, so neither
// side can free it under the other.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "cache/cache_entry.h"
#include "platform/sync.h"
#include "poolmgr/pool_thread.h"
#include "poolmgr/thread_params.h"
#include "upstream/http_stream.h"

class CProxyCache;
class QRNHTTP;

// What processing one cache directory gave.
struct CCacheRefreshOutcome {
  CCacheEntry* entry = nullptr;
  std::int64_t viewerNextUpdate = 0;
  bool hit = false;      // served without a refresh
  bool success = false;
  CUpstreamResult result;
};

struct CCacheRefreshState {
  // Signals that the outcome is complete.
  void Complete() {
    if (done != nullptr) done->Set();
  }

  std::unique_ptr<platform::Event> done;  // manual-reset; null: the job ran on the waiting thread
  CCacheRefreshOutcome outcome;
};

// The jobs of one batch. However the batch ends, even by an exception, it
// waits for every job it gave away: they read the request and write their
// states until they complete.
struct CCacheBatch {
  CCacheBatch() = default;
  ~CCacheBatch() { WaitForAll(); }
  CCacheBatch(const CCacheBatch&) = delete;
  CCacheBatch& operator=(const CCacheBatch&) = delete;

  void WaitForAll() {
    for (const std::shared_ptr<CCacheRefreshState>& state : states) {
      if (state->done != nullptr) platform::WaitForSingleObject(*state->done, platform::kInfinite);
    }
  }

  std::vector<std::shared_ptr<CCacheRefreshState>> states;
};

struct CCacheRefreshJob : public QRThreadParams {
  int Assign(const QRThreadParams& other) override;

  CProxyCache* cache = nullptr;
  const QRNHTTP* request = nullptr;  // the waiting request's, read-only
  std::string directory;
  const std::string* argument = nullptr;
  std::chrono::steady_clock::time_point start;
  std::shared_ptr<CCacheRefreshState> state;
};

class CCacheRefreshThread : public QRPoolThread {
 public:
  CCacheRefreshThread() { m_Params = &m_Job; }
  ~CCacheRefreshThread() override { m_Params = nullptr; }
  CCacheRefreshThread(const CCacheRefreshThread&) = delete;
  CCacheRefreshThread& operator=(const CCacheRefreshThread&) = delete;

 protected:
  void Run() override;

 private:
  CCacheRefreshJob m_Job;
};

class CCacheRefreshFactory : public QRPoolThreadFactory {
 public:
  QRPoolThread* CreatePoolThread() override;
};
