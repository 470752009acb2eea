// The registry store: one SQLite database under the machine root, shared by
// every process of the machine.
//
// Keys are rows with their full folded path (root name included) under a
// unique index, so that opening any path below a handle is one indexed lookup.
// Keys are never renamed and only leaf keys are deleted, so stored paths never
// go stale. Key ids are never reused (AUTOINCREMENT): a handle on a deleted key
// keeps reporting kErrorKeyDeleted even after new keys appear.
//
// Each process keeps a small pool of connections with their prepared
// statements. Readers run in parallel (WAL). The writes of one process go
// through one queue that commits whatever has gathered in one transaction, so
// that threads of a process never contend for the database's write lock
// (only other processes meet SQLite's busy handling) and a commit serves many.
#include "platform/registry.h"

#include <pthread.h>
#include <sched.h>
#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <new>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_set>
#include <vector>

#include "platform/machine.h"
#include "platform/registry_read_cache.h"
#include "platform/system.h"

namespace platform {

struct RegKey {
  std::int64_t id;
};

namespace {

// Ids 1..4 are the predefined roots, created with the database.
RegKey g_roots[4] = {{1}, {2}, {3}, {4}};

// Connections beyond this many wait for one to come free.
constexpr std::size_t kMaxConnections = 16;

// ---------------------------------------------------------------------------
// Handles

// Live handles, so that closed or made-up handles are refused rather than
// dereferenced. Sharded to keep threads that open and close keys apart.
class HandleTable {
 public:
  HKEY Add(std::int64_t id) {
    auto* key = new RegKey{id};
    Shard& shard = ShardOf(key);
    std::unique_lock hold(shard.lock);
    shard.live.insert(key);
    return key;
  }

  bool Lookup(HKEY key, std::int64_t* id) {
    if (IsPredefinedKey(key)) {
      *id = key->id;
      return true;
    }
    if (key == nullptr) return false;
    Shard& shard = ShardOf(key);
    std::shared_lock hold(shard.lock);
    if (shard.live.count(key) == 0) return false;
    *id = key->id;
    return true;
  }

  bool Remove(HKEY key) {
    Shard& shard = ShardOf(key);
    {
      std::unique_lock hold(shard.lock);
      if (shard.live.erase(key) == 0) return false;
    }
    delete key;
    return true;
  }

