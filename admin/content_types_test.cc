// The machine's content types filled from a media-types table: what a table
// line gives, what stays out, and how the file agent then names a file's type.
#include <gtest/gtest.h>

#include <string>

#include "admin/content_types.h"
#include "admin/file_agent.h"
#include "platform/registry.h"
#include "platform/testing.h"
#include "regwrap/qr_registry.h"

namespace {

using content_types::Entry;
using content_types::ParseTable;

std::string Stored(const char* extension) {
  QRRegistry key(QRRegistry(platform::HKEY_CLASSES_ROOT), extension, nullptr);
  std::string type;
  if (!key.Open(0) || !key.GetValue("Content Type", &type)) return "(none)";
  return type;
}

TEST(ContentTypes, ATableLineGivesOneEntryPerExtensionAndTheFirstTypeWins) {
  const std::vector<Entry> entries = ParseTable(
      "# comment line text/plain txt\r\n"
      "\n"
      "application/pdf\t\t\t\tpdf\r\n"
      "image/jpeg  jpeg jpg jpe\n"
      "text/plain asc txt\n"
      "text/x-other JPG txt tar.gz\n"
      "application/x-only-type\n"
      "image/svg+xml svg svgz");
  std::vector<std::string> got;
  for (const Entry& entry : entries) got.push_back(entry.extension + "=" + entry.type);
  EXPECT_EQ(got, (std::vector<std::string>{".pdf=application/pdf", ".jpeg=image/jpeg", ".jpg=image/jpeg",
                                           ".jpe=image/jpeg", ".asc=text/plain", ".txt=text/plain",
                                           ".tar.gz=text/x-other", ".svg=image/svg+xml",
                                           ".svgz=image/svg+xml"}));
}

TEST(ContentTypes, MalformedTypesExtensionsAndOverlongLinesStayOut) {
  const std::string longExtension(content_types::kMaxExtensionBytes + 1, 'e');
  const std::string longLine = "text/long " + std::string(content_types::kMaxLineBytes, 'x');
  const std::vector<Entry> entries = ParseTable(
      "noslash ext1\n"
      "/leading ext2\n"
      "trailing/ ext3\n"
      "te xt/plain ext4\n"
      "text/html\"x ext5\n"
      "text/ok .dotted ../up a/b c\\d e%00 " + longExtension + " good # commented\n" +
      longLine + "\n" + std::string("\0\0text/nul nul\n", 14) + "image/ok\x80 hi\n");
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].extension, ".good");
  EXPECT_EQ(entries[0].type, "text/ok");
}

TEST(ContentTypes, EntriesStopAtTheirBound) {
  std::string table = "application/x-many";
  for (std::size_t i = 0; i < content_types::kMaxEntries + 10; ++i) table += " e" + std::to_string(i);
  EXPECT_TRUE(ParseTable(table).empty());  // the line is longer than a line may be
  std::string lines;
  for (std::size_t i = 0; i < content_types::kMaxEntries + 10; ++i) lines += "a/b e" + std::to_string(i) + "\n";
  EXPECT_EQ(ParseTable(lines).size(), content_types::kMaxEntries);
}

TEST(ContentTypes, SeedingKeepsAnAdministratorsValueAndTheFileAgentReadsTheRest) {
  {
    QRRegistry key(QRRegistry(platform::HKEY_CLASSES_ROOT), ".html", nullptr);
    ASSERT_TRUE(key.Open(1));
    ASSERT_TRUE(key.SetValue("Content Type", "text/html; charset=utf-8", platform::REG_SZ));
  }
  const std::string dir = testing_support::MakeTempDir("mime");
  testing_support::WriteFile(dir + "/mime.types",
                             "text/html html htm\napplication/vnd.zondrel.log zlog\nimage/png png\n");
  EXPECT_EQ(content_types::Seed(dir + "/mime.types"), 3);
  EXPECT_EQ(Stored(".html"), "text/html; charset=utf-8");
  EXPECT_EQ(Stored(".htm"), "text/html");
  EXPECT_EQ(CFileAgent::ContentType("/home/Java/report.zlog"), "application/vnd.zondrel.log");
  EXPECT_EQ(CFileAgent::ContentType("logo.png"), "image/png");
  EXPECT_EQ(CFileAgent::ContentType("page.html"), "text/html; charset=utf-8");
  // A second run (an upgrade) writes nothing again.
  EXPECT_EQ(content_types::Seed(dir + "/mime.types"), 0);

  EXPECT_EQ(content_types::Seed(dir + "/missing.types"), -1);
  testing_support::WriteFile(dir + "/huge.types",
                             "a/b x\n" + std::string(content_types::kMaxTableBytes, '#'));
  EXPECT_EQ(content_types::Seed(dir + "/huge.types"), -1);
  EXPECT_EQ(Stored(".x"), "(none)");
}

}  // namespace
