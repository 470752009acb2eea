#include "domino/view_export.h"

#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "domino/domino_testing.h"
#include "platform/testing.h"

namespace {

using domino_testing::Request;

class ViewExportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = testing_support::MakeTempDir("notes");
    path_ = dir_ + "/names.nsf";
  }
  void Write(const std::vector<notes::ViewDescription>& views) {
    ASSERT_EQ(notes::WriteDatabase(path_, views), "");
  }
  // The whole answer to GET with `argument` as the query string.
  std::string Export(const std::string& argument, int* status = nullptr,
                     std::map<std::string, std::string> variables = {{"REQUEST_METHOD", "GET"}}) {
    variables["QUERY_STRING"] = argument;
    std::ostringstream out;
    const int result = domino::RunViewExport(Request(variables), out);
    if (status != nullptr) *status = result;
    return out.str();
  }
  std::string dir_;
  std::string path_;
};

constexpr const char* kPlain = "Content-type: text/plain\n\n";

TEST_F(ViewExportTest, WritesTheViewByteForByte) {
  notes::ViewDescription view = domino_testing::View(0x215A, "News", 0);
  notes::DocumentDescription category;
  category.note_id = 1;
  category.category = true;
  category.values.resize(1);
  category.values[0].text = "Announcements";
  view.entries.push_back(category);
  notes::DocumentDescription document;
  document.note_id = 0x912;
  document.unid = domino_testing::Unid(0xABCDEF01);
  document.modified.seconds = 946771200;
  document.values.resize(4);
  document.values[0].text = "Cafe";
  document.values[1].kind = notes::SummaryValue::Kind::kTextList;
  document.values[1].list = {"a", "b"};
  document.values[2].kind = notes::SummaryValue::Kind::kNumber;
  document.values[2].number = 3.5;
  document.values[3].kind = notes::SummaryValue::Kind::kTime;
  document.values[3].time.seconds = 946771200 + 13 * 3600;
  view.entries.push_back(document);
  Write({view});
  int status = -1;
  EXPECT_EQ(Export("0000215A" + path_, &status),
            std::string(kPlain) +
                "\n\n<NOTESVIEW\n\tDocID=\"8f2a1c3e0b7d44a5852568c40000215a\"\n\tName=\"News\"\n\tModDate=\"946684800\"\n\t>\n\n"
                "\n\t<ITEM\n\t\tDocID=\"8f2a1c3e0b7d44a5852568c4abcdef01\"\n\t\tName =\"Cafe a;b 3.5 01/02/2000 01:00:00 PM \""
                "\n\t\tModDate=\"946771200\"\n\t\t>\n\t</ITEM>\n"
                "\n</NOTESVIEW>\n\n");
  EXPECT_EQ(status, 0);
}

TEST_F(ViewExportTest, AnEmptyViewIsClosedAtOnce) {
  Write({domino_testing::View(0x2160, "Empty", 0)});
  EXPECT_EQ(Export("00002160" + path_),
            std::string(kPlain) +
                "\n\n<NOTESVIEW\n\tDocID=\"8f2a1c3e0b7d44a5852568c400002160\"\n\tName=\"Empty\"\n\tModDate=\"946684800\"\n\t>\n"
                "</NOTESVIEW>\n\n");
}

TEST_F(ViewExportTest, TheHeaderCarriesAStatusOnlyForAnotherGatewayThanCgi11) {
  Write({domino_testing::View(0x2160, "Empty", 0)});
  EXPECT_EQ(Export("00002160" + path_, nullptr, {{"REQUEST_METHOD", "GET"}, {"GATEWAY_INTERFACE", "CGI/1.1"}})
                .rfind(kPlain, 0),
            0u);
  EXPECT_EQ(Export("00002160" + path_, nullptr, {{"REQUEST_METHOD", "GET"}, {"GATEWAY_INTERFACE", "CGI/1.0"}})
                .rfind("Content-type: text/plain\nStatus: 200 OK\n\n\n\n<NOTESVIEW", 0),
            0u);
}