 private:
  struct Shard {
    std::shared_mutex lock;
    std::unordered_set<RegKey*> live;
  };
  Shard& ShardOf(const RegKey* key) {
    return shards_[(reinterpret_cast<std::uintptr_t>(key) >> 4) % shards_.size()];
  }
  std::array<Shard, 16> shards_;
};

HandleTable& Handles() {
  // Never destroyed: handles may be closed by static destructors of others.
  static HandleTable* table = new HandleTable;
  return *table;
}

// ---------------------------------------------------------------------------
// Names

// Names compare without regard to (ASCII) case; stored paths are upper-cased.
std::string Fold(std::string_view text) {
  std::string folded(text);
  for (char& c : folded) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return folded;
}

// A key path below some key, split into its components.
struct SubPath {
  std::vector<std::string_view> parts;
  std::string folded;  // "\\A\\B", ready to append to a stored path
};

LONG ParseSubPath(const char* subKey, SubPath* out) {
  std::string_view text = subKey != nullptr ? subKey : "";
  if (text.size() > kMaxKeyPathLength) return static_cast<LONG>(kErrorFilenameExcedRange);
  // One trailing backslash is tolerated ("Software\\"); any other empty part is not.
  if (!text.empty() && text.back() == '\\') text.remove_suffix(1);
  if (text.empty()) return 0;
  std::size_t start = 0;
  while (true) {
    std::size_t end = text.find('\\', start);
    std::string_view part = text.substr(start, end == std::string_view::npos ? end : end - start);
    if (part.empty()) return static_cast<LONG>(kErrorInvalidParameter);
    if (part.size() > kMaxKeyNameLength) return static_cast<LONG>(kErrorFilenameExcedRange);
    out->parts.push_back(part);
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  out->folded.reserve(text.size() + 1);
  out->folded += '\\';
  out->folded += Fold(text);
  return 0;
}

LONG CheckValueName(const char* name) {
  if (name != nullptr && std::strlen(name) > kMaxValueNameLength) {
    return static_cast<LONG>(kErrorFilenameExcedRange);
  }
  return 0;
}

// ---------------------------------------------------------------------------
// Database

LONG FromSqlite(int rc) {
  switch (rc & 0xFF) {
    case SQLITE_OK:
    case SQLITE_ROW:
    case SQLITE_DONE:
      return 0;
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      return static_cast<LONG>(kErrorBusy);
    case SQLITE_NOMEM:
      return static_cast<LONG>(kErrorNotEnoughMemory);
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_AUTH:
    case SQLITE_CANTOPEN:
      return static_cast<LONG>(kErrorAccessDenied);
    case SQLITE_IOERR:
    case SQLITE_FULL:
      return static_cast<LONG>(kErrorWriteFault);
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
      return static_cast<LONG>(kErrorBadFormat);
    case SQLITE_TOOBIG:
      return static_cast<LONG>(kErrorInvalidParameter);
    default:
      return static_cast<LONG>(kErrorInvalidData);
  }
}

// Short waits first (writers commit in microseconds), then 1 ms steps, giving
// up after about ten seconds.
int WaitWhileBusy(void*, int attempts) {
  if (attempts < 4) {
    sched_yield();
  } else if (attempts < 24) {
    ::usleep(50);
  } else if (attempts < 64) {
    ::usleep(200);
  } else if (attempts < 64 + 10000) {
    ::usleep(1000);
  } else {
    return 0;
  }
  return 1;
}

constexpr const char* kSchema =
    "CREATE TABLE IF NOT EXISTS keys ("
    " id INTEGER PRIMARY KEY AUTOINCREMENT,"
    " parent INTEGER NOT NULL,"
    " name TEXT NOT NULL,"
    " path TEXT NOT NULL UNIQUE);"
    "CREATE INDEX IF NOT EXISTS keys_by_parent ON keys(parent, path);"
    "CREATE TABLE IF NOT EXISTS vals ("
    " id INTEGER PRIMARY KEY,"
    " key INTEGER NOT NULL,"
    " name TEXT NOT NULL,"
    " fold TEXT NOT NULL,"
    " type INTEGER NOT NULL,"
    " data BLOB NOT NULL,"
    " UNIQUE(key, fold));"
    // Rows of one key in rowid order: the order the values were first written.
    "CREATE INDEX IF NOT EXISTS vals_by_key ON vals(key);"
    "INSERT OR IGNORE INTO keys(id, parent, name, path) VALUES"
    " (1, 0, 'HKEY_CLASSES_ROOT', 'HKEY_CLASSES_ROOT'),"
    " (2, 0, 'HKEY_CURRENT_USER', 'HKEY_CURRENT_USER'),"
    " (3, 0, 'HKEY_LOCAL_MACHINE', 'HKEY_LOCAL_MACHINE'),"
    " (4, 0, 'HKEY_USERS', 'HKEY_USERS');";

enum Sql {
  kBegin,
  kCommit,
  kRollback,
  kSavepoint,
  kRelease,
  kRollbackTo,
  kKeyExists,
  kKeyPath,
  kFindBelow,
  kFindPath,
  kInsertKey,
  kHasChild,
  kDeleteKey,
  kDeleteKeyValues,
  kEnumKey,
  kKeyInfo,
  kQueryValue,
  kSetValue,
  kDeleteValue,
  kEnumValue,
  kEnumValueSize,
  kSqlCount
};

constexpr std::array<const char*, kSqlCount> kSqlText = {
    "BEGIN IMMEDIATE",
    "COMMIT",
    "ROLLBACK",
    "SAVEPOINT one_write",
    "RELEASE one_write",
    "ROLLBACK TO one_write",
    "SELECT 1 FROM keys WHERE id = ?1",
    "SELECT path FROM keys WHERE id = ?1",
    "SELECT k.id FROM keys AS p JOIN keys AS k ON k.path = p.path || ?2 WHERE p.id = ?1",
    "SELECT id FROM keys WHERE path = ?1",
    "INSERT INTO keys(parent, name, path) VALUES (?1, ?2, ?3)",
    "SELECT 1 FROM keys WHERE parent = ?1 LIMIT 1",
    "DELETE FROM keys WHERE id = ?1",
    "DELETE FROM vals WHERE key = ?1",
    "SELECT name FROM keys WHERE parent = ?1 ORDER BY path LIMIT 1 OFFSET ?2",
    "SELECT (SELECT count(*) FROM keys WHERE parent = ?1),"
    " (SELECT coalesce(max(length(CAST(name AS BLOB))), 0) FROM keys WHERE parent = ?1),"
    " (SELECT count(*) FROM vals WHERE key = ?1),"
    " (SELECT coalesce(max(length(CAST(name AS BLOB))), 0) FROM vals WHERE key = ?1),"
    " (SELECT coalesce(max(length(data)), 0) FROM vals WHERE key = ?1)"
    " FROM keys WHERE id = ?1",
    // Values are found through the path of their key below a handle's key
    // ("" for that key itself), so that a value of a subkey takes one statement.
    "SELECT v.type, v.data FROM keys AS p JOIN keys AS k ON k.path = p.path || ?2"
    " JOIN vals AS v ON v.key = k.id AND v.fold = ?3 WHERE p.id = ?1",
    "INSERT INTO vals(key, name, fold, type, data)"
    " SELECT k.id, ?3, ?4, ?5, ?6 FROM keys AS p JOIN keys AS k ON k.path = p.path || ?2"
    " WHERE p.id = ?1"
    " ON CONFLICT(key, fold) DO UPDATE SET type = excluded.type, data = excluded.data",
    "DELETE FROM vals WHERE key = ?1 AND fold = ?2",
    "SELECT name, type, data FROM vals WHERE key = ?1 ORDER BY id LIMIT 1 OFFSET ?2",
    "SELECT name, type, length(data) FROM vals WHERE key = ?1 ORDER BY id LIMIT 1 OFFSET ?2",
};

// Called after each commit with the number of frames in the log.
int AfterCommit(void*, sqlite3* db, const char*, int frames);

class Connection {
 public:
  ~Connection() {
    for (sqlite3_stmt* stmt : statements_) sqlite3_finalize(stmt);
    sqlite3_close(db_);
  }

  static std::unique_ptr<Connection> Open(LONG* error) {
    std::unique_ptr<Connection> connection(new Connection);
    std::string path = MachineRoot() + "/registry.db";
    int rc = sqlite3_open_v2(path.c_str(), &connection->db_,
                             SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                             nullptr);
    if (rc == SQLITE_OK) {
      sqlite3_busy_handler(connection->db_, WaitWhileBusy, nullptr);
      // Replaces SQLite's own checkpoints on commit (see AfterCommit).
      sqlite3_wal_hook(connection->db_, AfterCommit, nullptr);
      rc = sqlite3_exec(connection->db_, "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;"
                        // A log that grew in a burst shrinks back when it starts over.
                        " PRAGMA journal_size_limit=4194304;",
                        nullptr, nullptr, nullptr);
    }
    if (rc == SQLITE_OK) rc = connection->CreateSchema();
    *error = FromSqlite(rc);
    if (rc != SQLITE_OK) return nullptr;
    return connection;
  }

  // The cached statement, prepared on first use; null when it cannot be.
  sqlite3_stmt* Statement(Sql id, int* rc) {
    if (statements_[id] == nullptr) {
      *rc = sqlite3_prepare_v3(db_, kSqlText[id], -1, SQLITE_PREPARE_PERSISTENT, &statements_[id],
                               nullptr);
    }
    return statements_[id];
  }

  std::int64_t LastInsertId() const { return sqlite3_last_insert_rowid(db_); }
  // Copies what the log holds into the database, as far as readers allow,
  // without waiting for anyone.
  void Checkpoint() { sqlite3_wal_checkpoint_v2(db_, nullptr, SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr); }
  int Changes() const { return sqlite3_changes(db_); }

 private:
  Connection() = default;

  int CreateSchema() {
    int rc = sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) return rc;
    rc = sqlite3_exec(db_, kSchema, nullptr, nullptr, nullptr);
    sqlite3_exec(db_, rc == SQLITE_OK ? "COMMIT" : "ROLLBACK", nullptr, nullptr, nullptr);
    return rc;
  }

  sqlite3* db_ = nullptr;
  std::array<sqlite3_stmt*, kSqlCount> statements_{};
};

class ConnectionPool;
ConnectionPool& Pool();

// Bumped in the child of every fork, so that the pool can tell that its
// connections belong to the parent (cheaper than asking for the pid each time).
std::atomic<unsigned> g_fork_generation{0};

// Connections are handed to one thread at a time. A process that forked
// leaves its parent's connections alone (SQLite forbids using them in the
// child) and opens its own.
class ConnectionPool {
 public:
  ConnectionPool() {
    // The pool's lock is held across a fork so that the child gets it free.
    ::pthread_atfork([] { Pool().lock_.lock(); }, [] { Pool().lock_.unlock(); },
                     [] {
                       g_fork_generation.fetch_add(1, std::memory_order_relaxed);
                       Pool().lock_.unlock();
                     });
  }

