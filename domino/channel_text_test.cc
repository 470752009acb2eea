#include "domino/channel_text.h"

#include <string>

#include <gtest/gtest.h>

#include "domino/channel_file.h"

namespace {

using domino::ChannelSettings;

TEST(ChannelValues, EscapeAndDecodeRoundTrip) {
  EXPECT_EQ(domino::EscapeValue("R&D News 2.0"), "R&#038;D News 2.0");
  EXPECT_EQ(domino::EscapeValue("a\"/<\xe9"), "a&#034;&#047;&#060;&#233;");
  const std::string every_byte = [] {
    std::string all;
    for (int c = 1; c < 256; ++c) all += static_cast<char>(c);
    return all;
  }();
  EXPECT_EQ(domino::DecodeEntities(domino::EscapeValue(every_byte)), every_byte);
}

TEST(ChannelValues, TheEntityReaderTakesShortEntitiesAsTheyAreAndNeverReadsPastTheEnd) {
  EXPECT_EQ(domino::DecodeEntities("&#38;"), "&");           // two digits
  EXPECT_EQ(domino::DecodeEntities("&#9;x"), "\tx");         // one digit
  EXPECT_EQ(domino::DecodeEntities("a&#065b"), "aAb");       // no ";"
  EXPECT_EQ(domino::DecodeEntities("a&#0651"), "aA1");       // three digits at most
  EXPECT_EQ(domino::DecodeEntities("a&b"), "a&b");           // no entity at all
  EXPECT_EQ(domino::DecodeEntities("&"), "&");
  EXPECT_EQ(domino::DecodeEntities("&#"), "&#");
  EXPECT_EQ(domino::DecodeEntities("x&#;"), "x&#;");
  EXPECT_EQ(domino::DecodeEntities("&#000;&#999;"), "&#000;&#999;");  // no such bytes
}

TEST(ChannelHead, SettingsAreReadFromTheHead) {
  ChannelSettings settings = domino::SettingsFromHead(
      "<NotesChannelContent\r\nChannelName = \"R&#038;D News  \"\r\nDV_Logo = \"rd.gif\"\r\n"
      "AD_Logo = \"ad&#045;1.gif\"\r\nDV_File = \"S1.anm\"\r\n>\r\nVIEW_ID = x\r\n</NotesChannelContent>\r\n\r\n");
  EXPECT_EQ(settings.name, "R&D News");  // trailing blanks trimmed
  EXPECT_EQ(settings.dv_logo, "rd.gif");
  EXPECT_EQ(settings.ad_logo, "ad-1.gif");
  EXPECT_EQ(settings.dv_file, "S1.anm");
  // What the head does not name keeps its default; the name stops at "/".
  settings = domino::SettingsFromHead("ChannelName = \"a/b\"\r\nDV_File = x y");
  EXPECT_EQ(settings.name, "a");
  EXPECT_EQ(settings.dv_logo, "domdvlog.gif");
  EXPECT_EQ(settings.dv_file, "x");
  // Within quotes a file name keeps its blanks, so that a saved name with a
  // blank is read back whole.
  settings.dv_file = "my anim.anm";
  EXPECT_EQ(domino::SettingsFromHead(domino::ChannelHead(settings)).dv_file, "my anim.anm");
  // A value is cut to its field.
  settings = domino::SettingsFromHead("DV_Logo = \"" + std::string(2000, 'L') + "\"");
  EXPECT_EQ(settings.dv_logo, std::string(499, 'L'));
}

TEST(ChannelForm, TheInputChoosesTheAction) {
  using domino::FormAction;
  EXPECT_EQ(domino::ChooseAction("channelName=x&InputString=Preview"), FormAction::kPreview);
  EXPECT_EQ(domino::ChooseAction("channelName=x&InputString=+Save+Changes+to+Domino+Server+"), FormAction::kSave);
  EXPECT_EQ(domino::ChooseAction("InputString.x=4&InputString.y=9"), FormAction::kDatabaseLinks);
  EXPECT_EQ(domino::ChooseAction("InputString.x=4&InputString=Preview"), FormAction::kPreview);
  EXPECT_EQ(domino::ChooseAction(""), FormAction::kShow);
  EXPECT_EQ(domino::ChooseAction("InputString=Save"), FormAction::kShow);
}

TEST(ChannelForm, SettingsComeFromTheFormFields) {
  ChannelSettings settings = domino::SettingsFromInput(
      "channelName=R%26D+News&dvLogoFileName=rd.gif&adLogoFileName=%zz%4&dvAnimationFileName=S%31.anm"
      "&InputString=+Save+Changes+to+Domino+Server+");
  EXPECT_EQ(settings.name, "R&D News");
  EXPECT_EQ(settings.dv_logo, "rd.gif");
  EXPECT_EQ(settings.ad_logo, "%zz%4");  // not escapes: kept
  EXPECT_EQ(settings.dv_file, "S1.anm");
  settings = domino::SettingsFromInput("channelName=a%00b&dvLogoFileName=" + std::string(5000, 'x'));
  EXPECT_EQ(settings.name, "a");                         // ends at a NUL
  EXPECT_EQ(settings.dv_logo, std::string(499, 'x'));    // cut to its field
  EXPECT_EQ(settings.ad_logo, "domadlog.gif");           // not sent: the default
}

TEST(ChannelForm, ThePreviewIsTheAnimationsStillPicture) {
  EXPECT_EQ(domino::PreviewFileName("channelName=x&dvAnimationFileName=S4030005.ANM&InputString=Preview"),
            "s4030005.gif");
  EXPECT_EQ(domino::PreviewFileName("S1.anm"), "s1.gif");
  EXPECT_EQ(domino::PreviewFileName("InputString=Preview"), "");
  EXPECT_EQ(domino::PreviewFileName("a=" + std::string(1000, 'x') + ".anm").size(), 299u);
}

TEST(ChannelForm, HtmlTextEscapesMarkup) {
  EXPECT_EQ(domino::HtmlText("a&b \"c\" <d>"), "a&amp;b &quot;c&quot; &lt;d&gt;");
}

}  // namespace
