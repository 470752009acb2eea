// The Notes house: the description file's keys and quoted values, and the
// expansion of views and group files, with fetches answered from memory;
// views behind Basic authentication fetched from a real web server.
#include "channels/notes_house.h"

#include <filesystem>
#include <map>
#include <string>

#include <gtest/gtest.h>

#include "channels/house_testing.h"
#include "platform/testing.h"
#include "upstream/web_server_testing.h"

namespace {

using testing_support::WriteFile;

const std::string kFailure = "<NOTESVIEW Name=\"Unavailable\"> </NOTESVIEW>";

// A house over a local description file whose fetches come from `answers`.
class MemoryNotesHouse : public CNotesHouse {
 public:
  using CNotesHouse::CNotesHouse;
  std::map<std::string, std::string> answers;
  std::vector<std::string> asked;

 protected:
  bool Fetch(const std::string& url, const std::string& user, const std::string& password, std::size_t maxBytes,
             std::string& text) override {
    asked.push_back(url + (user.empty() ? "" : " " + user + ":" + password));
    const auto found = answers.find(url);
    if (found == answers.end() || found->second.size() > maxBytes) return false;
    text = found->second;
    return true;
  }
};

struct NotesSetup {
  std::string dir = testing_support::MakeTempDir("notes") + "/";
  CPRegistry settings = house_testing::Settings();

