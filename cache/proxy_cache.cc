#include "cache/proxy_cache.h"

#include <algorithm>
#include <ctime>
#include <exception>
#include <new>
#include <string_view>
#include <thread>

#include "base/event_catalogue.h"
#include "base/trace_bits.h"
#include "cache/cache_dump.h"
#include "cache/cache_fetch_request.h"
#include "cache/cache_refresh_thread.h"
#include "cache/cache_stream_reader.h"
#include "net/qrn_http.h"
#include "platform/trace.h"
#include "poolmgr/pool_manager.h"

namespace {

constexpr const char* kNoDataCenterText = "Unable to connect to the DataCenter to perform requested task";
constexpr const char* kReadFailedText = "Error reading response from the DataCenter";
constexpr const char* kNoEntryText = "Cache directory not available";
constexpr const char* kNoMemoryText = "Out of memory building the response";

std::int64_t Now() { return static_cast<std::int64_t>(std::time(nullptr)); }

// The item count an entry is trimmed to after a refresh: the request's
// number of items, or its number of references when that is 0.
std::size_t TrimCount(const QRNHTTP& request) {
  const std::int32_t items = request.NumberOfItems();
  if (items > 0) return static_cast<std::size_t>(items);
  const std::int32_t references = request.NumberOfReferences();
  return references > 0 ? static_cast<std::size_t>(references) : 0;
}

// An entry whose refresh deadline lies ahead answers as it is: the outcome
// becomes a hit with the entry's next-update time. False when it is stale.
bool TakeIfFresh(const CCacheEntry& entry, CCacheRefreshOutcome& outcome) {
  if (Now() >= entry.RefreshDeadline()) return false;
  outcome.viewerNextUpdate = entry.ViewerNextUpdate();
  outcome.hit = true;
  outcome.success = true;
  return true;
}

// Takes `lock` when it comes free within a millisecond. (A plain mutex with
// retries rather than a timed one: its waits are visible to the race checker.)
bool TryLockBriefly(std::mutex& lock) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(1);
  do {
    if (lock.try_lock()) return true;
    std::this_thread::yield();
  } while (std::chrono::steady_clock::now() < deadline);
  return false;
}

// Releases an entry's lock on every way out, exceptions included.
class EntryLockHold {
 public:
  explicit EntryLockHold(CCacheEntry& entry) : m_Entry(entry) {}
  ~EntryLockHold() { m_Entry.Unlock(); }
  EntryLockHold(const EntryLockHold&) = delete;
  EntryLockHold& operator=(const EntryLockHold&) = delete;

 private:
  CCacheEntry& m_Entry;
};

}  // namespace

CProxyCache::CProxyCache(const CPRegistry& settings) : m_Registry(settings) {}

CProxyCache::~CProxyCache() { Destroy(); }

int CProxyCache::Init() {
  m_SamplingFrequency = m_Registry.GetCacheSamplingFrequency();
  const std::uint32_t buckets = CCacheTable::BucketCountFor(m_Registry.GetCacheDirectoryNumFolders());
  m_Table = std::make_unique<CCacheTable>(buckets);
  trace(trace_bits::kProxy, "CProxyCache::Init() - Hash table initial size is %d\n", static_cast<int>(buckets));

  m_RefreshFactory = std::make_unique<CCacheRefreshFactory>();
  m_RefreshPool = std::make_unique<QRPoolManager>(m_RefreshFactory.get(), 0xFFFFFFFF, kRefreshCleanerIntervalMs, 5);
  if (m_RefreshPool->OpenPool(kRefreshThreads) != 0 ||
      m_RefreshPool->StartPoolCleaner(kRefreshCleanerIntervalMs) != 0) {
    // Without the pool every refresh runs on its request's own thread.
    m_RefreshPool.reset();
    return 0;
  }
  return 1;
}

void CProxyCache::Destroy() {
  if (m_RefreshPool != nullptr) {
    m_RefreshPool->ClosePoolEasy();
    m_RefreshPool.reset();
  }
  if (m_Table != nullptr) {
    const auto count = static_cast<platform::DWORD>(m_Table->Count());
    trace(trace_bits::kProxy, "CProxyCache::Destroy() - Hash table final number of elements is %d\n",
          static_cast<int>(count));
    m_Registry.SetCacheDirectoryNumFolders(count);
    m_Table.reset();
  }
  std::lock_guard<std::mutex> hold(m_StatisticsLock);
  WriteStatistics();
}

std::string CProxyCache::DirectoryName(std::int32_t category, const std::string* argument) {
  std::string name = std::to_string(category);
  if (argument != nullptr) name.append("\\").append(*argument);
  return name;
}