TEST_F(ViewExportTest, ErrorsAreTheWholeBodyAndEndWithStatusOne) {
  notes::ViewDescription untitled = domino_testing::View(0x10, "", 1);
  untitled.has_title = false;
  notes::ViewDescription unformatted = domino_testing::View(0x20, "No format", 1);
  unformatted.has_format = false;
  Write({untitled, unformatted});
  struct Case {
    std::map<std::string, std::string> variables;
    std::string body;
  } cases[] = {
      {{}, "This program must be run from a web browser."},
      {{{"REQUEST_METHOD", "POST"}}, "REDURADA ERROR: Request method must be GET."},
      {{{"REQUEST_METHOD", "GET"}, {"QUERY_STRING", "00000010" + std::string(253, 'x')}},
       "REDURADA ERROR: Invalid length of program argument."},
      {{{"REQUEST_METHOD", "GET"}, {"QUERY_STRING", "00000010/no/such.nsf"}},
       "REDURADA ERROR: Notes database /no/such.nsf could not be opened."},
      {{{"REQUEST_METHOD", "GET"}, {"QUERY_STRING", "00000099" + path_}}, "REDURADA ERROR: ViewNote was NOT opened."},
      {{{"REQUEST_METHOD", "GET"}, {"QUERY_STRING", "00000010" + path_}}, "REDURADA ERROR: Invalid view title."},
      {{{"REQUEST_METHOD", "GET"}, {"QUERY_STRING", "00000020" + path_}}, "REDURADA ERROR: Invalid view information."},
      // A document's note id is no view.
      {{{"REQUEST_METHOD", "GET"}, {"QUERY_STRING", "00001001" + path_}}, "REDURADA ERROR: Invalid view title."},
  };
  for (const auto& c : cases) {
    std::ostringstream out;
    EXPECT_EQ(domino::RunViewExport(Request(c.variables), out), 1) << c.body;
    EXPECT_EQ(out.str(), kPlain + c.body);
  }
}

TEST_F(ViewExportTest, AnArgumentOfEightCharactersNamesNoDatabase) {
  Write({domino_testing::View(0x215A, "News", 1)});
  int status = 0;
  EXPECT_EQ(Export("0000215A", &status), std::string(kPlain) + "REDURADA ERROR: Notes database  could not be opened.");
  EXPECT_EQ(status, 1);
  // A directory, or a file that is not a database, is no database either.
  EXPECT_EQ(Export("0000215A" + dir_), std::string(kPlain) + "REDURADA ERROR: Notes database " + dir_ + " could not be opened.");
  testing_support::WriteFile(dir_ + "/plain.nsf", "not a database");
  EXPECT_NE(Export("0000215A" + dir_ + "/plain.nsf").find("could not be opened."), std::string::npos);
}

TEST_F(ViewExportTest, TheArgumentComesFromTheCommandLineOrTheDecodedQuery) {
  Write({domino_testing::View(0x215A, "News", 1)});
  std::rename(path_.c_str(), (dir_ + "/my names.nsf").c_str());
  const std::string expected = Export("0000215A" + dir_ + "/my%20names.nsf");
  EXPECT_NE(expected.find("<NOTESVIEW"), std::string::npos) << expected;
  domino::CgiRequest request = Request({{"REQUEST_METHOD", "GET"}, {"QUERY_STRING", "ignored"}});
  request.argument = "0000215A" + dir_ + "/my names.nsf";
  std::ostringstream out;
  EXPECT_EQ(domino::RunViewExport(request, out), 0);
  EXPECT_EQ(out.str(), expected);
  // A relative path is found in the Notes data directory.
  ::setenv("ZONDREL_NOTES_DATA", dir_.c_str(), 1);
  EXPECT_EQ(Export("0000215Amy%20names.nsf"), expected);
  ::setenv("ZONDREL_NOTES_DATA", (dir_ + "/missing").c_str(), 1);
  EXPECT_EQ(Export("0000215Amy%20names.nsf"), std::string(kPlain) + "REDURADA ERROR: Notes was not initialized.");
  ::unsetenv("ZONDREL_NOTES_DATA");
}

