// The corporate data object over real files: loading and reloading
// corp.dat, group files that must stay in their folder, a posted channel
// saved and read back, reserving group files and the folder listings.
#include "channels/corporate_data.h"

#include <filesystem>
#include <set>
#include <string>

#include <gtest/gtest.h>

#include "channels/corp_file_format.h"
#include "channels/house_testing.h"
#include "platform/testing.h"

namespace {

namespace fs = std::filesystem;
using testing_support::ReadFile;
using testing_support::WriteFile;

const std::string kHeader =
    "NAME=Acme News\r\nDV_LOGO=dvlogo.gif\r\nAD_LOGO=adlogo.gif\r\nDV_FILE=doze.anm\r\nFLASH_FILE=flash.dat\r\n";
const std::string kGroupFile =
    "GROUP=Local\r\nDOC_ID=1\r\nDOC_SUBJECT=One\r\nDOC_SUMMARY=<p>one</p>\r\nDOC_SUMMARY_END\r\n";

struct CorpDirectory {
  std::string dir = testing_support::MakeTempDir("corp") + "/";

  void Write(const std::string& name, const std::string& text) const { WriteFile(dir + name, text); }
  std::string Read(const std::string& name) const { return ReadFile(dir + name); }
};

TEST(CorporateData, LoadsCorpDatWithItsGroupFilesAndServesTheExpandedForm) {
  CorpDirectory corp;
  fs::create_directories(corp.dir + "GROUPS");
  corp.Write("GROUPS/g1.dat", kGroupFile);
  corp.Write("corp.dat", kHeader + "GROUP_FILE=g1.dat,,\r\nGROUP_FILE=../outside.dat,,\r\n");
  corp.Write("outside.dat", "GROUP=Stolen\r\nDOC_ID=666\r\n");

  CCorporateData data;
  ASSERT_EQ(data.Initialize(corp.dir, "corp.dat"), 0);
  EXPECT_EQ(data.Initialize(corp.dir, "corp.dat"), 0);  // once only
  const std::optional<CCorpChannel> channel = data.GetChannel();
  ASSERT_TRUE(channel);
  ASSERT_EQ(channel->groups.size(), 2u);
  EXPECT_EQ(channel->groups[0].name, "Local");
  // A group file must be a plain name in the group folder.
  EXPECT_EQ(channel->groups[1].name, "");
  EXPECT_TRUE(channel->groups[1].documents.empty());
  EXPECT_EQ(data.GetExpandedImage().value_or(""), kHeader + kGroupFile);
  EXPECT_EQ(data.GetCompactImage().value_or(""), corp.Read("corp.dat"));
  EXPECT_EQ(data.GetGroupLines().value_or(""), "GROUP_FILE=g1.dat,,\r\nGROUP_FILE=../outside.dat,,\r\n");
  EXPECT_FALSE(data.DNSLookups());  // CorporateDisableDNSLookups defaults to 1
}

TEST(CorporateData, WithoutCorpDatNothingIsServedUntilOneAppears) {
  CorpDirectory corp;
  int attempts = 0;
  std::string reason;
  // A missing file is not waited for.
  EXPECT_FALSE(CCorporateData::ReadDataFile(corp.dir + "corp.dat", 1024, reason, &attempts));
  EXPECT_EQ(attempts, 1);

  CCorporateData data;
  EXPECT_EQ(data.Initialize(corp.dir, "corp.dat"), -1);
  EXPECT_TRUE(fs::is_directory(corp.dir + "GROUPS"));  // made for the channel to come
  EXPECT_FALSE(data.GetExpandedImage());
  std::string names;
  int count = 0;
  EXPECT_EQ(data.ListDataFiles(corp.dir, names, count), -1);
  EXPECT_EQ(data.ReplaceFromImage(kHeader), -1);

  corp.Write("corp.dat", kHeader);
  EXPECT_TRUE(data.ReloadIfChanged());
  EXPECT_EQ(data.GetExpandedImage().value_or(""), kHeader);
}

TEST(CorporateData, AnEditedCorpDatIsReloadedAndABrokenOneKeepsTheTree) {
  CorpDirectory corp;
  corp.Write("corp.dat", kHeader);
  CCorporateData data;
  ASSERT_EQ(data.Initialize(corp.dir, "corp.dat"), 0);
  EXPECT_FALSE(data.ReloadIfChanged());  // same bytes

  const std::string edited = "NAME=Renamed\r\n" + kHeader.substr(kHeader.find("DV_LOGO"));
  corp.Write("corp.dat", edited);
  EXPECT_TRUE(data.ReloadIfChanged());
  EXPECT_EQ(data.GetHeader()->name, "Renamed");

  corp.Write("corp.dat", "no name here\r\n");
  EXPECT_FALSE(data.ReloadIfChanged());
  EXPECT_EQ(data.GetHeader()->name, "Renamed");
  EXPECT_FALSE(house_testing::FileErrorsAbout(corp.dir + "corp.dat").empty());

  // A file over the size bound is refused before it is read.
  corp.Write("corp.dat", std::string(corp_limits::kFileBytes + 1, 'x'));
  EXPECT_FALSE(data.ReloadIfChanged());
  EXPECT_EQ(data.GetHeader()->name, "Renamed");
}

TEST(CorporateData, APostedChannelIsSavedAndReadsBackAsPosted) {
  CorpDirectory corp;
  fs::create_directories(corp.dir + "GROUPS");
  corp.Write("GROUPS/g1.dat", kGroupFile);
  corp.Write("corp.dat", kHeader + "GROUP_FILE=g1.dat,,\r\n");
  CCorporateData data;
  ASSERT_EQ(data.Initialize(corp.dir, "corp.dat"), 0);

  const std::string second =
      "GROUP=Second\r\nDOC_ID=2\r\nDOC_SUBJECT=Two\r\nDOC_SUMMARY=<p>two\r\nlines</p>\r\nDOC_SUMMARY_END\r\n";
  const std::string third = "GROUP=Third\r\nDOC_ID=3\r\nDOC_SUBJECT=Three\r\nDOC_SUMMARY=<HTML></HTML>\r\nDOC_SUMMARY_END\r\n";
  const std::string posted = kHeader + "GROUP_FILE=g1.dat,5,6\r\n" + second + third + "GROUP_FILE=www.remote.test/g\r\n";
  ASSERT_EQ(data.ReplaceFromImage(posted), 0);

  // Each inline group got a file of its own, named in the compact corp.dat.
  const std::optional<CCorpChannel> channel = data.GetChannel();
  ASSERT_TRUE(channel);
  ASSERT_EQ(channel->groups.size(), 4u);
  const std::string secondFile = channel->groups[1].reference;
  const std::string thirdFile = channel->groups[2].reference;
  EXPECT_NE(secondFile, thirdFile);
  EXPECT_EQ(corp.Read("GROUPS/" + secondFile), second);
  EXPECT_EQ(corp.Read("GROUPS/" + thirdFile), third);
  EXPECT_EQ(corp.Read("corp.dat"), kHeader + "GROUP_FILE=g1.dat,5,6\r\nGROUP_FILE=" + secondFile +
                                       ",,\r\nGROUP_FILE=" + thirdFile + ",,\r\nGROUP_FILE=www.remote.test/g\r\n");

  // A fresh object over the saved files serves what was posted.
  CCorporateData reread;
  ASSERT_EQ(reread.Initialize(corp.dir, "corp.dat"), 0);
  EXPECT_EQ(reread.GetExpandedImage().value_or(""), kHeader + kGroupFile + second + third +
                                                        "GROUP_FILE=www.remote.test/g\r\n");
  EXPECT_EQ(data.GetExpandedImage(), reread.GetExpandedImage());

  // An image that does not parse changes nothing.
  EXPECT_EQ(data.ReplaceFromImage("GROUP=orphan\r\n"), -1);
  EXPECT_EQ(data.GetChannel()->groups.size(), 4u);
}

TEST(CorporateData, ReservedGroupFilesAreNewAndAnUnwritableFolderGivesUp) {
  CorpDirectory corp;
  std::set<std::string> names;
  for (int i = 0; i < 5; ++i) {
    const std::optional<std::string> name = CCorporateData::ReserveGroupFile(corp.dir);
    ASSERT_TRUE(name);
    EXPECT_EQ(name->front(), 'g');
    EXPECT_EQ(name->substr(name->size() - 5), "8.dat");
    EXPECT_TRUE(fs::exists(corp.dir + *name));
    EXPECT_EQ(fs::file_size(corp.dir + *name), 0u);
    names.insert(*name);
  }
  EXPECT_EQ(names.size(), 5u);
  EXPECT_FALSE(CCorporateData::ReserveGroupFile(corp.dir + "no/such/folder"));
}

TEST(CorporateData, ListsDataAndAnimationFiles) {
  CorpDirectory corp;
  corp.Write("corp.dat", kHeader);
  corp.Write("flash.dat", "ticker");
  corp.Write("doze.anm", "a");
  corp.Write("LOGO.ANM", "b");
  corp.Write("logo.gif", "c");
  fs::create_directories(corp.dir + "dir.dat");
  CCorporateData data;
  ASSERT_EQ(data.Initialize(corp.dir, "corp.dat"), 0);
  std::string names;
  int count = 0;
  ASSERT_EQ(data.ListDataFiles(corp.dir, names, count), 0);
  EXPECT_EQ(names, "corp.dat\nflash.dat\n");
  EXPECT_EQ(count, 2);
  ASSERT_EQ(data.ListAnimationFiles(corp.dir, names, count), 0);
  EXPECT_EQ(names, "LOGO.ANM\ndoze.anm\n");
  EXPECT_EQ(count, 2);
}

}  // namespace