  Connection* Acquire(LONG* error) {
    std::unique_lock hold(lock_);
    unsigned generation = g_fork_generation.load(std::memory_order_relaxed);
    if (generation != generation_) {
      idle_.clear();  // the parent's connections: dropped, never closed here
      open_ = 0;
      generation_ = generation;
    }
    while (idle_.empty() && open_ >= kMaxConnections) free_.wait(hold);
    if (!idle_.empty()) {
      Connection* connection = idle_.back();
      idle_.pop_back();
      return connection;
    }
    ++open_;
    hold.unlock();
    std::unique_ptr<Connection> connection = Connection::Open(error);
    if (connection == nullptr) {
      hold.lock();
      --open_;
      free_.notify_one();
      return nullptr;
    }
    return connection.release();
  }

  void Release(Connection* connection) {
    std::lock_guard hold(lock_);
    // Taken before a fork: not ours to reuse.
    if (generation_ != g_fork_generation.load(std::memory_order_relaxed)) return;
    idle_.push_back(connection);
    free_.notify_one();
  }

 private:
  std::mutex lock_;
  std::condition_variable free_;
  std::vector<Connection*> idle_;
  std::size_t open_ = 0;
  unsigned generation_ = 0;
};

ConnectionPool& Pool() {
  static ConnectionPool* pool = new ConnectionPool;  // outlives static destructors
  return *pool;
}

// A connection for the duration of one call.
class PooledConnection {
 public:
  PooledConnection() : connection_(Pool().Acquire(&error_)) {}
  ~PooledConnection() {
    if (connection_ != nullptr) Pool().Release(connection_);
  }
  PooledConnection(const PooledConnection&) = delete;
  PooledConnection& operator=(const PooledConnection&) = delete;

  Connection* operator->() { return connection_; }
  Connection& operator*() { return *connection_; }
  explicit operator bool() const { return connection_ != nullptr; }
  LONG error() const { return error_; }

