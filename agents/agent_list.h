// CAgentList: which agent answers a category. The mapping (category ->
// value whose lowest byte is the agent kind) comes from Agents.lst in the
// home directory, fetched from upstream as category 67328 item 1, and is
// completed by the registry's AgentsList\DefaultList, whose entries win.
//
// Two maps and a selector: a refresh builds the map not in use and flips the
// selector, so Lookup, called by every request thread, never takes a lock and
// never sees a half-built map. A refresh thread ("AgentList", update event
// "BuildAgentList") reloads the list every night.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

#include "config/cp_registry.h"
#include "platform/types.h"

class CAgentList {
 public:
  // Refresh modes.
  static constexpr int kInitialLoad = 0;     // Agents.lst, else upstream
  static constexpr int kFetchUpstream = 1;   // upstream only

  // Seconds between attempts after a failed refresh, and before the map
  // that went out of use is emptied.
  static constexpr std::int32_t kRetrySeconds = 600;
  static constexpr std::int32_t kDrainSeconds = 300;

  // A list (file or upstream body) larger than this is refused, and so is a
  // count line above kMaxEntries: neither may size memory without bound.
  static constexpr std::size_t kMaxListBytes = 16 * 1024 * 1024;
  static constexpr std::uint32_t kMaxEntries = 1000000;

  // The file path is the home directory followed by "Agents.lst". The map
  // starts empty; nothing is read until Refresh or Start.
  explicit CAgentList(const CPRegistry& registry);
  ~CAgentList();
  CAgentList(const CAgentList&) = delete;
  CAgentList& operator=(const CAgentList&) = delete;

  // The agent kind (lowest byte of the value) of `category`, 0 when it is not
  // in the map in use. Lock-free; safe from any thread.
  int Lookup(unsigned long category) const;
  // The whole value of `category`, false when it is not listed.
  bool LookupValue(unsigned long category, std::uint32_t& value) const;
  // Entries of the map in use.
  std::size_t Count() const;

  // 1 when a list was loaded and is now in use, 0 when routing is unchanged.
  int Refresh(int mode);

  // Starts the refresh thread: initial load, then a nightly fetch.
  void Start();
  // Stops it, waiting up to `seconds`.
  void Stop(platform::DWORD seconds = 15);

  const std::string& FilePath() const { return m_FilePath; }

  // Seconds from `now` to the next nightly refresh: the coming local
  // midnight plus as many minutes as the current second of the minute, so
  // that the relays of a network do not all ask upstream at once.
  static std::int32_t NightlySleepSeconds(std::time_t now);

  // The request for the list, as sent upstream.
  static std::string UpstreamRequest();

 private:
  class RefreshThread;
  using Map = std::unordered_map<std::uint32_t, std::uint32_t>;
  struct Buffer {
    Map map;
    // Lookups in progress on this map; a refresh waits for 0 before writing.
    mutable std::atomic<std::uint32_t> readers{0};
  };

  // The text of the list, or empty when there is none (each failure is
  // reported to the event log).
  std::string ReadFromDisk();
  std::string FetchFromUpstream();
  // Writes a temporary file and puts it in place of Agents.lst.
  bool StoreOnDisk(const std::string& data);
  void AddDefaults(Map& map);
  // Runs `read` on the map in use, counted as its reader so that no
  // refresh writes that map meanwhile.
  template <typename Read>
  auto ReadInUse(Read read) const;
  // The map not in use, once no lookup reads it any more.
  Buffer& IdleBuffer();
  void EmptyIdleMap();

  CPRegistry m_Registry;
  std::string m_FilePath;
  Buffer m_Maps[2];
  std::atomic<std::uint16_t> m_InUse{0};
  // One refresh at a time (the thread, the start-up load, an administrator).
  std::mutex m_RefreshLock;
  std::unique_ptr<RefreshThread> m_Thread;
};
