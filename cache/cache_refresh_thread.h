// The refresh pool's work: one job refreshes one cache directory for a
// request that named several arguments. The request waits for the job's
// completion event; the outcome lives in a state that both hold, so neither
// side can free it under the other.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

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
  std::unique_ptr<platform::Event> done;  // manual-reset; set when the outcome is complete
  CCacheRefreshOutcome outcome;
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