 private:
  LONG error_ = 0;
  Connection* connection_;
};

// One execution of a cached statement; resets it when done so that no read
// transaction stays open.
class Query {
 public:
  Query(Connection& connection, Sql id) : stmt_(connection.Statement(id, &rc_)) {}
  ~Query() {
    if (stmt_ != nullptr) sqlite3_reset(stmt_);
  }
  Query(const Query&) = delete;
  Query& operator=(const Query&) = delete;

  Query& Int(int index, std::int64_t value) {
    if (stmt_ != nullptr) sqlite3_bind_int64(stmt_, index, value);
    return *this;
  }
  // Bound without copying: the text must outlive Step().
  Query& Text(int index, std::string_view text) {
    if (stmt_ != nullptr) {
      sqlite3_bind_text(stmt_, index, text.empty() ? "" : text.data(), static_cast<int>(text.size()),
                        SQLITE_STATIC);
    }
    return *this;
  }
  Query& Blob(int index, const BYTE* data, DWORD size) {
    // A null pointer would bind NULL rather than an empty value.
    static const BYTE kEmpty = 0;
    if (stmt_ != nullptr) {
      sqlite3_bind_blob(stmt_, index, size == 0 ? &kEmpty : data, static_cast<int>(size),
                        SQLITE_STATIC);
    }
    return *this;
  }

  // SQLITE_ROW, SQLITE_DONE or an error.
  int Step() {
    if (stmt_ == nullptr) return rc_;
    rc_ = sqlite3_step(stmt_);
    return rc_;
  }
  // Runs a statement that returns no rows; 0 or a registry error.
  LONG Run() {
    int rc = Step();
    return rc == SQLITE_DONE || rc == SQLITE_ROW ? 0 : FromSqlite(rc);
  }

  std::int64_t ColumnInt(int column) { return sqlite3_column_int64(stmt_, column); }
  std::string_view ColumnText(int column) {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, column));
    int size = sqlite3_column_bytes(stmt_, column);
    return text == nullptr ? std::string_view() : std::string_view(text, static_cast<std::size_t>(size));
  }
  std::string_view ColumnBlob(int column) {
    const auto* data = static_cast<const char*>(sqlite3_column_blob(stmt_, column));
    int size = sqlite3_column_bytes(stmt_, column);
    return data == nullptr ? std::string_view() : std::string_view(data, static_cast<std::size_t>(size));
  }

 private:
  int rc_ = SQLITE_OK;
  sqlite3_stmt* stmt_;
};

// One write: statements that run inside a write transaction and return 0 or
// an error. Refers to the caller's function object, which outlives the call.
class WriteOp {
 public:
  template <typename Function>
  explicit WriteOp(Function& function)
      : context_(&function), call_([](void* context, Connection& connection) -> LONG {
          return (*static_cast<Function*>(context))(connection);
        }) {}
  LONG operator()(Connection& connection) const { return call_(context_, connection); }

 private:
  void* context_;
  LONG (*call_)(void*, Connection&);
};

// The process's writes. Writers that arrive while a transaction is being
// committed are committed together in the next one (BEGIN IMMEDIATE ..
// COMMIT), each inside a savepoint of its own, so that a failed write leaves
// no trace and the others still commit. Every call returns only once its
// write is committed, or with the error that kept it out.
class WriteQueue {
 public:
  static WriteQueue& Instance() {
    static WriteQueue* queue = new WriteQueue;  // outlives static destructors
    return *queue;
  }

  LONG Run(const WriteOp& op) {
    Pending self(&op);
    std::unique_lock hold(lock_);
    waiting_.push_back(&self);
    while (!self.done) {
      if (leading_) {
        self.wake.wait(hold);
        continue;
      }
      // This thread commits the writes waiting now (its own among them).
      leading_ = true;
      std::size_t count = std::min(waiting_.size(), kMaxBatch);
      std::vector<Pending*> batch(waiting_.begin(), waiting_.begin() + static_cast<std::ptrdiff_t>(count));
      waiting_.erase(waiting_.begin(), waiting_.begin() + static_cast<std::ptrdiff_t>(count));
      hold.unlock();
      Commit(batch);
      hold.lock();
      leading_ = false;
      // Wake exactly those whose writes are done, and one writer still
      // waiting to lead the next commit: no thundering herd.
      for (Pending* pending : batch) {
        pending->done = true;
        if (pending != &self) pending->wake.notify_one();
      }
      if (!waiting_.empty()) waiting_.front()->wake.notify_one();
    }
    return self.result;
  }

 private:
  static constexpr std::size_t kMaxBatch = 64;

  WriteQueue() {
    // A forked child has none of its parent's other threads: it starts with
    // an empty queue, and gets the lock free.
    ::pthread_atfork([] { Instance().lock_.lock(); }, [] { Instance().lock_.unlock(); },
                     [] {
                       Instance().waiting_.clear();
                       Instance().leading_ = false;
                       Instance().lock_.unlock();
                     });
  }

  struct Pending {
    explicit Pending(const WriteOp* write) : op(write) {}
    const WriteOp* op;
    LONG result = 0;
    bool done = false;
    std::condition_variable wake;
  };

  static LONG RunOne(const WriteOp& op, Connection& connection) {
    try {
      return op(connection);
    } catch (const std::bad_alloc&) {
      return static_cast<LONG>(kErrorNotEnoughMemory);
    }
  }

