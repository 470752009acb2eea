#include "domino/notes_db.h"

#include <sqlite3.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <system_error>
#include <utility>

#include "platform/file.h"

namespace notes {

namespace {

constexpr int kFormatVersion = 1;

int g_initialized = 0;
std::string g_data_directory;

// A prepared statement, finalized at the end of its scope.
class Statement {
 public:
  Statement(sqlite3* db, const char* sql) {
    if (sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr) != SQLITE_OK) stmt_ = nullptr;
  }
  ~Statement() { sqlite3_finalize(stmt_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  bool ok() const { return stmt_ != nullptr; }
  sqlite3_stmt* get() const { return stmt_; }
  void Bind(int index, std::int64_t value) { sqlite3_bind_int64(stmt_, index, value); }
  void Bind(int index, std::string_view text) {
    sqlite3_bind_text(stmt_, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
  }
  void BindBlob(int index, const std::string& bytes) {
    sqlite3_bind_blob(stmt_, index, bytes.data(), static_cast<int>(bytes.size()), SQLITE_TRANSIENT);
  }
  void Bind(int index, double value) { sqlite3_bind_double(stmt_, index, value); }
  // SQLITE_ROW, SQLITE_DONE or an error.
  int Step() { return stmt_ == nullptr ? SQLITE_ERROR : sqlite3_step(stmt_); }
  bool Run() { return Step() == SQLITE_DONE; }
  void Reset() {
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
  }
  std::int64_t Int(int column) const { return sqlite3_column_int64(stmt_, column); }
  double Real(int column) const { return sqlite3_column_double(stmt_, column); }
  std::string Text(int column) const {
    const void* data = sqlite3_column_blob(stmt_, column);
    const int size = sqlite3_column_bytes(stmt_, column);
    return data == nullptr ? std::string() : std::string(static_cast<const char*>(data), static_cast<std::size_t>(size));
  }

 private:
  sqlite3_stmt* stmt_ = nullptr;
};

// Value kinds as stored.
enum StoredKind { kStoredText = 0, kStoredList = 1, kStoredNumber = 2, kStoredTime = 3 };

// A text list as stored: each member as four length bytes (little-endian)
// and its bytes.
std::string EncodeList(const std::vector<std::string>& list) {
  std::string out;
  for (const auto& member : list) {
    const auto size = static_cast<std::uint32_t>(member.size());
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((size >> (8 * i)) & 0xFF));
    out += member;
  }
  return out;
}

bool DecodeList(const std::string& bytes, std::vector<std::string>* list) {
  std::size_t pos = 0;
  while (pos < bytes.size()) {
    if (bytes.size() - pos < 4) return false;
    std::uint32_t size = 0;
    for (int i = 0; i < 4; ++i) size |= static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[pos + i])) << (8 * i);
    pos += 4;
    if (bytes.size() - pos < size) return false;
    list->push_back(bytes.substr(pos, size));
    pos += size;
  }
  return true;
}

bool ReadValue(const Statement& row, int kindColumn, SummaryValue* value) {
  switch (row.Int(kindColumn)) {
    case kStoredText: value->kind = SummaryValue::Kind::kText; value->text = row.Text(kindColumn + 1); return true;
    case kStoredList:
      value->kind = SummaryValue::Kind::kTextList;
      return DecodeList(row.Text(kindColumn + 1), &value->list);
    case kStoredNumber: value->kind = SummaryValue::Kind::kNumber; value->number = row.Real(kindColumn + 1); return true;
    case kStoredTime: value->kind = SummaryValue::Kind::kTime; value->time.seconds = row.Int(kindColumn + 1); return true;
    default: return false;
  }
}

sqlite3* OpenFile(const std::string& path, int flags) {
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(path.c_str(), &db, flags, nullptr) != SQLITE_OK) {
    sqlite3_close(db);
    return nullptr;
  }
  sqlite3_busy_timeout(db, 2000);
  return db;
}

