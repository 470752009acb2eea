// The Notes database of the Domino tools: a small runtime over database
// files of our own (one SQLite file per database) that offers what the view
// export needs of a Notes server, by role: the runtime's start and end,
// databases opened by path, notes opened by note id with their text items,
// universal ids and modification times, text dates and their differences,
// and a view's collection read in batches.
//
// Results are status codes (kNoError or an error) and opened objects are
// closed by their owners, so a caller can close what it opened in order
// after any failure. Every object belongs to one thread.
//
// A database file is made by `notesdb import` (notes_json.h) or by
// DatabaseWriter below.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

struct sqlite3;

namespace notes {

using Status = int;
inline constexpr Status kNoError = 0;
inline constexpr Status kErrNotInitialized = 1;   // the runtime was not initialised
inline constexpr Status kErrNoDataDirectory = 2;  // the data directory does not exist
inline constexpr Status kErrOpenDatabase = 3;     // missing, unreadable or not a database
inline constexpr Status kErrNoteNotFound = 4;
inline constexpr Status kErrItemNotFound = 5;
inline constexpr Status kErrTimeText = 6;         // a text that is no date and time
inline constexpr Status kErrNotAView = 7;         // the note has no view format
inline constexpr Status kErrReadEntries = 8;      // the database could not be read
inline constexpr Status kErrTooMany = 9;          // more entries asked for than one batch holds

using NoteId = std::uint32_t;
// A note id with this bit set names a category row of a view, not a note.
inline constexpr NoteId kCategoryRow = 0x80000000u;
// Entries per batch at most.
inline constexpr std::size_t kMaxBatch = 100;

// A point in time: seconds since 1970-01-01 00:00:00 in the runtime's time
// zone, which is UTC.
struct TimeDate {
  std::int64_t seconds = 0;
};

// The universal id of a note: four 32-bit words.
struct Unid {
  std::uint32_t words[4] = {0, 0, 0, 0};
  friend bool operator==(const Unid&, const Unid&) = default;
};
// From 32 hexadecimal digits (either case), eight per word; false otherwise.
bool ParseUnid(std::string_view text, Unid* unid);
// The 32 lower-case hexadecimal digits.
std::string UnidText(const Unid& unid);

// One summary value of a view entry.
struct SummaryValue {
  enum class Kind { kText, kTextList, kNumber, kTime };
  Kind kind = Kind::kText;
  std::string text;                 // kText
  std::vector<std::string> list;    // kTextList
  double number = 0;                // kNumber
  TimeDate time;                    // kTime
};

struct CollectionEntry {
  NoteId note_id = 0;
  Unid unid;
  std::vector<SummaryValue> values;  // in column order
};

// Initialises the runtime for this process. Its data directory, against
// which relative database paths are resolved, is $ZONDREL_NOTES_DATA when
// set, else the current directory; kErrNoDataDirectory when it does not
// exist. Every successful call is matched by a Terminate.
Status Initialize();
void Terminate();
// The data directory of the initialised runtime ("" before Initialize).
std::string DataDirectory();

// "MM/DD/YY[YY] HH:MM:SS [AM|PM]" (seconds optional; a two-digit year from
// 70 is 19xx, below 70 20xx) into a time date.
Status ConvertTextToTime(std::string_view text, TimeDate* time);
// The text of a time date, "MM/DD/YYYY hh:mm:ss AM" (or PM).
std::string TimeText(const TimeDate& time);
// `later` minus `earlier`, in seconds.
std::int64_t TimeDifference(const TimeDate& later, const TimeDate& earlier);

class Database;

class Note {
 public:
  ~Note();
  Note(const Note&) = delete;
  Note& operator=(const Note&) = delete;

  NoteId Id() const { return id_; }
  const Unid& UniversalId() const { return unid_; }
  TimeDate Modified() const { return modified_; }
  // The text item `name` (any case), cut to `limit` bytes.
  Status ReadText(std::string_view name, std::string* text, std::size_t limit) const;
  void Close();

 private:
  friend class Database;
  Note(sqlite3* db, NoteId id, const Unid& unid, TimeDate modified)
      : db_(db), id_(id), unid_(unid), modified_(modified) {}
  sqlite3* db_;
  NoteId id_;
  Unid unid_;
  TimeDate modified_;
};

class Collection {
 public:
  ~Collection();
  Collection(const Collection&) = delete;
  Collection& operator=(const Collection&) = delete;

  // Reads up to `max_entries` (at most kMaxBatch) entries from the current
  // position on and moves past them; `more` tells whether entries remain.
  Status ReadEntries(std::size_t max_entries, std::vector<CollectionEntry>* entries, bool* more);
  void Close();

 private:
  friend class Database;
  Collection(sqlite3* db, NoteId view) : db_(db), view_(view) {}
  sqlite3* db_;
  NoteId view_;
  std::int64_t position_ = 0;
};

class Database {
 public:
  ~Database();
  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;

  // Opens the database file at `path` (relative to the data directory) for
  // reading.
  static Status Open(const std::string& path, std::unique_ptr<Database>* database);
  Status OpenNote(NoteId id, std::unique_ptr<Note>* note) const;
  // The collection of the view note `view`.
  Status OpenCollection(NoteId view, std::unique_ptr<Collection>* collection) const;
  void Close();

 private:
  explicit Database(sqlite3* db) : db_(db) {}
  sqlite3* db_;
};

// Building a database file.
struct DocumentDescription {
  NoteId note_id = 0;
  Unid unid;
  bool has_note = true;           // false: the entry's note is missing
  TimeDate modified;
  bool category = false;
  std::vector<SummaryValue> values;
};
struct ViewDescription {
  NoteId note_id = 0;
  Unid unid;
  TimeDate modified;
  bool has_title = true;
  std::string title;
  bool has_format = true;
  std::string format;
  std::vector<DocumentDescription> entries;
};

// Writes a new database holding `views` to `path`, replacing what was there
// only once it is complete. An empty result, or what went wrong.
std::string WriteDatabase(const std::string& path, const std::vector<ViewDescription>& views);
// Every view of the database at `path` (an absolute or current-directory
// path), for listing; an empty result, or what went wrong.
std::string ReadDatabase(const std::string& path, std::vector<ViewDescription>* views);

}  // namespace notes