  explicit NotesSetup(const std::string& description) {
    WriteFile(dir + "domino.dat", description);
    settings.SetEnableNotesChannel(1);
    settings.SetNotesDominoURL(dir.c_str());  // a local folder: no server
    settings.SetNotesDominoFileName("domino.dat");
    settings.SetNotesDirectory((dir + "notes").c_str());
    settings.SetNotesViewFailureString(kFailure.c_str());
  }
};

TEST(NotesHouse, SourceAndMirrorFollowTheSettings) {
  CPRegistry settings = house_testing::Settings();
  settings.SetNotesDominoURL("http://127.0.0.1:9/domino/");
  settings.SetNotesDominoFileName("sub/domino.dat");
  settings.SetNotesDirectory("/srv/notes");
  CNotesHouse house(settings);
  EXPECT_EQ(house.GetSource(), "http://127.0.0.1:9/domino/sub/domino.dat");
  EXPECT_EQ(house.GetLocalPath(), "/srv/notes/domino.cache");
  EXPECT_EQ(house.NotesDirectory(), "/srv/notes/");
  // Not enabled: nothing is fetched, and that is no failure.
  settings.SetEnableNotesChannel(0);
  CNotesHouse disabled(settings);
  EXPECT_EQ(disabled.Initialize(), 0);
  EXPECT_FALSE(disabled.IsInitialized());
}

TEST(NotesHouse, QuotedValuesAreReadAsTheAdministrationProgramWritesThem) {
  EXPECT_EQ(notes_expansion::DescriptionValue("\"domadlog.gif\""), "domadlog.gif");
  EXPECT_EQ(notes_expansion::DescriptionValue("\"dv&#045;logo&#038;co.gif\""), "dv-logo&co.gif");
  EXPECT_EQ(notes_expansion::DescriptionValue("plain.gif"), "plain.gif");
  // Short entities are what they say; anything else stays as it is.
  EXPECT_EQ(notes_expansion::DescriptionValue("a&#45;b&#4x;c&#;d&e"), "a-b&#4x;c&#;d&e");
  EXPECT_EQ(notes_expansion::DescriptionValue("\"unbalanced"), "\"unbalanced");
  EXPECT_EQ(notes_expansion::DescriptionValue("\""), "\"");
}

TEST(NotesHouse, KeysSetTheLogoPathsWhateverTheirCaseAndBlanks) {
  NotesSetup setup("ChannelName = \"News\"\r\nAD_Logo = domadlog.gif\r\n dv_logo=\"dv&#045;logo.gif\"\nDV_FILE =doze.anm\r\n");
  MemoryNotesHouse house(setup.settings);
  ASSERT_EQ(house.Initialize(), 0);
  const std::string expanded = house.ReadAndExpand();
  EXPECT_EQ(house.ADLogoPath(), setup.dir + "notes/domadlog.gif");
  EXPECT_EQ(house.DVLogoPath(), setup.dir + "notes/dv-logo.gif");
  EXPECT_EQ(house.DVFilePath(), setup.dir + "notes/doze.anm");
  // Every line passes unchanged, empty lines dropped, each ended by CR LF.
  EXPECT_EQ(expanded,
            "ChannelName = \"News\"\r\nAD_Logo = domadlog.gif\r\n dv_logo=\"dv&#045;logo.gif\"\r\nDV_FILE =doze.anm\r\n");
}

TEST(NotesHouse, ViewsAndGroupFilesAreExpandedOnceDeep) {
  NotesSetup setup(
      "<NotesChannelContent>\r\n"
      "VIEW_ID = http://domino.test/view1 admin,secret\r\n"
      "GROUP_FILE=http://domino.test/group1\r\n"
      "VIEW_ID=http://domino.test/unreachable\r\n"
      "</NotesChannelContent>\r\n");
  MemoryNotesHouse house(setup.settings);
  house.answers["http://domino.test/view1"] = "<NOTESVIEW Name=\"One\">\r\n</NOTESVIEW>";
  house.answers["http://domino.test/group1"] =
      "GROUP_FILE=http://domino.test/nested\r\nVIEW_ID=http://domino.test/view2\r\n";
  house.answers["http://domino.test/view2"] = "<NOTESVIEW Name=\"Two\"></NOTESVIEW>";
  house.answers["http://domino.test/nested"] = "never fetched";
  ASSERT_EQ(house.Initialize(), 0);
  EXPECT_EQ(house.ReadAndExpand(),
            "<NotesChannelContent>\r\n"
            "<!-- Inserting VIEW_ID \"http://domino.test/view1\" -->\r\n<NOTESVIEW Name=\"One\">\r\n</NOTESVIEW>\r\n"
            "<!-- Inserting GROUP_FILE \"http://domino.test/group1\" -->\r\n"
            "GROUP_FILE=http://domino.test/nested\r\n"
            "<!-- Inserting VIEW_ID \"http://domino.test/view2\" -->\r\n<NOTESVIEW Name=\"Two\"></NOTESVIEW>\r\n"
            "<!-- Unable to parse \"VIEW_ID=http://domino.test/unreachable\" -->\r\n" + kFailure + "\r\n"
            "</NotesChannelContent>\r\n");
  EXPECT_EQ(house.asked, (std::vector<std::string>{"http://domino.test/view1 admin:secret", "http://domino.test/group1",
                                                   "http://domino.test/view2", "http://domino.test/unreachable"}));
}

TEST(NotesHouse, AnExpansionFetchesABoundedNumberOfTimesAndNothingLocal) {
  std::string description;
  for (std::size_t i = 0; i < CNotesHouse::kMaxFetches + 10; ++i) description += "VIEW_ID=http://domino.test/v\r\n";
  NotesSetup setup(description);
  MemoryNotesHouse house(setup.settings);
  house.answers["http://domino.test/v"] = "<NOTESVIEW/>";
  ASSERT_EQ(house.Initialize(), 0);
  const std::string expanded = house.ReadAndExpand();
  EXPECT_EQ(house.asked.size(), CNotesHouse::kMaxFetches);
  std::size_t failures = 0;
  for (std::size_t at = expanded.find("<!-- Unable to parse"); at != std::string::npos;
       at = expanded.find("<!-- Unable to parse", at + 1)) {
    ++failures;
  }
  EXPECT_EQ(failures, 10u);

  // The real fetch asks only the web: a local name is never read.
  WriteFile(setup.dir + "secret.txt", "secret");
  NotesSetup local("VIEW_ID=" + setup.dir + "secret.txt\r\n");
  CNotesHouse real(local.settings);
  ASSERT_EQ(real.Initialize(), 0);
  const std::string refused = real.ReadAndExpand();
  EXPECT_EQ(refused.find("secret\r\n"), std::string::npos);
  EXPECT_NE(refused.find("<!-- Unable to parse"), std::string::npos);
}

TEST(NotesHouse, ViewsBehindBasicAuthenticationAreFetchedWithTheLinesCredentials) {
  upstream_testing::WebServer web;
  if (upstream_testing::WebServer::Program(upstream_testing::WebServer::Kind::kLighttpd).empty()) {
    testing_support::PeerMissing("lighttpd", "lighttpd");
    GTEST_SKIP();
  }
  upstream_testing::WebServer::Options options;
  options.protectedPath = "/private/";
  options.user = "notes";
  options.password = "s3cret";
  ASSERT_TRUE(web.Start(upstream_testing::WebServer::Kind::kLighttpd, options))
      << web.ErrorLog();
  std::filesystem::create_directories(web.Root() + "private");
  WriteFile(web.Root() + "private/view.xml", "<NOTESVIEW Name=\"Private\"></NOTESVIEW>");
  NotesSetup setup("VIEW_ID=" + web.Url("/private/view.xml") + " notes s3cret\r\nVIEW_ID=" +
                   web.Url("/private/view.xml") + "\r\n");
  CNotesHouse house(setup.settings);
  ASSERT_EQ(house.Initialize(), 0);
  const std::string expanded = house.ReadAndExpand();
  EXPECT_NE(expanded.find("<!-- Inserting VIEW_ID \"" + web.Url("/private/view.xml") +
                          "\" -->\r\n<NOTESVIEW Name=\"Private\"></NOTESVIEW>\r\n"),
            std::string::npos)
      << expanded;
  // Without credentials the server says no.
  EXPECT_NE(expanded.find("<!-- Unable to parse \"VIEW_ID=" + web.Url("/private/view.xml") + "\" -->"),
            std::string::npos)
      << expanded;
}

}  // namespace