bool HasOurFormat(sqlite3* db) {
  Statement format(db, "SELECT version FROM notesdb_format");
  return format.ok() && format.Step() == SQLITE_ROW && format.Int(0) == kFormatVersion;
}

// Days since 1970-01-01 of a civil date (proleptic Gregorian).
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const auto yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void CivilFromDays(std::int64_t z, std::int64_t* year, unsigned* month, unsigned* day) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const auto doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  *day = doy - (153 * mp + 2) / 5 + 1;
  *month = mp < 10 ? mp + 3 : mp - 9;
  *year = static_cast<std::int64_t>(yoe) + era * 400 + (*month <= 2);
}

}  // namespace

bool ParseUnid(std::string_view text, Unid* unid) {
  if (text.size() != 32) return false;
  Unid result;
  for (std::size_t i = 0; i < 32; ++i) {
    const char c = text[i];
    unsigned digit;
    if (c >= '0' && c <= '9') digit = static_cast<unsigned>(c - '0');
    else if (c >= 'a' && c <= 'f') digit = static_cast<unsigned>(c - 'a' + 10);
    else if (c >= 'A' && c <= 'F') digit = static_cast<unsigned>(c - 'A' + 10);
    else return false;
    result.words[i / 8] = result.words[i / 8] * 16 + digit;
  }
  *unid = result;
  return true;
}

std::string UnidText(const Unid& unid) {
  char text[33];
  std::snprintf(text, sizeof text, "%08x%08x%08x%08x", unid.words[0], unid.words[1], unid.words[2], unid.words[3]);
  return text;
}

Status Initialize() {
  if (g_initialized > 0) {
    ++g_initialized;
    return kNoError;
  }
  std::error_code error;
  const char* configured = std::getenv("ZONDREL_NOTES_DATA");
  std::string directory = configured != nullptr && configured[0] != '\0'
                              ? std::string(configured)
                              : std::filesystem::current_path(error).string();
  if (error || !std::filesystem::is_directory(directory, error)) return kErrNoDataDirectory;
  g_data_directory = directory;
  g_initialized = 1;
  return kNoError;
}

void Terminate() {
  if (g_initialized > 0 && --g_initialized == 0) g_data_directory.clear();
}

std::string DataDirectory() { return g_data_directory; }

Status ConvertTextToTime(std::string_view text, TimeDate* time) {
  std::size_t pos = 0;
  auto number = [&](unsigned* value, std::size_t* digits) {
    *value = 0;
    *digits = 0;
    while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9' && *digits < 4) {
      *value = *value * 10 + static_cast<unsigned>(text[pos] - '0');
      ++*digits;
      ++pos;
    }
    return *digits > 0;
  };
  auto expect = [&](char c) {
    if (pos >= text.size() || text[pos] != c) return false;
    ++pos;
    return true;
  };
  auto spaces = [&] {
    const std::size_t start = pos;
    while (pos < text.size() && text[pos] == ' ') ++pos;
    return pos > start;
  };
  unsigned month, day, year_digits, hour, minute, second = 0;
  std::size_t digits;
  std::size_t year_length;
  if (!number(&month, &digits) || digits > 2 || !expect('/') || !number(&day, &digits) || digits > 2 ||
      !expect('/') || !number(&year_digits, &year_length) || !spaces() || !number(&hour, &digits) || digits > 2 ||
      !expect(':') || !number(&minute, &digits) || digits != 2) {
    return kErrTimeText;
  }
  if (expect(':') && (!number(&second, &digits) || digits != 2)) return kErrTimeText;
  spaces();
  bool twelve_hour = false;
  bool pm = false;
  if (pos < text.size()) {
    const std::string_view rest = text.substr(pos);
    if (rest.size() != 2 || (rest[1] != 'M' && rest[1] != 'm')) return kErrTimeText;
    if (rest[0] == 'P' || rest[0] == 'p') pm = true;
    else if (rest[0] != 'A' && rest[0] != 'a') return kErrTimeText;
    twelve_hour = true;
  }
  std::int64_t year = year_digits;
  if (year_length <= 2) year += year >= 70 ? 1900 : 2000;
  if (month < 1 || month > 12 || day < 1 || day > 31 || minute > 59 || second > 59) return kErrTimeText;
  if (twelve_hour) {
    if (hour > 12) return kErrTimeText;
    if (hour == 12) hour = 0;
    if (pm) hour += 12;
  } else if (hour > 23) {
    return kErrTimeText;
  }
  // The day must exist in its month.
  std::int64_t check_year;
  unsigned check_month, check_day;
  const std::int64_t days = DaysFromCivil(year, month, day);
  CivilFromDays(days, &check_year, &check_month, &check_day);
  if (check_month != month || check_day != day) return kErrTimeText;
  time->seconds = days * 86400 + hour * 3600 + minute * 60 + second;
  return kNoError;
}

