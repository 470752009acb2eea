// CProxyCache: upstream content kept in memory, one entry per cache
// directory (the category, or the category and one argument of a request).
// A request is answered from its entry while the entry's refresh deadline
// lies ahead. Otherwise one thread refetches the entry from upstream while
// every other thread that wants it waits on the entry's lock and then takes
// what that one fetched:
//
//   Class C  the entry was fresh when looked at, before any lock;
//   Class B  it was stale, but another thread refreshed it during the wait;
//   Class A  this thread refreshes it ("AB" after a wait of 5001 ms or more).
//
// Requests that name several arguments refresh their entries in parallel,
// up to 64 at a time, on a pool of refresh threads.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "cache/cache_hits.h"
#include "cache/cache_response.h"
#include "cache/cache_table.h"
#include "config/cp_registry.h"
#include "platform/file.h"
#include "platform/types.h"
#include "upstream/http_stream.h"

class QRNHTTP;
class QRPoolManager;
class CCacheRefreshFactory;
struct CCacheRefreshJob;
struct CCacheRefreshOutcome;

class CProxyCache {
 public:
  static constexpr int kRefreshThreads = 300;
  static constexpr platform::DWORD kRefreshCleanerIntervalMs = 600000;
  // Arguments refreshed together; the batch then waits for all of them.
  static constexpr std::size_t kBatchSize = 64;
  // An entry is never trusted longer than this, whatever upstream says.
  static constexpr std::int64_t kMaxFreshSeconds = 21600;
  // Upstream said nothing new (204), or gave no next update: ask again then.
  static constexpr std::int64_t kNoNewsSeconds = 3600;
  // A lock wait this long turns Class A into "AB" in the trace.
  static constexpr double kLongLockWaitSeconds = 5.001;
  // These two categories are always sent whole, whatever item the viewer has.
  static constexpr std::int32_t kWholeCategories[] = {1310976, 1311232};
  // Repeat limit of the upstream failure events: 5 per 1800 seconds.
  static constexpr platform::DWORD kEventWindowSeconds = 1800;
  static constexpr platform::WORD kEventRepeats = 5;
  static constexpr std::chrono::seconds kStatisticsWriteInterval{1};

  // Takes its own copy of the settings; nothing starts before Init.
  explicit CProxyCache(const CPRegistry& settings);
  ~CProxyCache();  // Destroy
  CProxyCache(const CProxyCache&) = delete;
  CProxyCache& operator=(const CProxyCache&) = delete;

  // Sizes the table from CacheDirectoryNumFolders and opens the refresh
  // pool. 1 on success, 0 otherwise.
  int Init();
  // Closes the pool and saves the number of entries to
  // CacheDirectoryNumFolders, so that the next start sizes the table for it.
  void Destroy();

  // The items the request wants (every cached item newer than its item
  // number, of every directory it names), refreshing stale entries first.
  // `hits` receives one flag per directory asked for (true: served without
  // a refresh). False when the request cannot be answered (500): `result`
  // then says why. `result` names the upstream server when one was asked.
  bool ProcessRequest(const QRNHTTP& request, CCacheResponse& response, CUpstreamResult& result,
                      CCacheHits& hits);

  // Counts `hits` into the sampled statistics (Statistics\CacheLoggedRequests
  // and Statistics\CacheLoggedHits, about every CacheSamplingFrequency-th).
  // The samples reach the registry at most once per kStatisticsWriteInterval
  // (and at Destroy): a registry write costs more than answering from memory.
  void RecordStatistics(const CCacheHits& hits);

  // The report of every entry (see cache_dump.h); 1 when written.
  int DumpCache(platform::File& file, std::uint32_t flags);

  CCacheTable* Table() { return m_Table.get(); }
  std::uint32_t SamplingFrequency() const { return m_SamplingFrequency; }

 private:
  friend class CCacheRefreshThread;
  using Clock = std::chrono::steady_clock;

  bool ProcessOneDirectory(const QRNHTTP& request, const std::string* argument, CCacheResponse& response,
                           CUpstreamResult& result, CCacheHits& hits, Clock::time_point start);
  bool ProcessInBatches(const QRNHTTP& request, CCacheResponse& response, CUpstreamResult& result,
                        CCacheHits& hits, Clock::time_point start);
  void ProcessCacheItem(const QRNHTTP& request, const std::string& directory, const std::string* argument,
                        CCacheRefreshOutcome& outcome, Clock::time_point start);
  // Hands the job to the refresh pool, or runs it here when the pool is full.
  void FillCacheAsync(const CCacheRefreshJob& job);
  // Runs one refresh job and signals its completion.
  void RunRefreshJob(const CCacheRefreshJob& job);
  bool FillCacheItem(const QRNHTTP& request, CCacheEntry& entry, const std::string* argument,
                     CCacheRefreshOutcome& outcome, Clock::time_point start);
  // Fetches the entry's news from upstream into the entry. `nextUpdate`
  // receives the fetched next-update time; `streamBroken` is set when the
  // data stream itself was invalid.
  bool Fetch(const QRNHTTP& request, CCacheEntry& entry, const std::string* argument, std::int64_t& nextUpdate,
             CUpstreamResult& result, bool& streamBroken);
  void BuildResponse(const QRNHTTP& request, CCacheEntry& entry, std::int64_t viewerNextUpdate,
                     CCacheResponse& response);

  // Adds the samples taken since the last write to the registry's counts;
  // under the statistics lock.
  void WriteStatistics();

  static std::string DirectoryName(std::int32_t category, const std::string* argument);
  static double SecondsSince(Clock::time_point start);

  CPRegistry m_Registry;
  std::uint32_t m_SamplingFrequency = 10;
  std::atomic<std::uint32_t> m_SamplingCounter{0};
  std::mutex m_StatisticsLock;
  // Samples not yet in the registry, and when it was last written; all
  // under the statistics lock.
  platform::DWORD m_UnwrittenRequests = 0;
  platform::DWORD m_UnwrittenHits = 0;
  Clock::time_point m_StatisticsWritten;
  std::unique_ptr<CCacheTable> m_Table;
  std::unique_ptr<CCacheRefreshFactory> m_RefreshFactory;
  std::unique_ptr<QRPoolManager> m_RefreshPool;
};
