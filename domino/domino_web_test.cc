// The two CGI programs under a real web server: lighttpd on a loopback port
// runs them with its CGI module, and the tests talk HTTP to it as a browser
// and the relay would.
#include <filesystem>
#include <map>
#include <string>

#include <gtest/gtest.h>

#include "domino/channel_file.h"
#include "domino/chanadmin.h"
#include "domino/domino_testing.h"
#include "domino/view_export.h"
#include "platform/registry.h"
#include "platform/testing.h"
#include "regwrap/qr_registry.h"
#include "upstream/web_server_testing.h"

namespace {

using upstream_testing::WebServer;

struct Answer {
  std::string head;  // status line and header lines
  std::string body;
  bool ok() const { return head.rfind("HTTP/1.0 200", 0) == 0 || head.rfind("HTTP/1.1 200", 0) == 0; }
};

class DominoWebTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (WebServer::Program(WebServer::Kind::kLighttpd).empty()) {
      return testing_support::PeerMissing("lighttpd", WebServer::Package(WebServer::Kind::kLighttpd));
    }
    notes_dir_ = testing_support::MakeTempDir("notes");
    const std::string config =
        "server.modules += (\"mod_cgi\", \"mod_setenv\")\n"
        "cgi.assign = (\".exe\" => \"\")\n"
        // domino.dat changes under the server's feet within a second.
        "server.stat-cache-engine = \"disable\"\n"
        "setenv.add-environment = (\"ZONDREL_ROOT\" => \"" + testing_support::TestRoot() +
        "\", \"ZONDREL_NOTES_DATA\" => \"" + notes_dir_ + "\")\n";
    ASSERT_TRUE(server_.Start(WebServer::Kind::kLighttpd, config)) << server_.ErrorLog();
    html_ = server_.Root();
    const std::string cgi = html_ + "cgi-bin";
    std::filesystem::create_directory(cgi);
    std::filesystem::create_symlink(testing_support::ProgramPath("chanadmin"), cgi + "/chanadmin.exe");
    std::filesystem::create_symlink(testing_support::ProgramPath("viewexport"), cgi + "/viewexport.exe");
    testing_support::WriteFile(cgi + "/S4030005.anm", "animation");
    QRRegistry key(QRRegistry(platform::HKEY_LOCAL_MACHINE), domino::kChanadminKey, nullptr);
    ASSERT_TRUE(key.Open(1));
    ASSERT_TRUE(key.SetValue("DominoHTML", html_.c_str(), platform::REG_SZ));
    ASSERT_TRUE(key.SetValue("DominoICONSAlias", "icons", platform::REG_SZ));
    ASSERT_TRUE(key.SetValue("DominoCGIBINAlias", "cgi-bin", platform::REG_SZ));
    key.Close(1);
  }

  Answer Request(const std::string& text) {
    const std::string raw = upstream_testing::Exchange(server_.Port(), text);
    const std::size_t end = raw.find("\r\n\r\n");
    if (end == std::string::npos) return {raw, ""};
    return {raw.substr(0, end + 2), raw.substr(end + 4)};
  }
  Answer Get(const std::string& target) {
    return Request("GET " + target + " HTTP/1.0\r\nHost: domino.example\r\n\r\n");
  }

  WebServer server_;
  std::string html_;
  std::string notes_dir_;
};

// The text inputs of a form as a browser would send them back: NAME and
// the HTML-decoded VALUE of each.
std::map<std::string, std::string> TextInputs(const std::string& page) {
  std::map<std::string, std::string> inputs;
  for (std::size_t at = page.find("<INPUT TYPE=\"text\""); at != std::string::npos;
       at = page.find("<INPUT TYPE=\"text\"", at + 1)) {
    const std::size_t name = page.find("NAME=\"", at) + 6;
    const std::size_t value = page.find("VALUE=\"", at) + 7;
    std::string text = page.substr(value, page.find('"', value) - value);
    for (auto [entity, c] : {std::pair{"&quot;", "\""}, {"&lt;", "<"}, {"&gt;", ">"}, {"&amp;", "&"}}) {
      for (std::size_t p = text.find(entity); p != std::string::npos; p = text.find(entity, p + 1)) {
        text.replace(p, std::strlen(entity), c);
      }
    }
    inputs[page.substr(name, page.find('"', name) - name)] = text;
  }
  return inputs;
}

std::string FormEncode(const std::string& text) {
  std::string out;
  for (unsigned char c : text) {
    if (std::isalnum(c) || c == '.' || c == '-' || c == '_') {
      out += static_cast<char>(c);
    } else if (c == ' ') {
      out += '+';
    } else {
      char escape[4];
      std::snprintf(escape, sizeof escape, "%%%02X", c);
      out += escape;
    }
  }
  return out;
}

