// The Notes channel through the running relay, with a real web server as
// the Domino server: the description expanded with its views and group
// files (some behind Basic authentication), the mirror serving while the
// server is down, a rebuild forced from another process, and the channel
// built by the two CGI programs of the Domino tools.
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "conn/conn_testing.h"
#include "conn/relay_process_testing.h"
#include "platform/event_store.h"
#include "platform/registry.h"
#include "platform/sync.h"
#include "platform/testing.h"
#include "regwrap/qr_registry.h"
#include "upstream/web_server_testing.h"

namespace {

using Relay = conn_testing::RelayProcess;
using upstream_testing::WebServer;
using testing_support::WriteFile;

constexpr platform::DWORD kNotesSourceEvent = 0xC00008C0;

std::string Body(const std::string& answer) {
  const std::size_t end = answer.find("\r\n\r\n");
  return end == std::string::npos ? std::string() : answer.substr(end + 4);
}

// The Notes file as the viewer gets it: what follows the data-stream header.
std::string NotesDat(const Relay& relay) {
  const std::string body = Body(conn_testing::Exchange(relay.Port(), "GET /KIBO-1/66817-1?notes.dat HTTP/1.0\r\n\r\n"));
  const std::size_t start = body.find("\r\n\r\n");
  return start == std::string::npos ? body : body.substr(start + 4);
}

// Asks until the Notes file holds `text` (rebuilds run on their own thread).
bool NotesDatShows(const Relay& relay, const std::string& text) {
  for (int i = 0; i < 200; ++i) {
    if (NotesDat(relay).find(text) != std::string::npos) return true;
    platform::Sleep(50);
  }
  return false;
}

Relay::Settings NotesRelay(const std::string& dominoURL) {
  Relay::Settings settings;
  settings.recvTimeoutSeconds = 5;
  settings.configure = [dominoURL](CPRegistry& registry, const std::string& home) {
    registry.SetEnableNotesChannel(1);
    registry.SetNotesDominoURL(dominoURL.c_str());
    registry.SetNotesDominoFileName("domino.dat");
    registry.SetNotesDirectory((home + "notes").c_str());
    registry.SetConnectTimeout(2);
  };
  return settings;
}

TEST(RelayNotesChannel, TheMirrorServesWhileTheServerIsDownAndTheEventBringsTheFreshExpansion) {
  if (WebServer::Program(WebServer::Kind::kLighttpd).empty()) {
    return testing_support::PeerMissing("lighttpd", WebServer::Package(WebServer::Kind::kLighttpd));
  }
  WebServer web;
  WebServer::Options options;
  options.protectedPath = "/private/";
  options.user = "notes";
  options.password = "s3cret";
  ASSERT_TRUE(web.Start(WebServer::Kind::kLighttpd, options)) << web.ErrorLog();
  std::filesystem::create_directories(web.Root() + "private");
  std::filesystem::create_directories(web.Root() + "groups");
  WriteFile(web.Root() + "views1.xml", "<NOTESVIEW Name=\"One\"></NOTESVIEW>");
  WriteFile(web.Root() + "private/view2.xml", "<NOTESVIEW Name=\"Two\"></NOTESVIEW>");
  WriteFile(web.Root() + "groups/g1.dat", "GroupName = \"G\"\r\nVIEW_ID = " + web.Url("/views1.xml") + "\r\n");
  const std::string description = "ChannelName = \"News\"\r\nDV_Logo = \"dv.gif\"\r\n<NotesChannelContent>\r\n"
                                   "VIEW_ID = " + web.Url("/private/view2.xml") + " notes s3cret\r\n"
                                   "GROUP_FILE = " + web.Url("/groups/g1.dat") + "\r\n</NotesChannelContent>\r\n";
  WriteFile(web.Root() + "domino.dat", description);
  web.Stop();

  // The server is down as the relay starts: its mirror serves.
  Relay::Settings settings = NotesRelay(web.Url("/"));
  settings.homeFiles = {{"notes/domino.cache", "ChannelName = \"Mirror\"\r\n"}, {"notes/dv.gif", "DV-LOGO"}};
  Relay relay;
  ASSERT_TRUE(relay.Start(settings));
  ASSERT_TRUE(NotesDatShows(relay, "ChannelName = \"Mirror\"\r\n"));
  bool reported = false;
  for (const platform::EventRecord& record : platform::ReadEventRecords()) {
    reported = reported || (record.id == kNotesSourceEvent && record.type == platform::EVENTLOG_ERROR_TYPE &&
                            !record.strings.empty() && record.strings[0] == web.Url("/"));
  }
  EXPECT_TRUE(reported);

  // The server is back; the named event makes the relay fetch and expand now.
  ASSERT_TRUE(web.Restart()) << web.ErrorLog();
  const auto set = testing_support::Run({testing_support::ProgramPath("zondrelctl"), "event", "set", "BuildNotesFile"});
  ASSERT_EQ(set.exit_code, 0) << set.error;
  const std::string expected =
      "ChannelName = \"News\"\r\nDV_Logo = \"dv.gif\"\r\n<NotesChannelContent>\r\n"
      "<!-- Inserting VIEW_ID \"" + web.Url("/private/view2.xml") + "\" -->\r\n<NOTESVIEW Name=\"Two\"></NOTESVIEW>\r\n"
      "<!-- Inserting GROUP_FILE \"" + web.Url("/groups/g1.dat") + "\" -->\r\nGroupName = \"G\"\r\n"
      "<!-- Inserting VIEW_ID \"" + web.Url("/views1.xml") + "\" -->\r\n<NOTESVIEW Name=\"One\"></NOTESVIEW>\r\n"
      "</NotesChannelContent>\r\n";
  ASSERT_TRUE(NotesDatShows(relay, "<NOTESVIEW Name=\"Two\">"));
  EXPECT_EQ(NotesDat(relay), expected);
  // The logo named by the description, and the mirror brought up to date.
  EXPECT_NE(Body(conn_testing::Exchange(relay.Port(), "GET /KIBO-1/66817-1?dvlogo_file HTTP/1.0\r\n\r\n")).find("DV-LOGO"),
            std::string::npos);
  EXPECT_EQ(testing_support::ReadFile(relay.Home() + "notes/domino.cache"), description);
  EXPECT_EQ(relay.Stop(), 0);
}

TEST(RelayNotesChannel, ServesTheChannelThatTheDominoToolsProduce) {
  if (WebServer::Program(WebServer::Kind::kLighttpd).empty()) {
    return testing_support::PeerMissing("lighttpd", WebServer::Package(WebServer::Kind::kLighttpd));
  }
  const std::string notesData = testing_support::MakeTempDir("notesdata");
  const auto imported = testing_support::Run({testing_support::ProgramPath("notesdb"), "import",
                                              notesData + "/names.nsf",
                                              testing_support::SourcePath("domino/sample/names.json")});
  ASSERT_EQ(imported.exit_code, 0) << imported.error;
  WebServer web;
  WebServer::Options options;
  options.lighttpdConfig = "server.modules += (\"mod_cgi\", \"mod_setenv\")\ncgi.assign = (\".exe\" => \"\")\n"
                           "server.stat-cache-engine = \"disable\"\n"
                           "setenv.add-environment = (\"ZONDREL_ROOT\" => \"" + testing_support::TestRoot() +
                           "\", \"ZONDREL_NOTES_DATA\" => \"" + notesData + "\")\n";
  ASSERT_TRUE(web.Start(WebServer::Kind::kLighttpd, options)) << web.ErrorLog();
  std::filesystem::create_directories(web.Root() + "cgi-bin");
  std::filesystem::create_symlink(testing_support::ProgramPath("chanadmin"), web.Root() + "cgi-bin/chanadmin.exe");
  std::filesystem::create_symlink(testing_support::ProgramPath("viewexport"), web.Root() + "cgi-bin/viewexport.exe");
  // Where chanadmin keeps domino.dat: the web server's folder.
  QRRegistry key(QRRegistry(platform::HKEY_LOCAL_MACHINE), "SOFTWARE\\Lotus\\Dazave.ZevodArud\\Zondrel", nullptr);
  ASSERT_TRUE(key.Open(1));
  ASSERT_TRUE(key.SetValue("DominoHTML", web.Root().c_str(), platform::REG_SZ));
  ASSERT_TRUE(key.SetValue("DominoCGIBINAlias", "cgi-bin", platform::REG_SZ));
  key.Close(1);

  // The administrator saves the channel's settings with the form...
  const std::string saved = upstream_testing::Exchange(
      web.Port(), "GET /cgi-bin/chanadmin.exe?channelName=Company+News&dvLogoFileName=dv.gif&InputString=+Save+"
                  "Changes+to+Domino+Server+ HTTP/1.0\r\nHost: domino.example\r\n\r\n");
  ASSERT_NE(saved.find(" 200 "), std::string::npos) << saved;
  // ... and whoever keeps the content names a view of the database.
  const std::string view = web.Url("/cgi-bin/viewexport.exe?0000215Anames.nsf");
  std::string dat = testing_support::ReadFile(web.Root() + "domino.dat");
  const std::size_t close = dat.find("</NotesChannelContent>");
  ASSERT_NE(close, std::string::npos) << dat;
  dat.insert(close, "VIEW_ID = " + view + "\r\n");
  WriteFile(web.Root() + "domino.dat", dat);
  const std::string exported = Body(upstream_testing::Exchange(web.Port(), "GET /cgi-bin/viewexport.exe?0000215Anames.nsf HTTP/1.0\r\n\r\n"));
  ASSERT_NE(exported.find("<NOTESVIEW"), std::string::npos) << exported;

  Relay relay;
  ASSERT_TRUE(relay.Start(NotesRelay(web.Url("/"))));
  ASSERT_TRUE(NotesDatShows(relay, "<NOTESVIEW"));
  const std::string notes = NotesDat(relay);
  EXPECT_NE(notes.find("ChannelName = \"Company News\"\r\n"), std::string::npos) << notes;
  EXPECT_NE(notes.find("<!-- Inserting VIEW_ID \"" + view + "\" -->\r\n" + exported + "\r\n"), std::string::npos)
      << notes;
  EXPECT_EQ(relay.Stop(), 0);
}

}  // namespace
