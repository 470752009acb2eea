#include "domino/view_export.h"

#include <cstdio>
#include <memory>
#include <vector>

namespace domino {

namespace {

constexpr std::size_t kMaxRawName = 1024;
constexpr const char* kEpoch = "01/01/70 00:00:00 AM";
constexpr std::size_t kMaxTitle = 1024;

bool StaysUnchanged(unsigned char c) {
  return c == ' ' || c == '!' || (c >= '#' && c <= '%') || (c >= '\'' && c <= ';') || (c >= '?' && c <= 127);
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string PercentDecode(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && HexDigit(text[i + 1]) >= 0 && HexDigit(text[i + 2]) >= 0) {
      out += static_cast<char>(HexDigit(text[i + 1]) * 16 + HexDigit(text[i + 2]));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

// The note id in the argument's first eight characters, read as far as they
// are hexadecimal digits.
notes::NoteId ViewNoteId(std::string_view argument) {
  notes::NoteId id = 0;
  for (char c : argument.substr(0, 8)) {
    const int digit = HexDigit(c);
    if (digit < 0) break;
    id = id * 16 + static_cast<notes::NoteId>(digit);
  }
  return id;
}

std::string Seconds(std::int64_t seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%lld", static_cast<long long>(seconds));
  return text;
}

// Closes what is open, in order, whatever happened.
struct Opened {
  bool runtime = false;
  std::unique_ptr<notes::Database> database;
  std::unique_ptr<notes::Note> note;
  std::unique_ptr<notes::Collection> collection;
  ~Opened() {
    if (collection) collection->Close();
    if (note) note->Close();
    if (database) database->Close();
    if (runtime) notes::Terminate();
  }
};

}  // namespace

std::string MarkupText(std::string_view text) {
  std::string out;
  for (char c : text) {
    const auto code = static_cast<unsigned char>(c);
    if (StaysUnchanged(code)) {
      if (out.size() + 1 > kMaxMarkupText) break;
      out += c;
    } else {
      char entity[8];
      std::snprintf(entity, sizeof entity, "&#%03u;", static_cast<unsigned>(code));
      if (out.size() + 6 > kMaxMarkupText) break;
      out += entity;
    }
  }
  return out;
}

std::string EntryName(const notes::CollectionEntry& entry) {
  std::string name;
  char number[64];
  for (const auto& value : entry.values) {
    switch (value.kind) {
      case notes::SummaryValue::Kind::kText: name += value.text; break;
      case notes::SummaryValue::Kind::kTextList:
        for (std::size_t i = 0; i < value.list.size() && name.size() < kMaxRawName; ++i) {
          if (i > 0) name += ';';
          name += value.list[i];
        }
        break;
      case notes::SummaryValue::Kind::kNumber:
        std::snprintf(number, sizeof number, "%g", value.number);
        name += number;
        break;
      case notes::SummaryValue::Kind::kTime: name += notes::TimeText(value.time); break;
    }
    name += ' ';
    if (name.size() >= kMaxRawName) {
      name.resize(kMaxRawName);
      break;
    }
  }
  return name;
}

int RunViewExport(const CgiRequest& request, std::ostream& out) {
  out << CgiHeader(request, "text/plain");
  const auto method = request.Get("REQUEST_METHOD", 32);
  if (!method) {
    out << "This program must be run from a web browser.";
    return 1;
  }
  if (*method != "GET") {
    out << "REDURADA ERROR: Request method must be GET.";
    return 1;
  }
  const std::string argument =
      request.argument ? request.argument->substr(0, 4096) : PercentDecode(request.Get("QUERY_STRING").value_or(""));
  if (argument.size() > kMaxViewArgument) {
    out << "REDURADA ERROR: Invalid length of program argument.";
    return 1;
  }
  const notes::NoteId view_id = ViewNoteId(argument);
  const std::string path = argument.size() > 8 ? argument.substr(8) : std::string();

  Opened opened;
  auto fail = [&](const std::string& line) {
    out << line;
    return 1;
  };
  if (notes::Initialize() != notes::kNoError) return fail("REDURADA ERROR: Notes was not initialized.");
  opened.runtime = true;
  if (notes::Database::Open(path, &opened.database) != notes::kNoError) {
    return fail("REDURADA ERROR: Notes database " + path + " could not be opened.");
  }
  if (opened.database->OpenNote(view_id, &opened.note) != notes::kNoError) {
    return fail("REDURADA ERROR: ViewNote was NOT opened.");
  }
  std::string title;
  std::string format;
  if (opened.note->ReadText("$TITLE", &title, kMaxTitle) != notes::kNoError) {
    return fail("REDURADA ERROR: Invalid view title.");
  }
  if (opened.note->ReadText("$ViewFormat", &format, kMaxTitle) != notes::kNoError) {
    return fail("REDURADA ERROR: Invalid view information.");
  }
  const std::string view_unid = notes::UnidText(opened.note->UniversalId());
  if (view_unid.size() != 32) return fail("REDURADA ERROR: Invalid view UNID.");
  notes::TimeDate epoch;
  if (notes::ConvertTextToTime(kEpoch, &epoch) != notes::kNoError) {
    return fail("REDURADA ERROR: Time conversion error.");
  }
  const std::string view_time = Seconds(notes::TimeDifference(opened.note->Modified(), epoch));
  opened.note->Close();
  opened.note.reset();
  if (opened.database->OpenCollection(view_id, &opened.collection) != notes::kNoError) {
    return fail("VIEWERROR: Cannot access view documents.");
  }

  // The mark-up is collected whole, so that an error line is always the
  // whole body.
  std::string markup;
  std::vector<notes::CollectionEntry> entries;
  bool more = false;
  if (opened.collection->ReadEntries(notes::kMaxBatch, &entries, &more) != notes::kNoError) {
    return fail("VIEWERROR: Cannot read view documents.");
  }
  const std::string view_head =
      "\n\n<NOTESVIEW\n\tDocID=\"" + view_unid + "\"\n\tName=\"" + MarkupText(title) + "\"\n\tModDate=\"" + view_time;
  if (entries.empty()) {
    out << view_head << "\"\n\t>\n</NOTESVIEW>\n\n";
    return 0;
  }
  markup = view_head + "\"\n\t>\n\n";
  int running_number = 0;
  std::string item_time;  // repeated for a document that cannot be opened
  for (;;) {
    for (const auto& entry : entries) {
      if ((entry.note_id & notes::kCategoryRow) != 0) continue;
      ++running_number;
      std::unique_ptr<notes::Note> document;
      if (opened.database->OpenNote(entry.note_id, &document) == notes::kNoError) {
        item_time = Seconds(notes::TimeDifference(document->Modified(), epoch));
        document->Close();
      }
      std::string name = EntryName(entry);
      if (name.empty()) name = std::to_string(running_number);
      markup += "\n\t<ITEM\n\t\tDocID=\"" + notes::UnidText(entry.unid) + "\"\n\t\tName =\"" + MarkupText(name) +
                "\"\n\t\tModDate=\"" + item_time + "\"\n\t\t>\n\t</ITEM>\n";
    }
    if (!more) break;
    if (opened.collection->ReadEntries(notes::kMaxBatch, &entries, &more) != notes::kNoError) {
      return fail("VIEWERROR: Cannot read view documents.");
    }
  }
  out << markup << "\n</NOTESVIEW>\n\n";
  return 0;
}

}  // namespace domino
