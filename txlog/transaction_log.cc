#include "txlog/transaction_log.h"

#include <cstdio>
#include <cstring>

#include "base/event_catalogue.h"
#include "base/kibo_folder.h"
#include "base/product_identity.h"
#include "base/trace_bits.h"
#include "platform/registry.h"
#include "platform/system.h"
#include "platform/trace.h"

using platform::DWORD;

namespace {

constexpr std::int32_t kFlushPeriodSeconds = 60;
constexpr std::int32_t kDisabledPeriodSeconds = 600;
constexpr int kWakeUpsPerPurge = 60;
constexpr std::int32_t kPauseSeconds = 600;
constexpr const char* kPauseMinutesText = "10";
constexpr DWORD kStopSeconds = 15;

constexpr const char* kSoftwareLine = "#Software: Orrinvale Zondrel\r\n";

constexpr const char* kViewerFields =
    "c-ip date time cs-method cs-uri sc-status bytes time-taken x-agent r-ip rs-status\r\n";
constexpr const char* kAdminFields =
    "c-ip date time cs-method cs-uri sc-status bytes time-taken x-agent\r\n";

std::string HeaderLines(const std::string& fieldsLine) {
  char version[64];
  std::snprintf(version, sizeof(version), "#Version: %d.%d %s\r\n", net::kProductMajorVersion,
                net::kProductMinorVersion, net::kProductBuildText);
  return std::string(kSoftwareLine) + version + fieldsLine;
}

std::unique_ptr<CPTransactionLog> OpenLog(const CPRegistry& settings, const char* threadName,
                                          const char* eventName, const char* fields,
                                          const char* prefix, const char* numberValue) {
  CPRegistry reader = settings;
  std::string directory = reader.GetTransactionLogDirectory();
  // An empty setting would put the logs at the top of the file system.
  if (directory.empty()) directory = reader.GetDefaultTransactionLogDirectory();
  auto log = std::make_unique<CPTransactionLog>(settings, threadName, eventName);
  if (!log->Init(fields, prefix, directory,
                 reader.GetTransactionLogMaxFileSize(), numberValue)) {
    return nullptr;
  }
  return log;
}

}  // namespace

CPTransactionLog::CPTransactionLog(CPRegistry settings, std::string threadName,
                                   std::string updateEventName)
    : CWorkerThread(std::move(threadName), std::move(updateEventName)),
      m_Settings(std::move(settings)),
      m_Buffer(new char[kBufferSize]),
      m_Enabled(m_Settings.GetTransactionLogEnabled() != 0) {}

CPTransactionLog::~CPTransactionLog() {
  // The writer uses this object's members: it must be gone before they are.
  Stop(kStopSeconds);
  WaitForDetachedThread(platform::kInfinite);
  std::lock_guard<std::mutex> lock(m_BufferLock);
  if (m_Initialised) FlushLocked();
  m_File.reset();
}

int CPTransactionLog::Init(const char* fieldList, const char* prefix,
                           const std::string& directory, DWORD maxFileSize,
                           const char* fileNumberValueName) {
  if (m_Initialised) return 0;
  {
    std::lock_guard<std::mutex> lock(m_BufferLock);
    std::string fields = fieldList != nullptr ? fieldList : "";
    if (fields.size() < 2 || fields.compare(fields.size() - 2, 2, "\r\n") != 0) fields += "\r\n";
    m_HeaderText = "#Fields: " + fields;
    m_HeaderLength = HeaderLines(m_HeaderText).size();
    m_Prefix = prefix != nullptr ? prefix : "";
    m_Directory = directory;
    if (m_Directory.empty() || m_Directory.back() != '/') m_Directory += '/';
    m_MaxFileSize = maxFileSize < kMinimumFileSize ? kMinimumFileSize : maxFileSize;
    m_FileNumberValueName = fileNumberValueName != nullptr ? fileNumberValueName : "";
    const DWORD fallback = 1;
    m_CurrentFileNumber = m_Settings.GetValue(m_FileNumberValueName.c_str(), fallback);
    trace(trace_bits::kConfig, "CPRegistry(%s, %u) = %u\n", m_FileNumberValueName.c_str(), fallback,
          m_CurrentFileNumber);
    m_CurrentFileName = FileNameLocked();
  }
  try {
    CKiboFolder::CreateDirectoryPath(m_Directory);
  } catch (const CFileException& error) {
    trace(trace_bits::kThreads, "CPTransactionLog: cannot create the log directory %s\n", error.what());
    return 0;
  }
  m_Initialised = true;
  Start(false);
  return 1;
}

DWORD CPTransactionLog::CurrentFileNumber() {
  std::lock_guard<std::mutex> lock(m_BufferLock);
  return m_CurrentFileNumber;
}

std::string CPTransactionLog::FileNameLocked() const {
  // Prefix and number together are 8 characters, the number padded with zeros.
  const int width = m_Prefix.size() < 8 ? 8 - static_cast<int>(m_Prefix.size()) : 0;
  char number[16];
  std::snprintf(number, sizeof(number), "%0*u", width, m_CurrentFileNumber);
  return m_Directory + m_Prefix + number + m_Extension;
}