std::string TimeText(const TimeDate& time) {
  std::int64_t days = time.seconds / 86400;
  std::int64_t rest = time.seconds % 86400;
  if (rest < 0) {
    rest += 86400;
    --days;
  }
  std::int64_t year;
  unsigned month, day;
  CivilFromDays(days, &year, &month, &day);
  const auto hour = static_cast<unsigned>(rest / 3600);
  const unsigned twelve = hour % 12 == 0 ? 12 : hour % 12;
  char text[64];
  std::snprintf(text, sizeof text, "%02u/%02u/%04lld %02u:%02u:%02u %s", month, day, static_cast<long long>(year),
                twelve, static_cast<unsigned>(rest / 60 % 60), static_cast<unsigned>(rest % 60), hour < 12 ? "AM" : "PM");
  return text;
}

std::int64_t TimeDifference(const TimeDate& later, const TimeDate& earlier) { return later.seconds - earlier.seconds; }

Note::~Note() = default;
void Note::Close() {}

Status Note::ReadText(std::string_view name, std::string* text, std::size_t limit) const {
  Statement item(db_, "SELECT value FROM items WHERE noteid = ?1 AND name = ?2");
  if (!item.ok()) return kErrReadEntries;
  item.Bind(1, static_cast<std::int64_t>(id_));
  item.Bind(2, name);
  if (item.Step() != SQLITE_ROW) return kErrItemNotFound;
  *text = item.Text(0);
  if (text->size() > limit) text->resize(limit);
  return kNoError;
}

Collection::~Collection() = default;
void Collection::Close() {}

Status Collection::ReadEntries(std::size_t max_entries, std::vector<CollectionEntry>* entries, bool* more) {
  entries->clear();
  *more = false;
  if (max_entries > kMaxBatch) return kErrTooMany;
  Statement rows(db_,
                 "SELECT position, noteid, unid FROM entries WHERE view = ?1 AND position >= ?2 "
                 "ORDER BY position LIMIT ?3");
  Statement values(db_, "SELECT kind, value FROM entry_values WHERE view = ?1 AND position = ?2 ORDER BY col");
  if (!rows.ok() || !values.ok()) return kErrReadEntries;
  rows.Bind(1, static_cast<std::int64_t>(view_));
  rows.Bind(2, position_);
  rows.Bind(3, static_cast<std::int64_t>(max_entries) + 1);
  std::int64_t next = position_;
  int step;
  while ((step = rows.Step()) == SQLITE_ROW) {
    if (entries->size() == max_entries) {
      *more = true;
      break;
    }
    CollectionEntry entry;
    const std::int64_t position = rows.Int(0);
    entry.note_id = static_cast<NoteId>(rows.Int(1));
    if (!ParseUnid(rows.Text(2), &entry.unid)) return kErrReadEntries;
    values.Bind(1, static_cast<std::int64_t>(view_));
    values.Bind(2, position);
    int value_step;
    while ((value_step = values.Step()) == SQLITE_ROW) {
      SummaryValue value;
      if (!ReadValue(values, 0, &value)) return kErrReadEntries;
      entry.values.push_back(std::move(value));
    }
    if (value_step != SQLITE_DONE) return kErrReadEntries;
    values.Reset();
    entries->push_back(std::move(entry));
    next = position + 1;
  }
  if (step != SQLITE_ROW && step != SQLITE_DONE) {
    entries->clear();
    return kErrReadEntries;
  }
  position_ = next;
  return kNoError;
}