  static void Commit(const std::vector<Pending*>& batch) {
    PooledConnection connection;
    LONG error = connection ? Query(*connection, kBegin).Run() : connection.error();
    if (error != 0) {
      for (Pending* pending : batch) pending->result = error;
      return;
    }
    if (batch.size() == 1) {
      // Alone: the transaction itself is the unit that is undone.
      Pending* pending = batch.front();
      pending->result = RunOne(*pending->op, *connection);
      if (pending->result == 0) pending->result = Query(*connection, kCommit).Run();
      if (pending->result != 0) Query(*connection, kRollback).Run();
      return;
    }
    for (Pending* pending : batch) {
      pending->result = Query(*connection, kSavepoint).Run();
      if (pending->result != 0) continue;
      pending->result = RunOne(*pending->op, *connection);
      if (pending->result != 0) Query(*connection, kRollbackTo).Run();
      Query(*connection, kRelease).Run();
    }
    error = Query(*connection, kCommit).Run();
    if (error != 0) {
      Query(*connection, kRollback).Run();
      for (Pending* pending : batch) {
        if (pending->result == 0) pending->result = error;
      }
    }
  }

  std::mutex lock_;
  std::vector<Pending*> waiting_;
  bool leading_ = false;
};

// Checkpoints wait for the disk (they sync the log and the database), so they
// run on a thread of their own rather than in the commit of some writer. The
// log starts over only when a writer finds it wholly copied, which a steady
// stream of writes may never let the thread see; so a writer finishes the
// copy itself (mostly done by then, but synced) when the log grows long.
class Checkpointer {
 public:
  static constexpr int kStartFrames = 1000;
  static constexpr int kForceFrames = 4000;

  static Checkpointer& Instance() {
    static Checkpointer* checkpointer = new Checkpointer;  // outlives static destructors
    return *checkpointer;
  }

  void Request() {
    std::lock_guard hold(lock_);
    requested_ = true;
    if (!running_) {
      running_ = true;
      std::thread([this] { Loop(); }).detach();
    }
    wake_.notify_one();
  }

 private:
  Checkpointer() {
    // A forked child has no checkpoint thread: it starts its own when needed.
    ::pthread_atfork([] { Instance().lock_.lock(); }, [] { Instance().lock_.unlock(); },
                     [] {
                       Instance().running_ = false;
                       Instance().requested_ = false;
                       Instance().lock_.unlock();
                     });
  }

  [[noreturn]] void Loop() {
    std::unique_lock hold(lock_);
    while (true) {
      wake_.wait(hold, [this] { return requested_; });
      requested_ = false;
      hold.unlock();
      {
        PooledConnection connection;
        if (connection) connection->Checkpoint();
      }
      // Commits keep asking while the log is long; one pass per pause is enough.
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
      hold.lock();
    }
  }

  std::mutex lock_;
  std::condition_variable wake_;
  bool requested_ = false;
  bool running_ = false;
};

