#include "channels/corp_file_format.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

namespace {

using corp_format::ReadChannel;

const std::string kHeader =
    "NAME=Acme News\r\n"
    "DV_LOGO=dvlogo.gif\r\n"
    "AD_LOGO=adlogo.gif\r\n"
    "DV_FILE=doze.anm\r\n"
    "FLASH_FILE=flash.dat\r\n";

const std::string kDocuments =
    "DOC_ID=1\r\n"
    "DOC_SUBJECT=First\r\n"
    "DOC_SUMMARY=<p>one\r\n"
    "two</p>\r\n"
    "DOC_SUMMARY_END\r\n"
    "DOC_ID=2\r\n"
    "DOC_SUBJECT=Second\r\n"
    "DOC_SUMMARY=<p>three</p>\r\n"
    "DOC_SUMMARY_END\r\n";

// Group files by name, read as the data object reads them.
struct GroupFiles {
  std::map<std::string, std::string> files;

  corp_format::GroupFileReader Reader() {
    return [this](CCorpGroup& group) {
      const auto found = files.find(group.reference);
      if (found == files.end()) return false;
      std::string reason;
      return corp_format::ReadGroupFile(found->second, group, reason);
    };
  }
  corp_format::GroupFileBytes Bytes() {
    return [this](const CCorpGroup& group) -> std::optional<std::string> {
      const auto found = files.find(group.reference);
      if (found == files.end()) return std::nullopt;
      return found->second;
    };
  }
};

CCorpChannel Read(const std::string& text, GroupFiles* groups = nullptr) {
  CCorpChannel channel;
  std::string reason;
  EXPECT_TRUE(ReadChannel(text, channel, groups != nullptr ? groups->Reader() : nullptr, reason)) << reason;
  return channel;
}

TEST(CorpFileFormat, HeaderKeysAreSearchedInOrderWithoutRegardToCase) {
  const CCorpChannel channel = Read(
      "# written by hand\n"
      "name=Acme\n"
      "junk line\n"
      "DV_LOGO=\r\n"  // an empty value does not count
      "Dv_Logo=dv.gif\r\n"
      "AD_LOGO=ad.gif\r\n"
      "DV_FILE=doze.anm\r\n"
      "FLASH_FILE=flash.dat\r\n");
  EXPECT_EQ(channel.name, "Acme");
  EXPECT_EQ(channel.dvLogo, "dv.gif");
  EXPECT_EQ(channel.adLogo, "ad.gif");
  EXPECT_EQ(channel.dvFile, "doze.anm");
  EXPECT_EQ(channel.flashFile, "flash.dat");
}

TEST(CorpFileFormat, AMissingHeaderKeyTakesTheRestOfTheFile) {
  // Without DV_LOGO the search for it reads to the end: only the name loads.
  const CCorpChannel channel = Read("NAME=Acme\r\nAD_LOGO=ad.gif\r\nDV_FILE=d\r\nFLASH_FILE=f\r\nGROUP=News\r\n");
  EXPECT_EQ(channel.name, "Acme");
  EXPECT_EQ(channel.adLogo, "");
  EXPECT_EQ(channel.dvFile, "");
  EXPECT_EQ(channel.flashFile, "");
  EXPECT_TRUE(channel.groups.empty());

  CCorpChannel none;
  std::string reason;
  EXPECT_FALSE(ReadChannel("DV_LOGO=x\r\n", none, nullptr, reason));
  EXPECT_FALSE(ReadChannel("", none, nullptr, reason));
}

TEST(CorpFileFormat, LinesLongerThanTheLineBufferAreReadInPieces) {
  const std::string longName(600, 'n');
  const CCorpChannel channel = Read("NAME=" + longName + "\r\n" + kHeader.substr(kHeader.find("DV_LOGO")));
  EXPECT_EQ(channel.name, longName.substr(0, corp_limits::kLineBytes - 5));
  EXPECT_EQ(channel.dvLogo, "dvlogo.gif");

  // A summary keeps every byte, however its lines were cut.
  const std::string longLine(1500, 's');
  const CCorpChannel withSummary =
      Read(kHeader + "GROUP=G\r\nDOC_ID=1\r\nDOC_SUMMARY=" + longLine + "\r\nDOC_SUMMARY_END\r\n");
  ASSERT_EQ(withSummary.groups.size(), 1u);
  ASSERT_EQ(withSummary.groups[0].documents.size(), 1u);
  EXPECT_EQ(withSummary.groups[0].documents[0].summary, longLine + "\r\n");

  // A piece that starts inside a line is not a key line, whatever it reads.
  const std::string tricky = std::string(corp_limits::kLineBytes, 'a') + "DOC_SUMMARY_END and more\r\n";
  const CCorpChannel cut = Read(kHeader + "GROUP=G\r\nDOC_ID=1\r\nDOC_SUMMARY=x\r\n" + tricky + "DOC_SUMMARY_END\r\n");
  ASSERT_EQ(cut.groups[0].documents.size(), 1u);
  EXPECT_EQ(cut.groups[0].documents[0].summary, "x\r\n" + tricky);
}

TEST(CorpFileFormat, InlineGroupsEndAtTheNextGroupLine) {
  const CCorpChannel channel =
      Read(kHeader + "GROUP=First\r\n" + kDocuments + "GROUP=Second\r\nDOC_ID=9\r\nDOC_SUBJECT=Nine\r\n" +
           "DOC_SUMMARY=x\r\nDOC_SUMMARY_END\r\n");
  ASSERT_EQ(channel.groups.size(), 2u);
  EXPECT_EQ(channel.groups[0].name, "First");
  ASSERT_EQ(channel.groups[0].documents.size(), 2u);
  EXPECT_EQ(channel.groups[0].documents[0].summary, "<p>one\r\ntwo</p>\r\n");
  EXPECT_EQ(channel.groups[1].name, "Second");
  ASSERT_EQ(channel.groups[1].documents.size(), 1u);
  EXPECT_EQ(channel.groups[1].documents[0].subject, "Nine");
}

TEST(CorpFileFormat, DocumentsWithoutIdentifierAreDroppedAndEmptySummariesGetTheDefaultBody) {
  const CCorpChannel channel = Read(kHeader +
                                    "GROUP=G\r\n"
                                    "DOC_SUBJECT=orphan\r\nDOC_SUMMARY=lost\r\nDOC_SUMMARY_END\r\n"
                                    "DOC_ID=\r\n"
                                    "DOC_ID=7\r\nDOC_SUBJECT=no summary\r\n"
                                    "DOC_ID=8\r\nDOC_SUMMARY=no end");
  ASSERT_EQ(channel.groups.size(), 1u);
  ASSERT_EQ(channel.groups[0].documents.size(), 2u);
  EXPECT_EQ(channel.groups[0].documents[0].id, "7");
  EXPECT_EQ(channel.groups[0].documents[0].summary, "");
  EXPECT_EQ(channel.groups[0].documents[1].summary, "no end");

  std::string written;
  corp_format::WriteGroupBody(channel.groups[0], written);
  EXPECT_EQ(written,
            "GROUP=G\r\n"
            "DOC_ID=7\r\nDOC_SUBJECT=no summary\r\nDOC_SUMMARY=<HTML></HTML>\r\nDOC_SUMMARY_END\r\n"
            // The end line must start a line of its own to be found again.
            "DOC_ID=8\r\nDOC_SUBJECT=\r\nDOC_SUMMARY=no end\r\nDOC_SUMMARY_END\r\n");
}

TEST(CorpFileFormat, GroupReferencesAreRemoteOnlyForURLs) {
  GroupFiles groups;
  groups.files["g1A2B8.dat"] = "GROUP=Local\r\n" + kDocuments;
  const CCorpChannel channel = Read(kHeader +
                                        "GROUP_FILE=g1A2B8.dat,12,high\r\n"
                                        "GROUP_FILE=http://intranet/news.dat\r\n"
                                        "GROUP_FILE=WWW.example.test/g.dat\r\n"
                                        "GROUP_FILE=ftp://host/g.dat\r\n"
                                        "GROUP_FILE=,no,file\r\n",  // names no group
                                    &groups);
  ASSERT_EQ(channel.groups.size(), 4u);
  EXPECT_FALSE(channel.groups[0].remote);
  EXPECT_EQ(channel.groups[0].reference, "g1A2B8.dat");
  EXPECT_EQ(channel.groups[0].firstValue, "12");
  EXPECT_EQ(channel.groups[0].secondValue, "high");
  EXPECT_EQ(channel.groups[0].name, "Local");
  EXPECT_EQ(channel.groups[0].documents.size(), 2u);
  EXPECT_TRUE(channel.groups[1].remote);
  EXPECT_TRUE(channel.groups[2].remote);
  EXPECT_FALSE(channel.groups[3].remote);  // not a URL: a (missing) local file
}

TEST(CorpFileFormat, CompactAndExpandedFormsReadBackAsWritten) {
  GroupFiles groups;
  const std::string groupFile = "GROUP=Local\r\n" + kDocuments;
  groups.files["g1.dat"] = groupFile;
  const std::string compact = kHeader +
                              "GROUP_FILE=g1.dat,,\r\n"
                              "GROUP_FILE=http://intranet/news.dat\r\n"
                              "GROUP_FILE=gone.dat,a,b\r\n";
  const CCorpChannel channel = Read(compact, &groups);
  EXPECT_EQ(corp_format::WriteCompact(channel), compact);
  EXPECT_EQ(corp_format::WriteGroupLines(channel), compact.substr(kHeader.size()));

  // Served: the local group's file in full, the remote group by reference,
  // a group whose file is gone left out.
  const std::optional<std::string> expanded = corp_format::WriteExpanded(channel, groups.Bytes());
  ASSERT_TRUE(expanded);
  EXPECT_EQ(*expanded, kHeader + groupFile + "GROUP_FILE=http://intranet/news.dat\r\n");

  // The expanded form read back (as a posted image is) holds the same groups.
  const CCorpChannel again = Read(*expanded, &groups);
  ASSERT_EQ(again.groups.size(), 2u);
  EXPECT_EQ(again.groups[0].name, "Local");
  EXPECT_EQ(again.groups[0].documents.size(), 2u);
  std::string body;
  corp_format::WriteGroupBody(again.groups[0], body);
  EXPECT_EQ(body, groupFile);
}

TEST(CorpFileFormat, TooManyGroupsOrDocumentsFailTheRead) {
  std::string text = kHeader;
  for (std::size_t i = 0; i <= corp_limits::kGroups; ++i) text += "GROUP=g" + std::to_string(i) + "\n";
  CCorpChannel channel;
  std::string reason;
  EXPECT_FALSE(ReadChannel(text, channel, nullptr, reason));
  EXPECT_NE(reason.find("groups"), std::string::npos);

  std::string documents = kHeader + "GROUP=many\n";
  for (std::size_t i = 0; i <= corp_limits::kDocumentsPerGroup; ++i) documents += "DOC_ID=" + std::to_string(i) + "\n";
  EXPECT_FALSE(ReadChannel(documents, channel, nullptr, reason));
  EXPECT_NE(reason.find("documents"), std::string::npos);
}

TEST(CorpFileFormat, PlainFileNames) {
  EXPECT_TRUE(corp_format::IsPlainFileName("g1A2B8.dat"));
  EXPECT_TRUE(corp_format::IsPlainFileName("..hidden"));
  for (const std::string& bad : {std::string(), std::string("."), std::string(".."), std::string("../etc/passwd"),
                                std::string("/etc/passwd"), std::string("a\\b"), std::string("a\0b", 3)}) {
    EXPECT_FALSE(corp_format::IsPlainFileName(bad)) << bad;
  }
}

}  // namespace
