#include "domino/chanadmin.h"

#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "domino/channel_file.h"
#include "domino/domino_testing.h"
#include "platform/registry.h"
#include "platform/testing.h"
#include "regwrap/qr_registry.h"

namespace {

using domino_testing::Request;

class ChanadminTest : public ::testing::Test {
 protected:
  void SetUp() override {
    html_ = testing_support::MakeTempDir("html") + "/";
    config_.html_directory = html_;
    config_.icons_alias = "icons";
    config_.cgi_alias = "cgi-bin";
  }
  std::string Answer(std::map<std::string, std::string> variables, const std::string& body = {},
                     const std::vector<std::string>& animations = {}) {
    std::ostringstream out;
    EXPECT_EQ(domino::RunChanadmin(Request(std::move(variables), body), config_, animations, out), 0);
    return out.str();
  }
  std::string Get(const std::string& query, const std::vector<std::string>& animations = {}) {
    return Answer({{"REQUEST_METHOD", "GET"}, {"QUERY_STRING", query}, {"SERVER_NAME", "domino.example"}}, {},
                  animations);
  }
  std::string Dat() { return testing_support::ReadFile(html_ + "domino.dat"); }

  std::string html_;
  domino::ChanadminConfig config_;
};

constexpr const char* kSave = "&InputString=+Save+Changes+to+Domino+Server+";

TEST(ChanadminConfig, ValuesComeFromTheMachinesRegistryCutTo299Bytes) {
  EXPECT_EQ(domino::ReadChanadminConfig().html_directory, "");  // no key: empty values
  QRRegistry key(QRRegistry(platform::HKEY_LOCAL_MACHINE), domino::kChanadminKey, nullptr);
  ASSERT_TRUE(key.Open(1));  // created
  ASSERT_TRUE(key.SetValue("DominoHTML", "/srv/domino/html/", platform::REG_SZ));
  ASSERT_TRUE(key.SetValue("DominoICONSAlias", std::string(400, 'i').c_str(), platform::REG_SZ));
  ASSERT_TRUE(key.SetValue("DominoCGIBINAlias", "cgi-bin", platform::REG_SZ));
  key.Close(1);
  const domino::ChanadminConfig config = domino::ReadChanadminConfig();
  EXPECT_EQ(config.html_directory, "/srv/domino/html/");
  EXPECT_EQ(config.icons_alias, std::string(299, 'i'));
  EXPECT_EQ(config.cgi_alias, "cgi-bin");
  EXPECT_EQ(config.html_alias, "");
}

TEST_F(ChanadminTest, WithoutARequestMethodItWritesTheErrorPage) {
  EXPECT_EQ(Answer({}), "<HTML>\n<BODY>\nERROR - Unknown request method.\n</BODY>\n</HTML>\n");
  EXPECT_FALSE(std::filesystem::exists(html_ + "domino.dat"));
}

TEST_F(ChanadminTest, AFirstCallShowsTheDefaultsAndCreatesDominoDat) {
  const std::string page = Get("");
  EXPECT_EQ(page.rfind("Content-type: text/html\n\n<!--\nOrrinvale Zondrel Administration for Dazave.ZevodArud, "
                       "build 1.1K\n-->\n<HTML>\n<BODY>\n<TITLE>Domino Channel Administration</TITLE>\n",
                       0),
            0u)
      << page;
  EXPECT_NE(page.find("NAME=\"channelName\" SIZE=30 VALUE=\"Domino\""), std::string::npos);
  EXPECT_NE(page.find("NAME=\"dvLogoFileName\" SIZE=30 VALUE=\"domdvlog.gif\""), std::string::npos);
  EXPECT_NE(page.find("NAME=\"dvAnimationFileName\" SIZE=99 VALUE=\"S4030005.anm\""), std::string::npos);
  EXPECT_NE(page.find("<FORM NAME=\"channelForm\" METHOD=GET ACTION=chanadmin.exe onSubmit=\"return verifyInput()\">"),
            std::string::npos);
  EXPECT_NE(page.find("SRC=\"http://domino.example/icons/notes1b.gif\""), std::string::npos);
  EXPECT_EQ(page.substr(page.size() - 16), "</BODY>\n</HTML>\n");
  EXPECT_EQ(Dat(),
            "<NotesChannelContent\r\nChannelName = \"Domino\"\r\nDV_Logo = \"domdvlog.gif\"\r\n"
            "AD_Logo = \"domadlog.gif\"\r\nDV_File = \"S4030005.anm\"\r\n>\r\n</NotesChannelContent>\r\n\r\n");
  // With a gateway other than CGI/1.1 the header carries the status.
  EXPECT_EQ(Answer({{"REQUEST_METHOD", "GET"}, {"GATEWAY_INTERFACE", "CGI/1.0"}})
                .rfind("Content-type: text/html\nStatus: 200 OK\n\n<!--\n", 0),
            0u);
}

TEST_F(ChanadminTest, AChannelNameWithAnAmpersandRoundTrips) {
  const std::string saved = Get("channelName=R%26D+%22News%22&dvLogoFileName=rd.gif&adLogoFileName=ad.gif"
                                "&dvAnimationFileName=S1.anm" + std::string(kSave));
  EXPECT_NE(saved.find("VALUE=\"R&amp;D &quot;News&quot;\""), std::string::npos);
  EXPECT_NE(Dat().find("ChannelName = \"R&#038;D &#034;News&#034;\"\r\n"), std::string::npos) << Dat();
  const std::string shown = Get("");
  EXPECT_NE(shown.find("NAME=\"channelName\" SIZE=30 VALUE=\"R&amp;D &quot;News&quot;\""), std::string::npos);
  EXPECT_EQ(domino::ReadChannelSettings(html_ + "domino.dat").name, "R&D \"News\"");
}

TEST_F(ChanadminTest, SavingKeepsTheBodyAndAbsentFieldsTakeTheirDefaults) {
  const std::string body = "\r\nVIEW_ID = http://domino/cgi-bin/viewexport.exe?0000215Anames.nsf\r\n" +
                           std::string(1200, 'g') + "\r\n";
  testing_support::WriteFile(html_ + "domino.dat", domino::ChannelHead(domino::ChannelSettings()) + body +
                                                       "</NotesChannelContent>\r\n\r\n");
  Get("channelName=Ours" + std::string(kSave));
  domino::ChannelSettings expected;
  expected.name = "Ours";
  EXPECT_EQ(Dat(), domino::ChannelHead(expected) + body + "</NotesChannelContent>\r\n\r\n");
}

TEST_F(ChanadminTest, TheImageButtonRedirectsToLinkviewUnderTheCgiAlias) {
  EXPECT_EQ(Get("InputString.x=12&InputString.y=7"), "Location: http://domino.example/cgi-bin/linkview.exe\n\n");
  EXPECT_EQ(Answer({{"REQUEST_METHOD", "GET"},
                    {"GATEWAY_INTERFACE", "CGI/1.0"},
                    {"SERVER_NAME", "domino.example"},
                    {"QUERY_STRING", "InputString.x=12&InputString.y=7"}}),
            "Status: 302 Found\nLocation: http://domino.example/cgi-bin/linkview.exe\n\n");
  EXPECT_FALSE(std::filesystem::exists(html_ + "domino.dat"));
}

TEST_F(ChanadminTest, PreviewRedirectsToTheAnimationsStillPicture) {
  EXPECT_EQ(Get("channelName=x&dvAnimationFileName=S4030005.anm&InputString=Preview"),
            "Location: http://domino.example/icons/s4030005.gif\n\n");
  // Nothing that could end the header line reaches it.
  EXPECT_EQ(Answer({{"REQUEST_METHOD", "POST"},
                    {"CONTENT_TYPE", "application/x-www-form-urlencoded"},
                    {"CONTENT_LENGTH", "60"},
                    {"SERVER_NAME", "d"}},
                   "InputString=Preview&dvAnimationFileName=a\r\nSet-Cookie: x.anm"),
            "Location: http://d/icons/aset-cookie: x.gif\n\n");
  // No animation named: the form.
  EXPECT_NE(Get("InputString=Preview").find("<FORM"), std::string::npos);
}

TEST_F(ChanadminTest, APostedFormIsReadNoFurtherThanWhatArrived) {
  const std::string form = "channelName=Posted&dvLogoFileName=p.gif" + std::string(kSave);
  auto post = [&](std::map<std::string, std::string> variables, const std::string& body) {
    variables["REQUEST_METHOD"] = "post";
    variables["CONTENT_TYPE"] = "application/x-www-form-urlencoded; charset=UTF-8";
    Answer(variables, body);
    return domino::ReadChannelSettings(html_ + "domino.dat");
  };
  EXPECT_EQ(post({{"CONTENT_LENGTH", std::to_string(form.size())}}, form).name, "Posted");
  EXPECT_EQ(post({{"CONTENT_LENGTH", "1000000"}}, form).name, "Posted");  // more announced than sent
  // Missing, negative or not a number: nothing is read, the form is shown.
  for (const char* length : {"", "-5", "12abc"}) {
    testing_support::WriteFile(html_ + "domino.dat", "");
    std::map<std::string, std::string> variables;
    if (length[0] != '\0') variables["CONTENT_LENGTH"] = length;
    EXPECT_EQ(post(variables, form).name, "Domino") << length;
  }
  // Only the first 4095 bytes count.
  EXPECT_EQ(post({{"CONTENT_LENGTH", "99999"}}, std::string(4100, '&') + form).name, "Domino");
}

TEST_F(ChanadminTest, ABodyThatIsNotAFormIsEchoedInTheBodyOfTheAnswer) {
  const std::string page = Answer(
      {{"REQUEST_METHOD", "POST"}, {"CONTENT_TYPE", "text/plain"}, {"CONTENT_LENGTH", "5"}}, "hello");
  EXPECT_EQ(page.rfind("Content-type: text/html\n\nInput = hello\n<!--\n", 0), 0u) << page;
}

TEST_F(ChanadminTest, TheAnimationChoiceListsTheFilesAndMarksTheCurrentOne) {
  const std::vector<std::string> files = {"a.anm", "S4030005.ANM", "c.anm"};
  std::string page = Get("", files);
  EXPECT_NE(page.find("<SELECT NAME=\"dvAnimationFileName\">\n<OPTION 2> a.anm\n<OPTION SELECTED 4> S4030005.ANM\n"
                      "<OPTION 5> c.anm\n</SELECT>\n"),
            std::string::npos)
      << page;
  page = Get("dvAnimationFileName=A.anm" + std::string(kSave), files);
  EXPECT_NE(page.find("<OPTION SELECTED 1> a.anm\n<OPTION 5> S4030005.ANM\n<OPTION 5> c.anm\n</SELECT>"),
            std::string::npos);
  page = Get("dvAnimationFileName=%3Cz%3E.anm" + std::string(kSave), files);
  EXPECT_NE(page.find("<OPTION 2> a.anm\n<OPTION 5> S4030005.ANM\n<OPTION 5> c.anm\n<OPTION SELECTED 7> &lt;z&gt;.anm\n"),
            std::string::npos);
  // Without settings.
  page = domino::ChannelForm(Request({}), config_, nullptr, files);
  EXPECT_NE(page.find("<OPTION 3> a.anm\n<OPTION 6> S4030005.ANM\n<OPTION 6> c.anm\n</SELECT>"), std::string::npos);
  EXPECT_NE(page.find("VALUE=\"The Domino Channel\""), std::string::npos);
}

TEST_F(ChanadminTest, WhenDominoDatCannotBeReplacedTheFormIsStillWritten) {
  config_.html_directory = html_ + "missing/";
  const std::string page = Get("channelName=X" + std::string(kSave));
  EXPECT_NE(page.find("VALUE=\"X\""), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(html_ + "missing"));
}

}  // namespace