double CProxyCache::SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

bool CProxyCache::ProcessRequest(const QRNHTTP& request, CCacheResponse& response, CUpstreamResult& result,
                                 CCacheHits& hits) {
  const Clock::time_point start = Clock::now();
  trace(trace_bits::kProxy, "CProxyCache::ProcessRequest - Category ID %d\n", request.GetCategory());
  if (m_Table == nullptr) {
    result.reason = kNoEntryText;
    return false;
  }
  try {
    const std::vector<std::string>& arguments = request.Arguments();
    if (arguments.size() <= 1) {
      return ProcessOneDirectory(request, arguments.empty() ? nullptr : &arguments.front(), response, result, hits,
                                 start);
    }
    return ProcessInBatches(request, response, result, hits, start);
  } catch (const std::bad_alloc&) {
    result.reason = kNoMemoryText;
    return false;
  }
}

bool CProxyCache::ProcessOneDirectory(const QRNHTTP& request, const std::string* argument,
                                      CCacheResponse& response, CUpstreamResult& result, CCacheHits& hits,
                                      Clock::time_point start) {
  const std::string directory = DirectoryName(request.GetCategory(), argument);
  trace(trace_bits::kProxy, "CProxyCache::ProcessRequest - CacheDir %s\n", directory.c_str());
  CCacheRefreshOutcome outcome;
  ProcessCacheItem(request, directory, argument, outcome, start);
  hits.Add(outcome.hit);
  result = std::move(outcome.result);
  if (!outcome.success) return false;
  BuildResponse(request, *outcome.entry, outcome.viewerNextUpdate, response);
  return true;
}

bool CProxyCache::ProcessInBatches(const QRNHTTP& request, CCacheResponse& response, CUpstreamResult& result,
                                   CCacheHits& hits, Clock::time_point start) {
  // An argument named twice is one directory: its items go out once.
  std::vector<const std::string*> arguments;
  for (const std::string& argument : request.Arguments()) {
    const bool seen = std::any_of(arguments.begin(), arguments.end(),
                                  [&argument](const std::string* other) { return *other == argument; });
    if (!seen) arguments.push_back(&argument);
  }

  bool anySucceeded = false;
  CCacheBatch batch;
  for (std::size_t batchStart = 0; batchStart < arguments.size(); batchStart += kBatchSize) {
    const std::size_t batchEnd = std::min(arguments.size(), batchStart + kBatchSize);
    batch.states.clear();
    batch.states.reserve(batchEnd - batchStart);
    for (std::size_t i = batchStart; i < batchEnd; ++i) {
      CCacheRefreshJob job;
      job.cache = this;
      job.request = &request;
      job.directory = DirectoryName(request.GetCategory(), arguments[i]);
      job.argument = arguments[i];
      job.start = start;
      job.state = std::make_shared<CCacheRefreshState>();
      // Without an event of its own the job runs here, at once.
      job.state->done = platform::Event::Create(true, false);
      batch.states.push_back(job.state);
      FillCacheAsync(job);
    }
    batch.WaitForAll();
    // Each argument adds the items of its own entry, in the request's order.
    for (const std::shared_ptr<CCacheRefreshState>& state : batch.states) {
      CCacheRefreshOutcome& outcome = state->outcome;
      hits.Add(outcome.hit);
      if (!outcome.result.host.empty() || (!outcome.success && result.host.empty())) result = outcome.result;
      if (!outcome.success) continue;
      anySucceeded = true;
      BuildResponse(request, *outcome.entry, outcome.viewerNextUpdate, response);
    }
  }
  return !response.Empty() || anySucceeded;
}

void CProxyCache::ProcessCacheItem(const QRNHTTP& request, const std::string& directory,
                                   const std::string* argument, CCacheRefreshOutcome& outcome,
                                   Clock::time_point start) {
  trace(trace_bits::kProxy, "CProxyCache::ProcessCacheItem - cache dir \"%s\"\n", directory.c_str());
  CCacheEntry* entry = m_Table->FindOrCreate(directory);
  if (entry == nullptr) {
    outcome.result.reason = kNoEntryText;
    return;
  }
  outcome.entry = entry;
  if (TakeIfFresh(*entry, outcome)) {
    trace(trace_bits::kProxy,
          "CProxyCache::ProcessCacheItem - Class-C - cache already refreshed in directory \"%s\" Time(%.4f)\n",
          directory.c_str(), SecondsSince(start));
    return;
  }
  FillCacheItem(request, *entry, argument, outcome, start);
}

