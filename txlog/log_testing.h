// Test support for the transaction log: a log directory of its own in the
// settings, and helpers to read what the log wrote.
#pragma once

#include <string>

#include "config/cp_registry.h"
#include "platform/testing.h"
#include "txlog/transaction_log.h"
#include "txlog/transaction_log_entry.h"

namespace txlog_testing {

inline constexpr const char* kHeader =
    "#Software: Orrinvale Zondrel\r\n"
    "#Version: 1.1 Build 1.1.68 domino\r\n"
    "#Fields: c-ip date time cs-method cs-uri sc-status bytes time-taken x-agent r-ip rs-status\r\n";

// A new directory (ending in "/") set as TransactionLogDirectory.
inline std::string UseNewLogDirectory(const std::string& prefix = "log") {
  std::string dir = testing_support::MakeTempDir(prefix) + "/";
  CPRegistry().SetTransactionLogDirectory(dir.c_str());
  return dir;
}

// A filled entry whose URI tells it apart.
inline void FillEntry(CPTransactionLogEntry& entry, const std::string& uri) {
  entry.SetClientAddress("10.1.2.3");
  entry.SetMethod("GET");
  entry.SetUri(uri);
  entry.SetStatus(200);
  entry.SetBytes(512);
  entry.SetTimeTaken(0.25);
  entry.SetAgent(3);
}

// Hands the log one filled entry.
inline void AddRequest(CPTransactionLog& log, const std::string& uri) {
  CPTransactionLogEntry entry;
  FillEntry(entry, uri);
  log.AddEntry(entry);
}

inline std::size_t CountOf(const std::string& text, const std::string& part) {
  std::size_t count = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
    ++count;
  }
  return count;
}

}  // namespace txlog_testing