int AfterCommit(void*, sqlite3* db, const char*, int frames) {
  if (frames >= Checkpointer::kForceFrames) {
    sqlite3_wal_checkpoint_v2(db, nullptr, SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
  } else if (frames >= Checkpointer::kStartFrames) {
    Checkpointer::Instance().Request();
  }
  return SQLITE_OK;
}

// Runs `function(connection)` as one atomic, committed write.
template <typename Function>
LONG RunWrite(Function function) {
  return WriteQueue::Instance().Run(WriteOp(function));
}

// Writes that change keys, or values of one name: every process's
// remembered reads they may change are set aside until they are committed
// (see registry_read_cache.h).
template <typename Write>
LONG ChangingKeys(Write write) {
  registry_cache::KeysChanging changing;
  return write();
}

template <typename Function>
LONG ChangingValue(std::string_view foldedName, Function function) {
  registry_cache::ValueChanging changing(foldedName);
  return RunWrite(function);
}

// ---------------------------------------------------------------------------
// Lookups shared by the calls

bool KeyExists(Connection& connection, std::int64_t id) {
  Query query(connection, kKeyExists);
  return query.Int(1, id).Step() == SQLITE_ROW;
}

// The error for a lookup below `id` that found nothing.
LONG MissingBelow(Connection& connection, std::int64_t id) {
  return static_cast<LONG>(KeyExists(connection, id) ? kErrorFileNotFound : kErrorKeyDeleted);
}

// Finds the key at `path` below `id`: 0, or the registry error.
LONG FindBelow(Connection& connection, std::int64_t id, const SubPath& path, std::int64_t* found) {
  if (path.parts.empty()) {
    *found = id;
    return KeyExists(connection, id) ? 0 : static_cast<LONG>(kErrorKeyDeleted);
  }
  {
    Query query(connection, kFindBelow);
    int rc = query.Int(1, id).Text(2, path.folded).Step();
    if (rc == SQLITE_ROW) {
      *found = query.ColumnInt(0);
      return 0;
    }
    if (rc != SQLITE_DONE) return FromSqlite(rc);
  }
  return MissingBelow(connection, id);
}

// Length of a stored path without its root's name ("\\A\\B" of "HKEY_USERS\\A\\B").
std::size_t BelowRootLength(const std::string& stored) {
  std::size_t slash = stored.find('\\');
  return slash == std::string::npos ? 0 : stored.size() - slash;
}

// Common start of every call on a handle.
struct Call {
  LONG error = 0;
  std::int64_t id = 0;
};

Call Resolve(HKEY key) {
  Call call;
  if (!Handles().Lookup(key, &call.id)) call.error = static_cast<LONG>(kErrorInvalidHandle);
  return call;
}

// The checks that open and create share.
LONG PrepareOpen(HKEY key, const char* subKey, HKEY* result, Call* call, SubPath* path) {
  if (result == nullptr) return static_cast<LONG>(kErrorInvalidParameter);
  *result = nullptr;
  *call = Resolve(key);
  if (call->error != 0) return call->error;
  return ParseSubPath(subKey, path);
}

// Returns a value found by a query whose columns `first` and `first` + 1 are
// the type and the data (or, when no data is wanted, its length).
LONG TakeValue(Query& query, int first, DWORD* type, BYTE* data, DWORD* size) {
  if (type != nullptr) *type = static_cast<DWORD>(query.ColumnInt(first));
  if (data == nullptr) {
    if (size != nullptr) *size = static_cast<DWORD>(query.ColumnInt(first + 1));
    return 0;
  }
  std::string_view stored = query.ColumnBlob(first + 1);
  DWORD capacity = *size;
  *size = static_cast<DWORD>(stored.size());
  if (stored.size() > capacity) return static_cast<LONG>(kErrorMoreData);
  if (!stored.empty()) std::memcpy(data, stored.data(), stored.size());
  return 0;
}

// ---------------------------------------------------------------------------
// Remembered reads (see registry_read_cache.h)

// The cache's name for a question about `id`.
std::string Question(char kind, std::int64_t id, const SubPath& path, std::string_view foldedName) {
  std::string question(1, kind);
  question.append(reinterpret_cast<const char*>(&id), sizeof(id));
  question += path.folded;
  question += '\0';
  question += foldedName;
  return question;
}

// Answers that stand until the next write; anything else (a busy or broken
// database) is not remembered.
bool Settled(LONG result) {
  return result == 0 || result == static_cast<LONG>(kErrorFileNotFound) ||
         result == static_cast<LONG>(kErrorKeyDeleted);
}

// Reads a value whole into `answer`; returns an error only when the database
// could not answer (a missing key or value is an answer).
LONG ReadValue(std::int64_t id, const SubPath& path, const std::string& foldedName,
               registry_cache::Answer* answer) {
  PooledConnection connection;
  if (!connection) return connection.error();
  {
    Query query(*connection, kQueryValue);
    int rc = query.Int(1, id).Text(2, path.folded).Text(3, foldedName).Step();
    if (rc == SQLITE_ROW) {
      answer->type = static_cast<DWORD>(query.ColumnInt(0));
      answer->data = query.ColumnBlob(1);
      return 0;
    }
    if (rc != SQLITE_DONE) return FromSqlite(rc);
  }
  // Say whether the key or only the value is missing.
  std::int64_t found = 0;
  LONG error = FindBelow(*connection, id, path, &found);
  answer->result = error != 0 ? error : static_cast<LONG>(kErrorFileNotFound);
  return Settled(answer->result) ? 0 : answer->result;
}

// Hands a found value to the caller as RegGetValue does.
LONG Deliver(const registry_cache::Answer& answer, DWORD* type, BYTE* data, DWORD* size) {
  if (type != nullptr) *type = answer.type;
  if (data == nullptr) {
    if (size != nullptr) *size = static_cast<DWORD>(answer.data.size());
    return 0;
  }
  DWORD capacity = *size;
  *size = static_cast<DWORD>(answer.data.size());
  if (answer.data.size() > capacity) return static_cast<LONG>(kErrorMoreData);
  if (!answer.data.empty()) std::memcpy(data, answer.data.data(), answer.data.size());
  return 0;
}

}  // namespace

const HKEY HKEY_CLASSES_ROOT = &g_roots[0];
const HKEY HKEY_CURRENT_USER = &g_roots[1];
const HKEY HKEY_LOCAL_MACHINE = &g_roots[2];
const HKEY HKEY_USERS = &g_roots[3];

bool IsPredefinedKey(HKEY key) { return key >= &g_roots[0] && key <= &g_roots[3]; }

LONG RegOpenKeyEx(HKEY key, const char* subKey, DWORD access, HKEY* result) {
  Call call;
  SubPath path;
  if (LONG error = PrepareOpen(key, subKey, result, &call, &path); error != 0) return error;
  const std::string question = Question('K', call.id, path, {});
  registry_cache::Stamp stamp;
  const bool cached = registry_cache::KeyStamp(&stamp);
  registry_cache::Answer answer;
  if (!cached || !registry_cache::Find(question, stamp, &answer)) {
    PooledConnection connection;
    if (!connection) return connection.error();
    answer.result = FindBelow(*connection, call.id, path, &answer.id);
    if (!Settled(answer.result)) return answer.result;
    registry_cache::Stamp now;
    if (cached && registry_cache::KeyStamp(&now)) registry_cache::Remember(question, stamp, now, answer);
  }
  if (answer.result != 0) return answer.result;
  *result = Handles().Add(answer.id);
  return 0;
}

