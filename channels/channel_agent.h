// CChannelAgent: what the corporate and the Notes agents share. Each answers
// viewers from a few in-memory slots, rebuilt on its own worker thread every
// update period and at once when its named update event is set, and sends
// other files of its directory by name.
//
// Request threads read the slots under the shared lock; a rebuild replaces
// them under the exclusive lock. A slot's bytes are shared, not copied, by
// the answers that send them.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "agents/abstract_agent.h"
#include "config/cp_registry.h"
#include "config/statistic_counter.h"
#include "poolmgr/read_write_lock.h"
#include "poolmgr/worker_thread.h"

class CPTransactionLogEntry;

class CChannelAgent : public CAbstractAgent, public CWorkerThread {
 public:
  // How the agent names itself in its traces, and what it writes for each
  // rebuild of its worker thread.
  struct Texts {
    const char* prefix;           // "Corp Agent"
    const char* updated;          // "...Update: Updating ... files %s.\n"
    const char* updateException;  // "...thread threw an exception...\n"
  };
  ~CChannelAgent() override;

  bool Started() const { return m_Started.load(); }
  std::uint32_t RequestCount() const { return m_RequestCount.Value(); }

 protected:
  struct Slot {
    std::shared_ptr<const std::vector<char>> data;
    std::string fileName;
    std::int64_t modificationTime = -1;
  };
  using PublishCount = void (CPRegistry::*)(std::uint32_t);

  CChannelAgent(const CPRegistry& settings, const char* threadName, const char* updateEventName, const Texts& texts,
                std::size_t slotCount, PublishCount publishCount);

  // Rebuilds the slots; 1 when it succeeded.
  virtual int Rebuild() = 0;
  // Ends the worker thread. A subclass calls it first in its destructor,
  // since the thread's rebuild uses the subclass.
  void StopRebuilding();

  // The slot's bytes as one data-stream item named by its file's name, due
  // again after the slot's next-update seconds; 204 "No data" when empty.
  virtual int SendSlot(platform::SOCKET socket, unsigned long& bytesSent, QRNHTTP* request, int corpType,
                       CPTransactionLogEntry* logEntry);
  // A file of the directory by its plain name; 204 "File not found." for
  // anything else.
  virtual int SendNamedFile(platform::SOCKET socket, unsigned long& bytesSent, QRNHTTP* request,
                            const std::string& name, CPTransactionLogEntry* logEntry);
  // The last path component, with its extension.
  virtual std::string FileNameOfPath(const std::string& path) const;

  // An error packet, with its code as the transaction's status.
  void AnswerError(platform::SOCKET socket, unsigned long& bytesSent, QRNHTTP* request, int code, const char* reason,
                   CPTransactionLogEntry* logEntry);
  // The event of a request that lacks the argument its category needs.
  static void ReportMissingArgument(platform::SOCKET socket);
  // Reads `path` into the slot unless it already holds that file unchanged;
  // a missing file, or one outside the directory, empties it.
  void LoadSlotFromFile(Slot& slot, const std::string& path);
  // The slot's file name, under the shared lock.
  std::string SlotFileName(int corpType);

  platform::DWORD WorkerThreadRun() override;

  CPRegistry m_Settings;
  const Texts m_Texts;
  CReadWriteLock m_SlotLock;
  std::vector<Slot> m_Slots;
  // Set by Init, before the thread starts.
  platform::DWORD m_UpdatePeriod = 600;
  std::string m_Directory;  // ends in "/"
  std::map<int, platform::DWORD> m_NextUpdate;
  std::atomic<bool> m_Started{false};
  CStatisticCounter m_RequestCount;  // after m_Settings, which it writes to as it ends

 private:
  // The path of a file the viewer named, when it names a plain file inside
  // the directory; empty otherwise.
  std::string ResolveNamedFile(const std::string& name) const;
};

namespace channel_files {
// `directory` with a "/" at its end.
std::string WithSlash(std::string directory);
// Whether `path` lies within `directory` (both resolved), at any depth.
bool InsideDirectory(const std::string& path, const std::string& directory);
}  // namespace channel_files