void CPTransactionLog::AddEntry(CPTransactionLogEntry& entry) {
  if (!m_Enabled || m_Suspended.load(std::memory_order_relaxed)) return;
  entry.Format();
  // An entry nobody filled has no line to write.
  if (!entry.HasLine()) return;
  const std::string& line = entry.Line();

  std::lock_guard<std::mutex> lock(m_BufferLock);
  if (line.size() > kBufferSize - m_BufferUsed) {
    FlushLocked();
    // The buffered lines make room whether or not they were written.
    m_BufferUsed = 0;
    if (line.size() > kBufferSize) {
      // Too long for any buffer: it goes to the file on its own.
      WriteLocked(line.data(), line.size());
      return;
    }
  }
  std::memcpy(m_Buffer.get() + m_BufferUsed, line.data(), line.size());
  m_BufferUsed += line.size();
}

int CPTransactionLog::Flush() {
  std::lock_guard<std::mutex> lock(m_BufferLock);
  return FlushLocked();
}

int CPTransactionLog::FlushLocked() {
  if (!WriteLocked(m_Buffer.get(), m_BufferUsed)) return 0;
  m_BufferUsed = 0;
  return 1;
}

int CPTransactionLog::WriteLocked(const char* data, std::size_t length) {
  if (!m_Enabled || m_Suspended.load() || !m_Initialised) return 0;
  // A file deleted while open (by the purge with a short age, or by hand)
  // would swallow every line written to it: it is created afresh.
  if (m_File && !platform::FileExists(m_CurrentFileName)) m_File.reset();
  if (!m_File && !OpenCurrentFileLocked()) return 0;

  // A file that holds entries is left for the next number when these bytes
  // would take it past the limit. A fresh file takes them whatever their size.
  while (length > 0) {
    const long long size = m_File->Size();
    if (size <= static_cast<long long>(m_HeaderLength) ||
        static_cast<unsigned long long>(size) + length <= m_MaxFileSize) {
      break;
    }
    m_File.reset();
    ++m_CurrentFileNumber;
    m_Settings.SetValue(m_FileNumberValueName.c_str(), m_CurrentFileNumber, platform::REG_DWORD);
    if (!OpenCurrentFileLocked()) return 0;
  }

  if (length > 0 && m_File->Write(data, length) < 0) {
    ReportWriteError(platform::GetLastError());
    // Reopened at the next flush, which reports again if it still fails.
    m_File.reset();
    return 0;
  }
  m_Suspended.store(false);
  return 1;
}

bool CPTransactionLog::OpenCurrentFileLocked() {
  m_CurrentFileName = FileNameLocked();
  m_File = platform::File::Open(m_CurrentFileName, platform::File::Mode::kAppend);
  if (m_File && m_File->Size() == 0) {
    const std::string header = HeaderLines(m_HeaderText);
    if (m_File->Write(header.data(), header.size()) < 0) {
      ReportWriteError(platform::GetLastError());
      m_File.reset();
      return false;
    }
  }
  if (!m_File) {
    const CFileException error(platform::GetLastError(), m_CurrentFileName);
    trace(trace_bits::kThreads, "CPTransactionLog: Error opening file %s\n", error.what());
    events::Report<events::kLogOpenFailed>(m_CurrentFileName, error.Reason());
    m_Suspended.store(true);
    return false;
  }
  return true;
}

void CPTransactionLog::ReportWriteError(DWORD errorCode) {
  const CFileException error(errorCode, m_CurrentFileName);
  trace(trace_bits::kThreads, "CPTransactionLog: Error writing file %s\n", error.what());
  events::Report<events::kLogWriteFailed>(m_CurrentFileName, error.Reason());
}

void CPTransactionLog::Purge() {
  const DWORD days = m_Settings.GetDeleteLogFilesOlderThanDays();
  try {
    CKiboFolder::DeleteAgedFiles(m_Directory, m_Prefix + "*" + m_Extension, days);
  } catch (const CFileException& error) {
    // Tried again at the next purge.
    trace(trace_bits::kThreads, "CPTransactionLog: purge stopped: %s\n", error.what());
  }
}

bool CPTransactionLog::WriterFlush() {
  int written;
  {
    std::lock_guard<std::mutex> lock(m_BufferLock);
    written = FlushLocked();
  }
  if (written) {
    m_ConsecutiveFailures.store(0);
    return true;
  }
  if (m_ConsecutiveFailures.fetch_add(1) + 1 < kFailuresBeforePause) return true;

  m_Suspended.store(true);
  events::Report<events::kLogPaused>(kPauseMinutesText);
  if (WaitFor(kPauseSeconds, false) == kWakeStop) return false;
  m_Suspended.store(false);
  m_ConsecutiveFailures.store(0);
  return true;
}

DWORD CPTransactionLog::WorkerThreadRun() {
  Purge();
  int wakeUps = 0;
  const std::int32_t period = m_Enabled ? kFlushPeriodSeconds : kDisabledPeriodSeconds;
  while (WaitFor(period, true) != kWakeStop) {
    if (++wakeUps >= kWakeUpsPerPurge) {
      Purge();
      wakeUps = 0;
    }
    if (m_Enabled && !WriterFlush()) break;
  }
  return 0;
}

std::unique_ptr<CPTransactionLog> OpenViewerTransactionLog(const CPRegistry& settings) {
  return OpenLog(settings, "TransactionLog", "WriteLogEntries", kViewerFields, "Tx",
                 "TransactionLogCurrID");
}

std::unique_ptr<CPTransactionLog> OpenAdminTransactionLog(const CPRegistry& settings) {
  return OpenLog(settings, "AdminTxLog", "AdminWriteLogEntries", kAdminFields, "Adm",
                 "AdminTxLogCurrID");
}
