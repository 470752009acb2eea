// CPTransactionLog: the W3C extended transaction log. Request threads hand
// it one CPTransactionLogEntry per request; the line goes into a 12288-byte
// buffer under a short lock, and the log's own worker thread writes the
// buffer to the current file once a minute (or at once when the named update
// event is set, from any process). Files are numbered (Tx000001.log, ...):
// when the current file would grow past the size limit the next number is
// taken and kept in the registry, so that a restart appends to the same file.
// Files older than DeleteLogFilesOlderThanDays are purged every hour.
//
// After five failed writes in a row the log stops logging for ten minutes.
#pragma once

#include <atomic>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>

#include "config/cp_registry.h"
#include "platform/file.h"
#include "platform/types.h"
#include "poolmgr/worker_thread.h"
#include "txlog/transaction_log_entry.h"

class CPTransactionLog : public CWorkerThread {
 public:
  static constexpr std::size_t kBufferSize = 12288;
  static constexpr platform::DWORD kMinimumFileSize = 15360;
  static constexpr int kFailuresBeforePause = 5;

  // Reads TransactionLogEnabled. Nothing is opened or started yet.
  CPTransactionLog(CPRegistry settings, std::string threadName, std::string updateEventName);
  // Stops the writer, writes what is buffered and closes the file.
  ~CPTransactionLog() override;

  // `fieldList` ends with CR LF; `directory` gets a trailing "/" when it has
  // none; `maxFileSize` is raised to kMinimumFileSize; the current file
  // number comes from registry value `fileNumberValueName` (default 1).
  // Creates the directory and starts the writer. 1 on success; 0 when the
  // directory cannot be created (the log then writes nothing).
  int Init(const char* fieldList, const char* prefix, const std::string& directory,
           platform::DWORD maxFileSize, const char* fileNumberValueName);

  // Formats the entry and buffers its line (nothing when the log is
  // disabled or suspended, or the entry was never filled).
  void AddEntry(CPTransactionLogEntry& entry);
  // Writes the buffer to the current file: 1 on success, 0 on failure.
  int Flush();

  bool IsEnabled() const { return m_Enabled; }
  bool IsSuspended() const { return m_Suspended.load(); }
  platform::DWORD MaxFileSize() const { return m_MaxFileSize; }
  platform::DWORD CurrentFileNumber();
  // Failed flushes of the writer thread since its last success.
  int ConsecutiveFailures() const { return m_ConsecutiveFailures.load(); }

 protected:
  platform::DWORD WorkerThreadRun() override;

 private:
  // The lock is held by the callers of these.
  int FlushLocked();
  int WriteLocked(const char* data, std::size_t length);
  bool OpenCurrentFileLocked();
  std::string FileNameLocked() const;
  void ReportWriteError(platform::DWORD error);

  void Purge();
  // Flush for the writer thread: counts failures and pauses after too many.
  // False when a stop request ended the pause.
  bool WriterFlush();

  CPRegistry m_Settings;
  std::string m_HeaderText;
  std::string m_Prefix;
  const std::string m_Extension = ".log";
  std::string m_Directory;
  std::string m_CurrentFileName;
  platform::DWORD m_MaxFileSize = kMinimumFileSize;
  platform::DWORD m_CurrentFileNumber = 1;
  std::string m_FileNumberValueName;
  // Bytes of the three header lines: a file no longer than that holds no
  // entries and is never left for the next number.
  std::size_t m_HeaderLength = 0;

  std::mutex m_BufferLock;
  std::unique_ptr<platform::File> m_File;
  std::unique_ptr<char[]> m_Buffer;
  std::size_t m_BufferUsed = 0;

  std::atomic<bool> m_Suspended{false};
  const bool m_Enabled;
  std::atomic<bool> m_Initialised{false};
  std::atomic<int> m_ConsecutiveFailures{0};
};

// The two logs of the server, set up from the settings (directory
// TransactionLogDirectory, size limit TransactionLogMaxFileSize) and started.
// Null when the log cannot be opened; the server then runs without it.
//
// Viewer requests: writer "TransactionLog", update event "WriteLogEntries",
// files Tx000001.log..., number in TransactionLogCurrID.
std::unique_ptr<CPTransactionLog> OpenViewerTransactionLog(const CPRegistry& settings);
// The administration port: writer "AdminTxLog", update event
// "AdminWriteLogEntries", files Adm00001.log..., number in AdminTxLogCurrID.
// Its entries are CPAdminTransactionLogEntry.
std::unique_ptr<CPTransactionLog> OpenAdminTransactionLog(const CPRegistry& settings);