LONG RegCreateKeyEx(HKEY key, const char* subKey, DWORD access, HKEY* result,
                    DWORD* disposition) {
  Call call;
  SubPath path;
  if (LONG error = PrepareOpen(key, subKey, result, &call, &path); error != 0) return error;
  // Most calls find the key already there: no write for them.
  std::int64_t found = 0;
  {
    PooledConnection connection;
    if (!connection) return connection.error();
    LONG error = FindBelow(*connection, call.id, path, &found);
    if (error != 0 && error != static_cast<LONG>(kErrorFileNotFound)) return error;
    if (error == 0) {
      if (disposition != nullptr) *disposition = REG_OPENED_EXISTING_KEY;
      *result = Handles().Add(found);
      return 0;
    }
  }
  bool created = false;
  auto create = [&](Connection& connection) -> LONG {
    std::string stored;
    {
      Query query(connection, kKeyPath);
      int rc = query.Int(1, call.id).Step();
      if (rc == SQLITE_DONE) return static_cast<LONG>(kErrorKeyDeleted);
      if (rc != SQLITE_ROW) return FromSqlite(rc);
      stored = query.ColumnText(0);
    }
    if (BelowRootLength(stored) + path.folded.size() > kMaxKeyPathLength) {
      return static_cast<LONG>(kErrorFilenameExcedRange);
    }
    // Walk down the path, adding each missing component.
    found = call.id;
    std::size_t offset = 0;
    for (std::string_view part : path.parts) {
      offset += 1 + part.size();
      std::string prefix = stored + path.folded.substr(0, offset);
      std::int64_t child = 0;
      {
        Query query(connection, kFindPath);
        int rc = query.Text(1, prefix).Step();
        if (rc == SQLITE_ROW) child = query.ColumnInt(0);
        else if (rc != SQLITE_DONE) return FromSqlite(rc);
      }
      created = child == 0;
      if (created) {
        Query insert(connection, kInsertKey);
        if (LONG e = insert.Int(1, found).Text(2, part).Text(3, prefix).Run(); e != 0) return e;
        child = connection.LastInsertId();
      }
      found = child;
    }
    return 0;
  };
  LONG error = ChangingKeys([&] { return RunWrite(create); });
  if (error != 0) return error;
  if (disposition != nullptr) *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
  *result = Handles().Add(found);
  return 0;
}

LONG RegCloseKey(HKEY key) {
  if (IsPredefinedKey(key)) return 0;
  if (key == nullptr || !Handles().Remove(key)) return static_cast<LONG>(kErrorInvalidHandle);
  return 0;
}

LONG RegQueryValueEx(HKEY key, const char* name, DWORD* type, BYTE* data, DWORD* size) {
  return RegGetValue(key, nullptr, name, type, data, size);
}

LONG RegGetValue(HKEY key, const char* subKey, const char* name, DWORD* type, BYTE* data,
                 DWORD* size) {
  if (data != nullptr && size == nullptr) return static_cast<LONG>(kErrorInvalidParameter);
  Call call = Resolve(key);
  if (call.error != 0) return call.error;
  SubPath path;
  if (LONG error = ParseSubPath(subKey, &path); error != 0) return error;
  if (LONG error = CheckValueName(name); error != 0) return error;
  std::string folded = Fold(name != nullptr ? name : "");
  const std::string question = Question('V', call.id, path, folded);
  registry_cache::Stamp stamp;
  const bool cached = registry_cache::ValueStamp(folded, &stamp);
  registry_cache::Answer answer;
  if (!cached || !registry_cache::Find(question, stamp, &answer)) {
    if (LONG error = ReadValue(call.id, path, folded, &answer); error != 0) return error;
    registry_cache::Stamp now;
    if (cached && registry_cache::ValueStamp(folded, &now)) {
      registry_cache::Remember(question, stamp, now, answer);
    }
  }
  if (answer.result != 0) return answer.result;
  return Deliver(answer, type, data, size);
}

LONG RegSetValueEx(HKEY key, const char* name, DWORD type, const BYTE* data, DWORD size) {
  return RegSetKeyValue(key, nullptr, name, type, data, size);
}

LONG RegSetKeyValue(HKEY key, const char* subKey, const char* name, DWORD type,
                    const BYTE* data, DWORD size) {
  Call call = Resolve(key);
  if (call.error != 0) return call.error;
  SubPath path;
  if (LONG error = ParseSubPath(subKey, &path); error != 0) return error;
  if (LONG error = CheckValueName(name); error != 0) return error;
  if (size > kMaxValueDataSize || (data == nullptr && size > 0)) {
    return static_cast<LONG>(kErrorInvalidParameter);
  }
  std::string_view spelled = name != nullptr ? name : "";
  std::string folded = Fold(spelled);
  return ChangingValue(folded, [&](Connection& connection) -> LONG {
    LONG error = Query(connection, kSetValue)
                     .Int(1, call.id)
                     .Text(2, path.folded)
                     .Text(3, spelled)
                     .Text(4, folded)
                     .Int(5, type)
                     .Blob(6, data, size)
                     .Run();
    if (error != 0 || connection.Changes() != 0) return error;
    // No key to write to: say which.
    std::int64_t found = 0;
    error = FindBelow(connection, call.id, path, &found);
    return error != 0 ? error : static_cast<LONG>(kErrorKeyDeleted);
  });
}

