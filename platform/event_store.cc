#include "platform/event_store.h"

#include <sqlite3.h>

#include <cctype>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <mutex>

#include "platform/machine.h"

namespace platform {

namespace {

// One connection per process; reports are rare, so a lock is enough.
class EventDatabase {
 public:
  static EventDatabase& Instance() {
    static EventDatabase database;
    return database;
  }

  sqlite3* Handle() { return db_; }
  std::mutex& Lock() { return lock_; }

 private:
  EventDatabase() {
    std::string path = MachineRoot() + "/eventlog.db";
    if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                        nullptr) != SQLITE_OK) {
      sqlite3_close(db_);
      db_ = nullptr;
      return;
    }
    sqlite3_busy_timeout(db_, 10000);
    sqlite3_exec(db_, "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;", nullptr, nullptr, nullptr);
    sqlite3_exec(db_,
                 "CREATE TABLE IF NOT EXISTS events ("
                 " record INTEGER PRIMARY KEY AUTOINCREMENT, time INTEGER NOT NULL,"
                 " source TEXT NOT NULL, type INTEGER NOT NULL, category INTEGER NOT NULL,"
                 " id INTEGER NOT NULL, strings BLOB NOT NULL)",
                 nullptr, nullptr, nullptr);
  }
  ~EventDatabase() {
    if (db_ != nullptr) sqlite3_close(db_);
  }

  sqlite3* db_ = nullptr;
  std::mutex lock_;
};

// Insertion strings are stored one after the other, each ended by a NUL.
std::string JoinStrings(const std::vector<std::string>& strings) {
  std::string joined;
  std::size_t count = 0;
  for (const std::string& s : strings) {
    if (count++ == kMaxEventStrings) break;
    std::string text = s.substr(0, std::min(s.size(), kMaxEventStringLength));
    auto nul = text.find('\0');
    if (nul != std::string::npos) text.resize(nul);
    joined += text;
    joined += '\0';
  }
  return joined;
}

std::vector<std::string> SplitStrings(const void* data, int size) {
  std::vector<std::string> strings;
  const char* p = static_cast<const char*>(data);
  std::string current;
  for (int i = 0; i < size; ++i) {
    if (p[i] == '\0') {
      strings.push_back(std::move(current));
      current.clear();
    } else {
      current += p[i];
    }
  }
  return strings;
}

}  // namespace

bool AppendEventRecord(const std::string& source, WORD type, WORD category, DWORD id,
                       const std::vector<std::string>& strings) {
  EventDatabase& database = EventDatabase::Instance();
  std::lock_guard<std::mutex> hold(database.Lock());
  if (database.Handle() == nullptr) {
    SetLastError(kErrorWriteFault);
    return false;
  }
  sqlite3_stmt* statement = nullptr;
  if (sqlite3_prepare_v2(database.Handle(),
                         "INSERT INTO events(time, source, type, category, id, strings) VALUES(?,?,?,?,?,?)",
                         -1, &statement, nullptr) != SQLITE_OK) {
    SetLastError(kErrorWriteFault);
    return false;
  }
  std::string joined = JoinStrings(strings);
  sqlite3_bind_int64(statement, 1, static_cast<sqlite3_int64>(std::time(nullptr)));
  sqlite3_bind_text(statement, 2, source.c_str(), -1, SQLITE_TRANSIENT);
  sqlite3_bind_int(statement, 3, type);
  sqlite3_bind_int(statement, 4, category);
  sqlite3_bind_int64(statement, 5, id);
  sqlite3_bind_blob(statement, 6, joined.data(), static_cast<int>(joined.size()), SQLITE_TRANSIENT);
  bool ok = sqlite3_step(statement) == SQLITE_DONE;
  sqlite3_finalize(statement);
  if (!ok) SetLastError(kErrorWriteFault);
  return ok;
}

std::vector<EventRecord> ReadEventRecords(std::size_t limit) {
  std::vector<EventRecord> records;
  EventDatabase& database = EventDatabase::Instance();
  std::lock_guard<std::mutex> hold(database.Lock());
  if (database.Handle() == nullptr) return records;
  sqlite3_stmt* statement = nullptr;
  const char* sql =
      "SELECT record, time, source, type, category, id, strings FROM "
      "(SELECT * FROM events ORDER BY record DESC LIMIT ?) ORDER BY record";
  if (sqlite3_prepare_v2(database.Handle(), sql, -1, &statement, nullptr) != SQLITE_OK) return records;
  sqlite3_bind_int64(statement, 1,
                     limit > static_cast<std::size_t>(INT64_MAX) ? INT64_MAX : static_cast<sqlite3_int64>(limit));
  while (sqlite3_step(statement) == SQLITE_ROW) {
    EventRecord record;
    record.record = static_cast<std::uint64_t>(sqlite3_column_int64(statement, 0));
    record.time = sqlite3_column_int64(statement, 1);
    const unsigned char* source = sqlite3_column_text(statement, 2);
    record.source = source != nullptr ? reinterpret_cast<const char*>(source) : "";
    record.type = static_cast<WORD>(sqlite3_column_int(statement, 3));
    record.category = static_cast<WORD>(sqlite3_column_int(statement, 4));
    record.id = static_cast<DWORD>(sqlite3_column_int64(statement, 5));
    record.strings = SplitStrings(sqlite3_column_blob(statement, 6), sqlite3_column_bytes(statement, 6));
    records.push_back(std::move(record));
  }
  sqlite3_finalize(statement);
  return records;
}

std::string FormatEventMessage(const std::string& messageFilePath, DWORD id,
                               const std::vector<std::string>& strings) {
  std::ifstream file(messageFilePath);
  std::string line;
  std::string text;
  bool found = false;
  while (std::getline(file, line)) {
    if (line.empty() || line[0] == ';') continue;
    std::size_t blank = line.find_first_of(" \t");
    if (blank == std::string::npos) continue;
    char* end = nullptr;
    unsigned long value = std::strtoul(line.c_str(), &end, 0);
    if (end != line.c_str() + blank) continue;
    if (static_cast<DWORD>(value) == id) {
      text = line.substr(line.find_first_not_of(" \t", blank));
      found = true;
      break;
    }
  }
  if (!found) return {};
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 1 < text.size()) {
      if (text[i + 1] == '%') {
        out += '%';
        ++i;
        continue;
      }
      if (std::isdigit(static_cast<unsigned char>(text[i + 1]))) {
        std::size_t j = i + 1;
        std::size_t n = 0;
        while (j < text.size() && std::isdigit(static_cast<unsigned char>(text[j])) && j < i + 3) {
          n = n * 10 + static_cast<std::size_t>(text[j] - '0');
          ++j;
        }
        if (n >= 1 && n <= strings.size()) out += strings[n - 1];
        i = j - 1;
        continue;
      }
    }
    out += text[i];
  }
  return out;
}

}  // namespace platform
