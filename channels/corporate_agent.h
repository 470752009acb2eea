// CCorporateAgent: answers the viewers' corporate-channel requests
// (categories 66816 and 67072) from five in-memory slots, and rebuilds the
// slots on its own worker thread ("CorporateAgent") every update period, at
// once when the named event "BuildCorpFile" is set, and whenever the flash
// house receives new data.
//
//   corpType 0  66816 "data_file"    corp.dat, expanded
//   corpType 1  66816 "dvlogo_file"  the DV_LOGO file
//   corpType 2  66816 "adlogo_file"  the AD_LOGO file
//   corpType 3  66816 "doze_file"    the DV_FILE file
//   corpType 4  67072                the flash file
//   corpType 5  66816 other          a file of the corporate directory
//
// Request threads read the slots under the shared lock; a rebuild replaces
// them under the exclusive lock. A slot's bytes are shared, not copied, by
// the answers that send them.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "agents/abstract_agent.h"
#include "config/cp_registry.h"
#include "config/statistic_counter.h"
#include "poolmgr/read_write_lock.h"
#include "poolmgr/worker_thread.h"

class CCorporateData;
class CFlashHouse;
class CPTransactionLogEntry;

class CCorporateAgent : public CAbstractAgent, public CWorkerThread {
 public:
  static constexpr std::int32_t kCorporateCategory = 66816;  // 0x10500
  static constexpr std::int32_t kFlashCategory = 67072;      // 0x10600
  enum eCorpType : int { eCorpData = 0, eDVLogo = 1, eADLogo = 2, eDoze = 3, eFlash = 4, eNamedFile = 5 };
  static constexpr int kSlotCount = 5;

  // The agent registers itself with `flash` for its new data.
  CCorporateAgent(const CPRegistry& settings, CCorporateData* data, CFlashHouse* flash);
  ~CCorporateAgent() override;

  // Reads the settings and starts the thread, whose first rebuild runs at
  // once. Always 1.
  int Init() override;
  int HTTPProcess(platform::SOCKET socket, unsigned long& bytesSent, QRNHTTP* request,
                  CPTransactionLogEntry* logEntry) override;
  // Rebuilds the five slots. Always 1.
  int BuildCorpFile();

  bool Started() const { return m_Started.load(); }
  std::uint32_t RequestCount() const { return m_RequestCount.Value(); }

 protected:
  virtual int GetCorpType(std::int32_t category, const std::string& argument) const;
  virtual int SendSlot(platform::SOCKET socket, unsigned long& bytesSent, QRNHTTP* request, int corpType,
                       CPTransactionLogEntry* logEntry);
  virtual int SendNamedFile(platform::SOCKET socket, unsigned long& bytesSent, QRNHTTP* request,
                            const std::string& name, CPTransactionLogEntry* logEntry);
  // The last path component, with its extension.
  virtual std::string FileNameOfPath(const std::string& path) const;

  platform::DWORD WorkerThreadRun() override;

 private:
  struct Slot {
    std::shared_ptr<const std::vector<char>> data;
    std::string fileName;
    std::int64_t modificationTime = -1;
  };

  // Reads `path` into the slot unless it already holds that file unchanged;
  // a missing file empties it.
  void LoadSlotFromFile(Slot& slot, const std::string& path);
  // The path of a file the viewer named, when it names a plain file inside
  // the corporate directory; empty otherwise.
  std::string ResolveNamedFile(const std::string& name) const;

  CPRegistry m_Settings;
  CCorporateData* m_pData;
  CFlashHouse* m_pFlash;
  CReadWriteLock m_SlotLock;
  std::array<Slot, kSlotCount> m_Slots;
  // Set by Init, before the thread starts.
  platform::DWORD m_UpdatePeriod = 600;
  std::string m_Directory;
  std::map<int, platform::DWORD> m_NextUpdate;
  std::atomic<bool> m_Started{false};
  CStatisticCounter m_RequestCount;  // after m_Settings, which it writes to as it ends
};
