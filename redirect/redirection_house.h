// CRedirectionHouse: the house of redirect.csv. It decides where the table
// comes from (its own files, the master, or a default naming this relay),
// where it is stored (the master keeps RedirectionFile, a slave the cache
// file RedirectionCacheFile) and owns the map the table is installed in.
//
// A relay's role is never stored: it is master when the master host of the
// table it holds is one of its own addresses, and slave otherwise.
//
// Installs run on the house's one-shot threads ("RedirectionInitializeThread"
// at start, "RedirectionUpdate" after every new table) or on the caller's
// thread in Refresh; an identical table is never installed twice in a row,
// so a master posts each new table to its slaves once.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <string>

#include "channels/generic_house.h"
#include "config/cp_registry.h"
#include "poolmgr/worker_thread.h"
#include "redirect/redirection_map.h"

class CRedirectionHouse : public CGenericHouse {
 public:
  // How long Initialize waits for the first refresh, Refresh for the first
  // load of a URL, and OnNewData for an install that is still posting.
  static constexpr platform::DWORD kInitializeWaitSeconds = 5;
  static constexpr platform::DWORD kLoadWaitSeconds = 240;
  static constexpr platform::DWORD kUpdateStopSeconds = 10800;
  static constexpr int kDefaultMasterPort = 8080;

  explicit CRedirectionHouse(const CPRegistry& settings);
  // With a given identity instead of the machine's (tests).
  CRedirectionHouse(const CPRegistry& settings, RedirectionIdentity identity);
  ~CRedirectionHouse() override;

  // The generic first load (the redirection file, else the cache file), then
  // Refresh on "RedirectionInitializeThread", waited for 5 seconds. 0 when
  // a table is held, else -1.
  int Initialize() override;
  // Where the table goes follows the role, whatever the argument says.
  int WriteToDisk(bool toLocalPath) override;
  // Stores a table that arrived over the network (as the generic house does),
  // never at the same time as the default table is made.
  int WriteNewData(const char* bytes, platform::DWORD length, bool toLocalPath) override;
  // Installs the new table on "RedirectionUpdate" (a master posts it on).
  void OnNewData() override;
  // The header check of redirect.csv, with its bounds.
  bool Validate(const char* bytes, platform::DWORD length, const char* path) override;

  // Installs the held table and, unless this relay is the master of a table
  // of its own, asks the configured master (then the default master); with
  // no table anywhere writes the default table naming this relay.
  virtual void Refresh();
  // Fetches redirect.csv from host:port (-1: 8080) and takes it when valid.
  bool RequestFromMaster(const std::string& host, int port);
  // The agent's periodic work: the files read again (a table edited on disk
  // is installed and, on the master, posted), then Refresh.
  void RefreshFromFiles();
  // Stops the two threads (15 seconds each).
  void StopThreads();

  CRedirectionMap& Map() { return m_Map; }
  // Whether the first Refresh has ended.
  bool IsRefreshed() const { return m_Refreshed.load(); }
  // Whether the master host of `table` is one of this host's addresses.
  bool IsMasterTable(std::string_view table);

 private:
  class COneShot : public CWorkerThread {
   public:
    COneShot(std::string name, std::function<void()> body)
        : CWorkerThread(std::move(name), ""), m_Body(std::move(body)) {}

   protected:
    platform::DWORD WorkerThreadRun() override {
      m_Body();
      return 0;
    }

   private:
    std::function<void()> m_Body;
  };

  void InstallIfNew(const std::string& table);
  void CreateDefaultMasterTable();

  CRedirectionMap m_Map;
  std::mutex m_RefreshLock;
  std::mutex m_InstallLock;
  std::string m_Installed;  // guarded by m_InstallLock
  std::mutex m_UpdateLock;  // serialises restarts of the update thread
  // A table that arrives while no table is held must not be overwritten by
  // the default table made for want of one.
  std::mutex m_StoreLock;
  std::atomic<bool> m_Refreshed{false};
  COneShot m_InitializeThread;
  COneShot m_UpdateThread;
};