LONG RegDeleteValue(HKEY key, const char* name) {
  Call call = Resolve(key);
  if (call.error != 0) return call.error;
  if (LONG error = CheckValueName(name); error != 0) return error;
  std::string folded = Fold(name != nullptr ? name : "");
  return ChangingValue(folded, [&](Connection& connection) -> LONG {
    if (!KeyExists(connection, call.id)) return static_cast<LONG>(kErrorKeyDeleted);
    if (LONG e = Query(connection, kDeleteValue).Int(1, call.id).Text(2, folded).Run(); e != 0) {
      return e;
    }
    return connection.Changes() == 0 ? static_cast<LONG>(kErrorFileNotFound) : 0;
  });
}

LONG RegDeleteKey(HKEY key, const char* subKey) {
  Call call = Resolve(key);
  if (call.error != 0) return call.error;
  SubPath path;
  if (LONG error = ParseSubPath(subKey, &path); error != 0) return error;
  auto remove = [&](Connection& connection) -> LONG {
    std::int64_t target = 0;
    if (LONG error = FindBelow(connection, call.id, path, &target); error != 0) return error;
    if (target <= 4) return static_cast<LONG>(kErrorAccessDenied);  // a predefined root
    {
      Query query(connection, kHasChild);
      int rc = query.Int(1, target).Step();
      if (rc == SQLITE_ROW) return static_cast<LONG>(kErrorAccessDenied);
      if (rc != SQLITE_DONE) return FromSqlite(rc);
    }
    if (LONG e = Query(connection, kDeleteKeyValues).Int(1, target).Run(); e != 0) return e;
    return Query(connection, kDeleteKey).Int(1, target).Run();
  };
  return ChangingKeys([&] { return RunWrite(remove); });
}

LONG RegEnumKey(HKEY key, DWORD index, std::string* name) {
  Call call = Resolve(key);
  if (call.error != 0) return call.error;
  PooledConnection connection;
  if (!connection) return connection.error();
  {
    Query query(*connection, kEnumKey);
    int rc = query.Int(1, call.id).Int(2, index).Step();
    if (rc == SQLITE_ROW) {
      if (name != nullptr) name->assign(query.ColumnText(0));
      return 0;
    }
    if (rc != SQLITE_DONE) return FromSqlite(rc);
  }
  return static_cast<LONG>(KeyExists(*connection, call.id) ? kErrorNoMoreItems : kErrorKeyDeleted);
}

LONG RegEnumValue(HKEY key, DWORD index, std::string* name, DWORD* type, BYTE* data,
                  DWORD* size) {
  if (data != nullptr && size == nullptr) return static_cast<LONG>(kErrorInvalidParameter);
  Call call = Resolve(key);
  if (call.error != 0) return call.error;
  PooledConnection connection;
  if (!connection) return connection.error();
  {
    Query query(*connection, data != nullptr ? kEnumValue : kEnumValueSize);
    int rc = query.Int(1, call.id).Int(2, index).Step();
    if (rc == SQLITE_ROW) {
      if (name != nullptr) name->assign(query.ColumnText(0));
      return TakeValue(query, 1, type, data, size);
    }
    if (rc != SQLITE_DONE) return FromSqlite(rc);
  }
  return static_cast<LONG>(KeyExists(*connection, call.id) ? kErrorNoMoreItems : kErrorKeyDeleted);
}

LONG RegQueryInfoKey(HKEY key, DWORD* subKeys, DWORD* maxSubKeyLength, DWORD* values,
                     DWORD* maxValueNameLength, DWORD* maxValueLength) {
  Call call = Resolve(key);
  if (call.error != 0) return call.error;
  PooledConnection connection;
  if (!connection) return connection.error();
  Query query(*connection, kKeyInfo);
  int rc = query.Int(1, call.id).Step();
  if (rc == SQLITE_DONE) return static_cast<LONG>(kErrorKeyDeleted);
  if (rc != SQLITE_ROW) return FromSqlite(rc);
  DWORD* outputs[5] = {subKeys, maxSubKeyLength, values, maxValueNameLength, maxValueLength};
  for (int column = 0; column < 5; ++column) {
    if (outputs[column] != nullptr) *outputs[column] = static_cast<DWORD>(query.ColumnInt(column));
  }
  return 0;
}

LONG RegConnectRegistry(const char* computer, HKEY root, HKEY* result) {
  if (result == nullptr) return static_cast<LONG>(kErrorInvalidParameter);
  *result = nullptr;
  std::string_view name = computer != nullptr ? computer : "";
  if (name.size() >= 2 && name[0] == '\\' && name[1] == '\\') name.remove_prefix(2);
  if (!name.empty() && Fold(name) != Fold(GetHostName())) {
    return static_cast<LONG>(kErrorBadNetPath);
  }
  if (root != HKEY_LOCAL_MACHINE && root != HKEY_USERS) {
    return static_cast<LONG>(kErrorInvalidHandle);
  }
  *result = root;
  return 0;
}

}  // namespace platform