TEST_F(ViewExportTest, TwoHundredFiftyDocumentsComeInThreeBatchesWithRunningNumbers) {
  // Documents 1, 100, 101, 200 and 250 have no summary values.
  Write({domino_testing::View(0x215A, "Big", 250,
                              [](int i) { return i == 1 || i == 100 || i == 101 || i == 200 || i == 250; })});
  const std::string out = Export("0000215A" + path_);
  std::size_t items = 0;
  for (std::size_t at = out.find("<ITEM"); at != std::string::npos; at = out.find("<ITEM", at + 1)) ++items;
  EXPECT_EQ(items, 250u);
  for (int i : {1, 100, 101, 200, 250}) {
    EXPECT_NE(out.find("Name =\"" + std::to_string(i) + "\"\n\t\tModDate=\"" + std::to_string(1000000 + i) + "\""),
              std::string::npos)
        << i;
  }
  EXPECT_NE(out.find("Name =\"doc 249 \""), std::string::npos);
  EXPECT_EQ(out.substr(out.size() - 15), "\n</NOTESVIEW>\n\n");
}

TEST_F(ViewExportTest, CategoryRowsAreSkippedAndAMissingNoteRepeatsTheTimeBefore) {
  notes::ViewDescription view = domino_testing::View(0x215A, "News", 3, [](int) { return true; });
  view.entries[0].has_note = false;  // the first: an empty time
  view.entries[2].has_note = false;  // the third: the second's time
  notes::DocumentDescription category;
  category.note_id = 7;
  category.category = true;
  view.entries.insert(view.entries.begin() + 1, category);
  Write({view});
  const std::string out = Export("0000215A" + path_);
  EXPECT_NE(out.find("Name =\"1\"\n\t\tModDate=\"\""), std::string::npos) << out;
  EXPECT_NE(out.find("Name =\"2\"\n\t\tModDate=\"1000002\""), std::string::npos) << out;
  EXPECT_NE(out.find("Name =\"3\"\n\t\tModDate=\"1000002\""), std::string::npos) << out;
  EXPECT_EQ(out.find("Name =\"4\""), std::string::npos);
}

TEST(MarkupText, EscapesEverythingButTheSafeCharactersAndCutsWholeEntities) {
  EXPECT_EQ(domino::MarkupText("Say \"hi\""), "Say &#034;hi&#034;");
  EXPECT_EQ(domino::MarkupText("a&b<c=d>e"), "a&#038;b&#060;c&#061;d&#062;e");
  EXPECT_EQ(domino::MarkupText("!#$%'();?@~\x7f"), "!#$%'();?@~\x7f");
  EXPECT_EQ(domino::MarkupText("\t\n\xe9"), "&#009;&#010;&#233;");
  EXPECT_EQ(domino::MarkupText(std::string(300, 'x')), std::string(255, 'x'));
  // 252 characters and an entity of six: the entity does not fit whole.
  EXPECT_EQ(domino::MarkupText(std::string(252, 'x') + "\"y"), std::string(252, 'x'));
  EXPECT_EQ(domino::MarkupText(std::string(249, 'x') + "\"y"), std::string(249, 'x') + "&#034;");
}

TEST_F(ViewExportTest, ATitleWithADoubleQuoteIsWrittenAsAnEntity) {
  Write({domino_testing::View(0x215A, "The \"Big\" View", 1)});
  EXPECT_NE(Export("0000215A" + path_).find("\n\tName=\"The &#034;Big&#034; View\"\n"), std::string::npos);
}

}  // namespace