void CProxyCache::FillCacheAsync(const CCacheRefreshJob& job) {
  CCacheRefreshOutcome& outcome = job.state->outcome;
  CCacheEntry* entry = m_Table->FindOrCreate(job.directory);
  if (entry == nullptr) {
    outcome.result.reason = kNoEntryText;
    job.state->Complete();
    return;
  }
  outcome.entry = entry;
  if (TakeIfFresh(*entry, outcome)) {
    trace(trace_bits::kProxy, "CProxyCache::FillCacheAsync - Class-C - cache already refreshed in directory \"%s\"\n",
          job.directory.c_str());
    job.state->Complete();
    return;
  }
  if (job.state->done != nullptr && m_RefreshPool != nullptr && m_RefreshPool->IssueThread(&job) == 0) return;
  trace(trace_bits::kProxy, "CProxyCache::FillCacheAsync - ran out of threads - Refreshing synchronously\n");
  RunRefreshJob(job);
}

void CProxyCache::RunRefreshJob(const CCacheRefreshJob& job) {
  CCacheRefreshOutcome& outcome = job.state->outcome;
  try {
    FillCacheItem(*job.request, *outcome.entry, job.argument, outcome, job.start);
  } catch (const std::exception& error) {
    // The request waits for this job: it must hear of the failure.
    trace(trace_bits::kProxy, "CProxyCache::FillCacheAsync - refresh of \"%s\" failed: %s\n", job.directory.c_str(),
          error.what());
    outcome.success = false;
    outcome.result.reason = kNoMemoryText;
  }
  job.state->Complete();
}

bool CProxyCache::FillCacheItem(const QRNHTTP& request, CCacheEntry& entry, const std::string* argument,
                                CCacheRefreshOutcome& outcome, Clock::time_point start) {
  const char* directory = entry.Name().c_str();
  trace(trace_bits::kProxy, "CProxyCache::FillCacheItem - getting lock on directory \"%s\"\n", directory);
  const Clock::time_point lockStart = Clock::now();
  entry.Lock(platform::kInfinite);
  EntryLockHold hold(entry);
  const double lockWait = SecondsSince(lockStart);
  trace(trace_bits::kProxy, "CProxyCache::FillCacheItem - lock obtained on directory \"%s\" Took(%.4f)\n", directory,
        lockWait);

  if (TakeIfFresh(entry, outcome)) {
    trace(trace_bits::kProxy,
          "CProxyCache::FillCacheItem - Class-B - cache already refreshed in directory \"%s\" Time(%.4f)\n",
          directory, SecondsSince(start));
    return true;
  }

  trace(trace_bits::kProxy, "CProxyCache::FillCacheItem - Class-%s - refreshing cache in directory \"%s\" Time(%.4f)\n",
        lockWait < kLongLockWaitSeconds ? "A" : "AB", directory, SecondsSince(start));
  std::int64_t nextUpdate = 0;
  bool streamBroken = false;
  const bool fetched = Fetch(request, entry, argument, nextUpdate, outcome.result, streamBroken);
  if (!fetched) {
    if (streamBroken) entry.Trim(0);
    // Complete records that came before a failed read stay in the entry.
    entry.Publish();
    outcome.hit = false;
    outcome.success = false;
    return false;
  }
  entry.Trim(TrimCount(request));
  entry.Publish();
  trace(trace_bits::kProxy, "CProxyCache::FillCacheItem - Done receiving response\n");
  // The items are out before the times that make them fresh.
  entry.ExchangeViewerNextUpdate(nextUpdate);
  entry.ExchangeRefreshDeadline(std::min(nextUpdate, Now() + kMaxFreshSeconds));
  outcome.viewerNextUpdate = nextUpdate;
  outcome.hit = false;
  outcome.success = true;
  return true;
}