Database::~Database() { Close(); }

void Database::Close() {
  if (db_ != nullptr) sqlite3_close(db_);
  db_ = nullptr;
}

Status Database::Open(const std::string& path, std::unique_ptr<Database>* database) {
  if (g_initialized == 0) return kErrNotInitialized;
  if (path.empty()) return kErrOpenDatabase;
  const std::string full = path.front() == '/' ? path : g_data_directory + "/" + path;
  std::error_code error;
  if (!std::filesystem::is_regular_file(full, error)) return kErrOpenDatabase;
  sqlite3* db = OpenFile(full, SQLITE_OPEN_READONLY);
  if (db == nullptr) return kErrOpenDatabase;
  if (!HasOurFormat(db)) {
    sqlite3_close(db);
    return kErrOpenDatabase;
  }
  database->reset(new Database(db));
  return kNoError;
}

Status Database::OpenNote(NoteId id, std::unique_ptr<Note>* note) const {
  if (db_ == nullptr) return kErrOpenDatabase;
  Statement row(db_, "SELECT unid, modified FROM notes WHERE noteid = ?1");
  if (!row.ok()) return kErrReadEntries;
  row.Bind(1, static_cast<std::int64_t>(id));
  if (row.Step() != SQLITE_ROW) return kErrNoteNotFound;
  Unid unid;
  if (!ParseUnid(row.Text(0), &unid)) return kErrReadEntries;
  note->reset(new Note(db_, id, unid, TimeDate{row.Int(1)}));
  return kNoError;
}

Status Database::OpenCollection(NoteId view, std::unique_ptr<Collection>* collection) const {
  if (db_ == nullptr) return kErrOpenDatabase;
  Statement row(db_, "SELECT 1 FROM views WHERE noteid = ?1");
  if (!row.ok()) return kErrReadEntries;
  row.Bind(1, static_cast<std::int64_t>(view));
  if (row.Step() != SQLITE_ROW) return kErrNotAView;
  collection->reset(new Collection(db_, view));
  return kNoError;
}

namespace {

constexpr const char* kSchema =
    "CREATE TABLE notesdb_format(version INTEGER NOT NULL);"
    "CREATE TABLE notes(noteid INTEGER PRIMARY KEY, unid TEXT NOT NULL, modified INTEGER NOT NULL);"
    "CREATE TABLE items(noteid INTEGER NOT NULL, name TEXT NOT NULL COLLATE NOCASE, value TEXT NOT NULL,"
    " PRIMARY KEY(noteid, name));"
    "CREATE TABLE views(noteid INTEGER PRIMARY KEY, position INTEGER NOT NULL);"
    "CREATE TABLE entries(view INTEGER NOT NULL, position INTEGER NOT NULL, noteid INTEGER NOT NULL,"
    " unid TEXT NOT NULL, PRIMARY KEY(view, position));"
    "CREATE TABLE entry_values(view INTEGER NOT NULL, position INTEGER NOT NULL, col INTEGER NOT NULL,"
    " kind INTEGER NOT NULL, value, PRIMARY KEY(view, position, col));";

struct NoteRow {
  Unid unid;
  std::int64_t modified;
};

std::string NoteIdText(NoteId id) {
  char text[16];
  std::snprintf(text, sizeof text, "%08X", id);
  return text;
}

}  // namespace

