#include "domino/notes_db.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "domino/domino_testing.h"
#include "base/json_reader.h"
#include "domino/notes_json.h"
#include "platform/testing.h"

namespace {

TEST(NotesTime, TextDatesAndDifferences) {
  notes::TimeDate epoch, later;
  ASSERT_EQ(notes::ConvertTextToTime("01/01/70 00:00:00 AM", &epoch), notes::kNoError);
  EXPECT_EQ(epoch.seconds, 0);
  ASSERT_EQ(notes::ConvertTextToTime("12/31/1999 11:59:59 PM", &later), notes::kNoError);
  EXPECT_EQ(notes::TimeDifference(later, epoch), 946684799);
  ASSERT_EQ(notes::ConvertTextToTime("02/29/2000 12:30 am", &later), notes::kNoError);
  EXPECT_EQ(later.seconds, 951784200);
  ASSERT_EQ(notes::ConvertTextToTime("01/01/69 13:00:00", &later), notes::kNoError);
  EXPECT_EQ(later.seconds, 36160LL * 86400 + 13 * 3600);  // 2069
  EXPECT_EQ(notes::TimeText(later), "01/01/2069 01:00:00 PM");
  EXPECT_EQ(notes::TimeText(epoch), "01/01/1970 12:00:00 AM");
  for (const char* bad : {"", "01/01/70", "13/01/70 00:00:00", "02/30/2000 00:00:00", "01/01/70 24:00:00",
                          "01/01/70 13:00:00 PM", "01/01/70 00:60:00", "01/01/70 00:00:00 XM", "1-1-70 00:00"}) {
    EXPECT_EQ(notes::ConvertTextToTime(bad, &later), notes::kErrTimeText) << bad;
  }
}

TEST(NotesUnid, FourWordsAsThirtyTwoDigits) {
  notes::Unid unid;
  ASSERT_TRUE(notes::ParseUnid("8F2A1C3E0B7D44A5852568C4004E5B21", &unid));
  EXPECT_EQ(unid.words[0], 0x8F2A1C3Eu);
  EXPECT_EQ(unid.words[3], 0x004E5B21u);
  EXPECT_EQ(notes::UnidText(unid), "8f2a1c3e0b7d44a5852568c4004e5b21");
  EXPECT_FALSE(notes::ParseUnid("8F2A1C3E0B7D44A5852568C4004E5B2", &unid));
  EXPECT_FALSE(notes::ParseUnid("8F2A1C3E0B7D44A5852568C4004E5B2G", &unid));
}

TEST(NotesCollection, ReadsInBatchesOfAtMostAHundred) {
  const std::string path = testing_support::MakeTempDir("notes") + "/big.nsf";
  ASSERT_EQ(notes::WriteDatabase(path, {domino_testing::View(0x215A, "Big", 250)}), "");
  ASSERT_EQ(notes::Initialize(), notes::kNoError);
  std::unique_ptr<notes::Database> database;
  ASSERT_EQ(notes::Database::Open(path, &database), notes::kNoError);
  std::unique_ptr<notes::Collection> collection;
  EXPECT_EQ(database->OpenCollection(0x1001, &collection), notes::kErrNotAView);
  ASSERT_EQ(database->OpenCollection(0x215A, &collection), notes::kNoError);
  std::vector<notes::CollectionEntry> entries;
  bool more = false;
  EXPECT_EQ(collection->ReadEntries(101, &entries, &more), notes::kErrTooMany);
  std::vector<std::size_t> batches;
  std::vector<std::string> names;
  do {
    ASSERT_EQ(collection->ReadEntries(notes::kMaxBatch, &entries, &more), notes::kNoError);
    batches.push_back(entries.size());
    for (const auto& entry : entries) names.push_back(entry.values.at(0).text);
  } while (more && batches.size() < 10);
  EXPECT_EQ(batches, (std::vector<std::size_t>{100, 100, 50}));
  ASSERT_EQ(names.size(), 250u);
  EXPECT_EQ(names[0], "doc 1");
  EXPECT_EQ(names[249], "doc 250");
  // Past the end: nothing more.
  ASSERT_EQ(collection->ReadEntries(notes::kMaxBatch, &entries, &more), notes::kNoError);
  EXPECT_TRUE(entries.empty());
  EXPECT_FALSE(more);
  collection->Close();
  database->Close();
  notes::Terminate();
  EXPECT_EQ(notes::Database::Open(path, &database), notes::kErrNotInitialized);
}

TEST(NotesJson, ReadsTheDescriptionAndRefusesWhatIsWrong) {
  std::vector<notes::ViewDescription> views;
  ASSERT_EQ(notes::ViewsFromJson(R"({"views": [{"noteid": "215a", "unid": "8F2A1C3E0B7D44A5852568C4004E5B21",
      "title": "T", "modified": 5, "entries": [
        {"noteid": "1", "category": true},
        {"noteid": "912", "unid": "0A1B2C3D4E5F60718293A4B5C6D7E8F9", "modified": 7,
         "values": ["x", ["a", "b"], 2, {"time": 60}]},
        {"noteid": "913", "unid": "0A1B2C3D4E5F60718293A4B5C6D7E8F0"}]}]})",
                                 &views),
            "");
  ASSERT_EQ(views.size(), 1u);
  EXPECT_EQ(views[0].note_id, 0x215Au);
  ASSERT_EQ(views[0].entries.size(), 3u);
  EXPECT_TRUE(views[0].entries[0].category);
  EXPECT_EQ(views[0].entries[1].values.size(), 4u);
  EXPECT_EQ(views[0].entries[1].values[3].kind, notes::SummaryValue::Kind::kTime);
  EXPECT_FALSE(views[0].entries[2].has_note);

  const std::string unid = R"("unid": "8F2A1C3E0B7D44A5852568C4004E5B21")";
  struct Case {
    std::string json;
    std::string error;
  } cases[] = {
      {"[]", "the description is not a JSON object"},
      {"{\"views\": 1}", "the description has no \"views\" array"},
      {"{\"views\": [{\"noteid\": \"123456789\"}]}", "a view's \"noteid\" is not 1 to 8 hex digits"},
      {"{\"views\": [{\"noteid\": \"1\", \"unid\": \"12\"}]}", "\"unid\" is not 32 hex digits (view 1)"},
      {"{\"views\": [{\"noteid\": \"1\", " + unid + ", \"modified\": 1.5}]}",
       "\"modified\" is not a whole number of seconds (view 1)"},
      {"{\"views\": [{\"noteid\": \"1\", " + unid + ", \"modified\": 1, \"entries\": [{\"noteid\": \"2\", " + unid +
           ", \"values\": [true]}]}]}",
       "a value is a text, a list of texts, a number or {\"time\": <seconds>} (entry 2) (view 1)"},
      {"{\"views\": [{\"noteid\": \"1\", " + unid + ", \"modified\": 1, \"entries\": [{\"noteid\": \"2\", " + unid +
           ", \"values\": [[1]]}]}]}",
       "a text list holds something other than texts (entry 2) (view 1)"},
  };
  for (const auto& c : cases) {
    views.clear();
    EXPECT_EQ(notes::ViewsFromJson(c.json, &views), c.error) << c.json;
  }
  views.clear();
  EXPECT_EQ(notes::ViewsFromJson("{\"views\": [", &views).rfind("not JSON: ", 0), 0u);
}