TEST_F(DominoWebTest, TheFormIsShownSavedAndDominoDatServed) {
  // The first visit shows the defaults and creates domino.dat.
  Answer form = Get("/cgi-bin/chanadmin.exe");
  ASSERT_TRUE(form.ok()) << form.head << form.body << server_.ErrorLog();
  EXPECT_NE(form.head.find("Content-type: text/html"), std::string::npos) << form.head;
  EXPECT_NE(form.body.find("<OPTION SELECTED 1> S4030005.anm\n"), std::string::npos) << form.body;
  Answer dat = Get("/domino.dat");
  ASSERT_TRUE(dat.ok());
  EXPECT_EQ(dat.body, domino::ChannelHead(domino::ChannelSettings()) + "\r\n</NotesChannelContent>\r\n\r\n");

  // Whoever keeps the channel's content adds its views to the body.
  const std::string body = "\r\nVIEW_ID = " + server_.Url("/cgi-bin/viewexport.exe?0000215Anames.nsf") + "\r\n";
  testing_support::WriteFile(html_ + "domino.dat", domino::ChannelHead(domino::ChannelSettings()) + body +
                                                       "</NotesChannelContent>\r\n\r\n");

  // The browser sends the form back with new values, as its METHOD says.
  std::map<std::string, std::string> inputs = TextInputs(form.body);
  ASSERT_EQ(inputs.size(), 3u);
  inputs["channelName"] = "R&D News";
  inputs["dvLogoFileName"] = "rdlogo.gif";
  std::string query;
  for (const auto& [name, value] : inputs) query += name + "=" + FormEncode(value) + "&";
  query += "dvAnimationFileName=S4030005.anm&InputString=" + FormEncode(" Save Changes to Domino Server ");
  Answer saved = Get("/cgi-bin/chanadmin.exe?" + query);
  ASSERT_TRUE(saved.ok()) << saved.head;
  EXPECT_EQ(TextInputs(saved.body)["channelName"], "R&D News");

  domino::ChannelSettings expected;
  expected.name = "R&D News";
  expected.dv_logo = "rdlogo.gif";
  dat = Get("/domino.dat");
  EXPECT_EQ(dat.body, domino::ChannelHead(expected) + body + "</NotesChannelContent>\r\n\r\n");
  EXPECT_NE(dat.body.find("ChannelName = \"R&#038;D News\"\r\n"), std::string::npos);
  // Shown again as saved, and no temporary file left beside domino.dat.
  EXPECT_EQ(TextInputs(Get("/cgi-bin/chanadmin.exe").body)["channelName"], "R&D News");
  for (const auto& entry : std::filesystem::directory_iterator(html_)) {
    EXPECT_EQ(entry.path().filename().string().find(".tmp."), std::string::npos) << entry.path();
  }

  // A form posted with its body.
  const std::string posted = "channelName=Posted&InputString=" + FormEncode(" Save Changes to Domino Server ");
  Answer post = Request("POST /cgi-bin/chanadmin.exe HTTP/1.0\r\nHost: domino.example\r\n"
                        "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: " +
                        std::to_string(posted.size()) + "\r\n\r\n" + posted);
  ASSERT_TRUE(post.ok()) << post.head;
  EXPECT_NE(Get("/domino.dat").body.find("ChannelName = \"Posted\"\r\n"), std::string::npos);
}

TEST_F(DominoWebTest, TheImageButtonAndThePreviewRedirect) {
  Answer links = Get("/cgi-bin/chanadmin.exe?InputString.x=12&InputString.y=7");
  EXPECT_EQ(links.head.find("302"), 9u) << links.head;
  EXPECT_NE(links.head.find("\r\nLocation: http://domino.example/cgi-bin/linkview.exe\r\n"), std::string::npos)
      << links.head;
  Answer preview = Get("/cgi-bin/chanadmin.exe?channelName=x&dvAnimationFileName=S4030005.anm&InputString=Preview");
  EXPECT_EQ(preview.head.find("302"), 9u) << preview.head;
  EXPECT_NE(preview.head.find("\r\nLocation: http://domino.example/icons/s4030005.gif\r\n"), std::string::npos);
}

TEST_F(DominoWebTest, ViewexportWritesTheViewThatTheRelayFetches) {
  notes::ViewDescription view = domino_testing::View(0x215A, "Company \"News\"", 120);
  ASSERT_EQ(notes::WriteDatabase(notes_dir_ + "/names.nsf", {view}), "");
  std::ostringstream expected;
  ::setenv("ZONDREL_NOTES_DATA", notes_dir_.c_str(), 1);
  ASSERT_EQ(domino::RunViewExport(domino_testing::Request({{"REQUEST_METHOD", "GET"},
                                                           {"GATEWAY_INTERFACE", "CGI/1.1"},
                                                           {"QUERY_STRING", "0000215Anames.nsf"}}),
                                  expected),
            0);
  const std::string markup = expected.str().substr(std::strlen("Content-type: text/plain\n\n"));
  Answer answer = Get("/cgi-bin/viewexport.exe?0000215Anames.nsf");
  ASSERT_TRUE(answer.ok()) << answer.head << server_.ErrorLog();
  EXPECT_NE(answer.head.find("Content-type: text/plain"), std::string::npos);
  EXPECT_EQ(answer.body, markup);
  // By its absolute path too.
  EXPECT_EQ(Get("/cgi-bin/viewexport.exe?0000215A" + notes_dir_ + "/names.nsf").body, markup);
  // An error is the whole body.
  EXPECT_EQ(Get("/cgi-bin/viewexport.exe?0000215A").body, "REDURADA ERROR: Notes database  could not be opened.");
}

}  // namespace