bool CProxyCache::Fetch(const QRNHTTP& request, CCacheEntry& entry, const std::string* argument,
                        std::int64_t& nextUpdate, CUpstreamResult& result, bool& streamBroken) {
  const std::string text = MakeCacheFetchRequest(request, argument, entry.NewestID());
  CPHTTPStream stream(m_Registry);
  std::string header;
  CUpstreamResult upstream;
  const int status = stream.OpenAndGetHeader(text, header, &upstream);
  result.host = upstream.host;
  result.port = upstream.port;
  result.status = status;
  result.reason.clear();

  if (status == 204) {
    stream.Close();
    nextUpdate = Now() + kNoNewsSeconds;
    return true;
  }
  if (status != 200) {
    stream.Close();
    if (upstream.host.empty()) {
      trace(trace_bits::kProxy, "CProxyCache::Fetch - ERROR CONNECTING TO ANY HOST\n");
      events::ReportLimited<events::kCacheNoDataCenter>(kEventWindowSeconds, kEventRepeats);
      result.reason = kNoDataCenterText;
    } else {
      trace(trace_bits::kProxy, "CProxyCache::Fetch - HTTP ERROR %d RETURNED BY HOST %s:%d\n", status,
            upstream.host.c_str(), static_cast<int>(upstream.port));
      result.reason = !upstream.reason.empty() ? upstream.reason : stream.GetStatusText(header);
    }
    return false;
  }

  const int contentLength = stream.GetContentLength(header);
  trace(trace_bits::kProxy, "CProxyCache::Fetch - CONNECTED TO HOST %s:%d, fetching %d bytes\n", upstream.host.c_str(),
        static_cast<int>(upstream.port), contentLength);
  trace(trace_bits::kProxy, "CProxyCache::Fetch - Content-Length = %ld\n", static_cast<long>(contentLength));
  CCacheStreamReader reader(entry, contentLength);
  const CCacheStreamReader::Outcome outcome =
      reader.ReadBody([&stream](char* buffer, std::size_t size) { return stream.Read(buffer, size); });
  stream.Close();
  switch (outcome) {
    case CCacheStreamReader::eBodyComplete:
      // A stream that names no next update is treated like "nothing new".
      nextUpdate = reader.NextUpdateAnnounced() ? reader.NextUpdateTime() : Now() + kNoNewsSeconds;
      return true;
    case CCacheStreamReader::eStreamBroken:
      trace(trace_bits::kProxy, "CProxyCache::Fetch - invalid data stream from HOST %s:%d after %ld bytes\n",
            upstream.host.c_str(), static_cast<int>(upstream.port), static_cast<long>(reader.BytesRead()));
      streamBroken = true;
      result.reason = kReadFailedText;
      return false;
    case CCacheStreamReader::eReadFailed:
      events::ReportLimited<events::kCacheReadFailed>(kEventWindowSeconds, kEventRepeats);
      result.reason = kReadFailedText;
      return false;
  }
  return false;
}

void CProxyCache::BuildResponse(const QRNHTTP& request, CCacheEntry& entry, std::int64_t viewerNextUpdate,
                                CCacheResponse& response) {
  std::shared_ptr<const CCacheItems> items = entry.Items();
  const std::int32_t category = request.GetCategory();
  const bool whole = std::find(std::begin(kWholeCategories), std::end(kWholeCategories), category) !=
                     std::end(kWholeCategories);
  const std::int64_t lastID = whole ? 0 : request.GetItem();
  trace(trace_bits::kProxy, "CProxyCache::BuildResponse - lastID %d, numItems %d\n", static_cast<int>(lastID),
        static_cast<int>(items->Count()));
  const std::size_t first = items->FirstAfter(lastID);
  for (std::size_t i = first; i < items->Count(); ++i) {
    trace(trace_bits::kProxy, "CProxyCache::BuildResponse - adding file %d\n", static_cast<int>((*items)[i].ItemID()));
  }
  response.Add(std::move(items), first, viewerNextUpdate);
}

void CProxyCache::RecordStatistics(const CCacheHits& hits) {
  for (std::size_t i = 0; i < hits.Count(); ++i) {
    const bool hit = hits[i];
    if (m_SamplingCounter.fetch_add(1) + 1 < m_SamplingFrequency) continue;
    // A busy lock skips this item; the counter keeps counting.
    if (!TryLockBriefly(m_StatisticsLock)) continue;
    ++m_UnwrittenRequests;
    if (hit) ++m_UnwrittenHits;
    m_SamplingCounter.store(0);
    if (Clock::now() - m_StatisticsWritten >= kStatisticsWriteInterval) WriteStatistics();
    m_StatisticsLock.unlock();
  }
}

void CProxyCache::WriteStatistics() {
  // Added to what the registry holds, so that a count reset meanwhile by an
  // administrator stays reset.
  if (m_UnwrittenRequests != 0) {
    m_Registry.SetStatisticsCacheLoggedRequests(m_Registry.GetStatisticsCacheLoggedRequests() + m_UnwrittenRequests);
  }
  if (m_UnwrittenHits != 0) {
    m_Registry.SetStatisticsCacheLoggedHits(m_Registry.GetStatisticsCacheLoggedHits() + m_UnwrittenHits);
  }
  m_UnwrittenRequests = 0;
  m_UnwrittenHits = 0;
  m_StatisticsWritten = Clock::now();
}

int CProxyCache::DumpCache(platform::File& file, std::uint32_t flags) {
  if (m_Table == nullptr) return 0;
  return ::DumpCache(*m_Table, file, flags);
}