std::string WriteDatabase(const std::string& path, const std::vector<ViewDescription>& views) {
  const std::string temporary = platform::TemporaryFileFor(path);
  std::error_code ignored;
  std::filesystem::remove(temporary, ignored);
  sqlite3* db = OpenFile(temporary, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
  if (db == nullptr) return "cannot create " + temporary;
  std::string error;
  auto fail = [&](const std::string& what) {
    if (error.empty()) error = what;
  };
  if (sqlite3_exec(db, "BEGIN;", nullptr, nullptr, nullptr) != SQLITE_OK ||
      sqlite3_exec(db, kSchema, nullptr, nullptr, nullptr) != SQLITE_OK) {
    fail(std::string("cannot write the database: ") + sqlite3_errmsg(db));
  }
  {
    Statement format(db, "INSERT INTO notesdb_format VALUES(?1)");
    Statement note(db, "INSERT INTO notes VALUES(?1, ?2, ?3)");
    Statement item(db, "INSERT INTO items VALUES(?1, ?2, ?3)");
    Statement view_row(db, "INSERT INTO views VALUES(?1, ?2)");
    Statement entry(db, "INSERT INTO entries VALUES(?1, ?2, ?3, ?4)");
    Statement value(db, "INSERT INTO entry_values VALUES(?1, ?2, ?3, ?4, ?5)");
    std::map<NoteId, NoteRow> notes;
    auto add_note = [&](NoteId id, const Unid& unid, TimeDate modified) {
      auto [it, added] = notes.emplace(id, NoteRow{unid, modified.seconds});
      if (!added) {
        if (!(it->second.unid == unid) || it->second.modified != modified.seconds) {
          fail("note " + NoteIdText(id) + " is described twice, differently");
        }
        return;
      }
      note.Bind(1, static_cast<std::int64_t>(id));
      note.Bind(2, UnidText(unid));
      note.Bind(3, modified.seconds);
      if (!note.Run()) fail("cannot store note " + NoteIdText(id));
      note.Reset();
    };
    format.Bind(1, static_cast<std::int64_t>(kFormatVersion));
    if (error.empty() && !format.Run()) fail("cannot write the database");
    std::int64_t view_position = 0;
    for (const auto& view : views) {
      if (!error.empty()) break;
      if ((view.note_id & kCategoryRow) != 0) fail("view " + NoteIdText(view.note_id) + " has a category row's id");
      add_note(view.note_id, view.unid, view.modified);
      view_row.Bind(1, static_cast<std::int64_t>(view.note_id));
      view_row.Bind(2, view_position++);
      if (!view_row.Run()) fail("view " + NoteIdText(view.note_id) + " is described twice");
      view_row.Reset();
      auto add_item = [&](const char* name, const std::string& text) {
        item.Bind(1, static_cast<std::int64_t>(view.note_id));
        item.Bind(2, std::string_view(name));
        item.Bind(3, text);
        if (!item.Run()) fail("cannot store the items of view " + NoteIdText(view.note_id));
        item.Reset();
      };
      if (view.has_title) add_item("$TITLE", view.title);
      if (view.has_format) add_item("$ViewFormat", view.format);
      std::int64_t position = 0;
      for (const auto& document : view.entries) {
        const NoteId id = document.category ? (document.note_id | kCategoryRow) : document.note_id;
        if (document.has_note && !document.category) add_note(id, document.unid, document.modified);
        entry.Bind(1, static_cast<std::int64_t>(view.note_id));
        entry.Bind(2, position);
        entry.Bind(3, static_cast<std::int64_t>(id));
        entry.Bind(4, UnidText(document.unid));
        if (!entry.Run()) fail("cannot store an entry of view " + NoteIdText(view.note_id));
        entry.Reset();
        std::int64_t column = 0;
        for (const auto& summary : document.values) {
          value.Bind(1, static_cast<std::int64_t>(view.note_id));
          value.Bind(2, position);
          value.Bind(3, column++);
          switch (summary.kind) {
            case SummaryValue::Kind::kText: value.Bind(4, std::int64_t{kStoredText}); value.Bind(5, summary.text); break;
            case SummaryValue::Kind::kTextList:
              value.Bind(4, std::int64_t{kStoredList});
              value.BindBlob(5, EncodeList(summary.list));
              break;
            case SummaryValue::Kind::kNumber: value.Bind(4, std::int64_t{kStoredNumber}); value.Bind(5, summary.number); break;
            case SummaryValue::Kind::kTime: value.Bind(4, std::int64_t{kStoredTime}); value.Bind(5, summary.time.seconds); break;
          }
          if (!value.Run()) fail("cannot store a value of view " + NoteIdText(view.note_id));
          value.Reset();
        }
        ++position;
      }
    }
  }
  if (error.empty() && sqlite3_exec(db, "COMMIT;", nullptr, nullptr, nullptr) != SQLITE_OK) {
    fail(std::string("cannot write the database: ") + sqlite3_errmsg(db));
  }
  sqlite3_close(db);
  if (error.empty() && !platform::RenameOver(temporary, path)) error = "cannot replace " + path;
  if (!error.empty()) std::filesystem::remove(temporary, ignored);
  return error;
}

std::string ReadDatabase(const std::string& path, std::vector<ViewDescription>* views) {
  std::error_code ignored;
  if (!std::filesystem::is_regular_file(path, ignored)) return path + " does not exist";
  sqlite3* db = OpenFile(path, SQLITE_OPEN_READONLY);
  if (db == nullptr) return "cannot open " + path;
  std::string error;
  if (!HasOurFormat(db)) {
    error = path + " is not a Notes database";
  } else {
    Statement view_rows(db,
                        "SELECT v.noteid, n.unid, n.modified, "
                        "(SELECT value FROM items WHERE noteid = v.noteid AND name = '$TITLE'), "
                        "(SELECT value FROM items WHERE noteid = v.noteid AND name = '$ViewFormat') "
                        "FROM views v JOIN notes n ON n.noteid = v.noteid ORDER BY v.position");
    Statement entry_rows(db,
                         "SELECT e.position, e.noteid, e.unid, n.modified FROM entries e "
                         "LEFT JOIN notes n ON n.noteid = e.noteid WHERE e.view = ?1 ORDER BY e.position");
    Statement values(db, "SELECT kind, value FROM entry_values WHERE view = ?1 AND position = ?2 ORDER BY col");
    while (error.empty() && view_rows.Step() == SQLITE_ROW) {
      ViewDescription view;
      view.note_id = static_cast<NoteId>(view_rows.Int(0));
      if (!ParseUnid(view_rows.Text(1), &view.unid)) error = "a damaged universal id";
      view.modified.seconds = view_rows.Int(2);
      view.has_title = sqlite3_column_type(view_rows.get(), 3) != SQLITE_NULL;
      view.title = view_rows.Text(3);
      view.has_format = sqlite3_column_type(view_rows.get(), 4) != SQLITE_NULL;
      view.format = view_rows.Text(4);
      entry_rows.Bind(1, static_cast<std::int64_t>(view.note_id));
      while (error.empty() && entry_rows.Step() == SQLITE_ROW) {
        DocumentDescription document;
        const NoteId id = static_cast<NoteId>(entry_rows.Int(1));
        document.category = (id & kCategoryRow) != 0;
        document.note_id = id & ~kCategoryRow;
        if (!ParseUnid(entry_rows.Text(2), &document.unid)) error = "a damaged universal id";
        document.has_note = sqlite3_column_type(entry_rows.get(), 3) != SQLITE_NULL;
        document.modified.seconds = entry_rows.Int(3);
        values.Bind(1, static_cast<std::int64_t>(view.note_id));
        values.Bind(2, entry_rows.Int(0));
        while (error.empty() && values.Step() == SQLITE_ROW) {
          SummaryValue value;
          if (!ReadValue(values, 0, &value)) error = "a damaged value";
          document.values.push_back(std::move(value));
        }
        values.Reset();
        view.entries.push_back(std::move(document));
      }
      entry_rows.Reset();
      views->push_back(std::move(view));
    }
  }
  sqlite3_close(db);
  return error;
}

}  // namespace notes