TEST(NotesJson, ANoteDescribedTwiceDifferentlyIsRefused) {
  notes::ViewDescription first = domino_testing::View(0x10, "A", 1);
  notes::ViewDescription second = domino_testing::View(0x20, "B", 1);
  const std::string path = testing_support::MakeTempDir("notes") + "/twice.nsf";
  // The same document in two views is one note.
  EXPECT_EQ(notes::WriteDatabase(path, {first, second}), "");
  second.entries[0].modified.seconds += 1;
  EXPECT_EQ(notes::WriteDatabase(path, {first, second}), "note 00001001 is described twice, differently");
  // The failed import left the database as it was.
  std::vector<notes::ViewDescription> views;
  ASSERT_EQ(notes::ReadDatabase(path, &views), "");
  EXPECT_EQ(views.size(), 2u);
}

TEST(JsonReader, ReadsJsonWithinItsBounds) {
  json::JsonResult result = json::ParseJson(R"( {"a": [1, -2.5e1, "x\u00e9\ud83d\ude00\n", true, null], "a": {}} )");
  ASSERT_TRUE(result.ok) << result.error;
  const json::JsonValue* a = result.value.Member("a");
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a->kind, json::JsonValue::Kind::kObject);  // the last of two wins
  const json::JsonValue& array = result.value.members[0].second;
  ASSERT_EQ(array.items.size(), 5u);
  EXPECT_EQ(array.items[1].number, -25);
  EXPECT_EQ(array.items[2].text, "x\xc3\xa9\xf0\x9f\x98\x80\n");
  for (const char* bad : {"", "{", "[1,]", "{\"a\" 1}", "01", "1.", "\"\\ud800\"", "\"a\nb\"", "tru", "1 2", "1e999",
                          "\"\\x\"", "[\"\\u12\"]"}) {
    EXPECT_FALSE(json::ParseJson(bad).ok) << bad;
  }
  json::JsonLimits limits;
  limits.max_depth = 3;
  EXPECT_TRUE(json::ParseJson("[[[1]]]", limits).ok);
  EXPECT_FALSE(json::ParseJson("[[[[1]]]]", limits).ok);
  limits.max_values = 3;
  EXPECT_FALSE(json::ParseJson("[1,2,3]", limits).ok);
  limits.max_bytes = 4;
  EXPECT_FALSE(json::ParseJson("[1,2]", limits).ok);
  // Deep nesting stops at the default bound instead of the stack's end.
  EXPECT_FALSE(json::ParseJson(std::string(100000, '[')).ok);
}

TEST(NotesdbProgram, ImportsAndListsTheSample) {
  const std::string db = testing_support::MakeTempDir("notes") + "/names.nsf";
  const std::string sample = std::string(DOMINO_SAMPLE_DIR) + "/names.json";
  auto imported = testing_support::Run({testing_support::ProgramPath("notesdb"), "import", db, sample});
  EXPECT_EQ(imported.exit_code, 0) << imported.error;
  EXPECT_EQ(imported.output, db + ": 2 view(s), 4 entries\n");
  auto listed = testing_support::Run({testing_support::ProgramPath("notesdb"), "list", db});
  EXPECT_EQ(listed.exit_code, 0);
  EXPECT_NE(listed.output.find("view 0000215A unid 8f2a1c3e0b7d44a5852568c4004e5b21 modified 946684800 entries 4\n"
                               "  title \"Company \\\"News\\\" & Events\"\n"),
            std::string::npos)
      << listed.output;
  auto broken = testing_support::Run({testing_support::ProgramPath("notesdb"), "list", sample});
  EXPECT_EQ(broken.exit_code, 1);
  auto usage = testing_support::Run({testing_support::ProgramPath("notesdb"), "import", db});
  EXPECT_EQ(usage.exit_code, 2);
}

}  // namespace
