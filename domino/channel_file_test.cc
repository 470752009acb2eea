#include "domino/channel_file.h"

#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "platform/testing.h"

namespace {

using domino::ChannelSettings;

constexpr const char* kDefaultFile =
    "<NotesChannelContent\r\nChannelName = \"Domino\"\r\nDV_Logo = \"domdvlog.gif\"\r\n"
    "AD_Logo = \"domadlog.gif\"\r\nDV_File = \"S4030005.anm\"\r\n>\r\n</NotesChannelContent>\r\n\r\n";

// The body CopyChannelBody finds in `file`, read as the file would be.
std::string BodyOf(const std::string& file, domino::BodyCopy* result = nullptr) {
  std::string body;
  const domino::BodyCopy copy = domino::CopyChannelBody(
      [&](long long offset, char* buffer, std::size_t length) -> long long {
        if (static_cast<std::size_t>(offset) >= file.size()) return 0;
        const std::size_t n = std::min(length, file.size() - static_cast<std::size_t>(offset));
        file.copy(buffer, n, static_cast<std::size_t>(offset));
        return static_cast<long long>(n);
      },
      [&](std::string_view piece) {
        body += piece;
        return true;
      });
  if (result != nullptr) *result = copy;
  return body;
}

TEST(ChannelFile, AFirstRewriteCreatesTheFileWithTheDefaults) {
  const std::string dir = testing_support::MakeTempDir("html");
  const std::string path = dir + "/domino.dat";
  EXPECT_EQ(domino::ReadChannelSettings(path), ChannelSettings());
  ASSERT_TRUE(domino::RewriteChannelFile(path, domino::ReadChannelSettings(path)));
  EXPECT_EQ(testing_support::ReadFile(path), kDefaultFile);
  // Rewriting it again changes nothing, and leaves no temporary file.
  ASSERT_TRUE(domino::RewriteChannelFile(path, domino::ReadChannelSettings(path)));
  EXPECT_EQ(testing_support::ReadFile(path), kDefaultFile);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), std::filesystem::directory_iterator()), 1);
}

TEST(ChannelFile, TheBodyIsKeptByteForByteWhereverTheClosingTagFalls) {
  const std::string dir = testing_support::MakeTempDir("html");
  const std::string path = dir + "/domino.dat";
  const std::string head = domino::ChannelHead(ChannelSettings());
  ChannelSettings changed;
  changed.name = "R&D";
  // The closing tag at every place around the first and second block ends
  // (1000 and 1900).
  for (std::size_t tag_at : {880u, 899u, 900u, 979u, 980u, 985u, 999u, 1000u, 1001u, 1879u, 1880u, 1890u, 1899u,
                             1900u, 1990u, 2000u}) {
    std::string body = "\r\n";
    for (std::size_t i = 0; body.size() + head.size() < tag_at; ++i) body += static_cast<char>('a' + i % 26);
    body.resize(tag_at - head.size());
    const std::string file = head + body + "</NotesChannelContent>\r\n\r\n";
    ASSERT_EQ(file.find("</NotesChannelContent"), tag_at);
    EXPECT_EQ(BodyOf(file), body) << tag_at;
    testing_support::WriteFile(path, file);
    ASSERT_TRUE(domino::RewriteChannelFile(path, changed));
    EXPECT_EQ(testing_support::ReadFile(path),
              domino::ChannelHead(changed) + body + "</NotesChannelContent>\r\n\r\n")
        << tag_at;
  }
}

TEST(ChannelFile, TheHeadKeyAndItsEndMayAlsoSpanBlocks) {
  for (std::size_t key_at : {890u, 895u, 899u, 990u, 995u, 999u}) {
    const std::string file = std::string(key_at, ' ') + "DV_File = \"x\"\r\n>BODY</NotesChannelContent>\r\n\r\n";
    domino::BodyCopy result;
    EXPECT_EQ(BodyOf(file, &result), "BODY") << key_at;
    EXPECT_EQ(result, domino::BodyCopy::kCopied);
  }
  // The head's ">" far behind its key.
  EXPECT_EQ(BodyOf("DV_File = " + std::string(2500, 'v') + ">B</NotesChannelContent>"), "B");
  // No closing tag: the body runs to the end.
  EXPECT_EQ(BodyOf("DV_File = \"x\"\r\n>" + std::string(3000, 'b')), std::string(3000, 'b'));
}

TEST(ChannelFile, AFileWithoutAHeadKeepsAllOfItAsTheBody) {
  const std::string body = "VIEW_ID = http://domino/cgi-bin/viewexport.exe?0000215Anames.nsf\r\n" + std::string(1500, 'x');
  domino::BodyCopy result;
  EXPECT_EQ(BodyOf(body + "</NotesChannelContent>\r\n", &result), body);
  EXPECT_EQ(result, domino::BodyCopy::kWholeFile);
  EXPECT_EQ(BodyOf(""), "");
}

TEST(ChannelFile, LongValuesAreReadWholeAcrossBlocks) {
  const std::string dir = testing_support::MakeTempDir("html");
  const std::string path = dir + "/domino.dat";
  ChannelSettings settings;
  settings.name = std::string(499, '&');  // 2994 bytes escaped
  settings.dv_file = std::string(499, '-');
  ASSERT_TRUE(domino::RewriteChannelFile(path, settings));
  EXPECT_EQ(domino::ReadChannelSettings(path), settings);
}

TEST(ChannelFile, AFailedRewriteLeavesTheFileAsItWas) {
  const std::string dir = testing_support::MakeTempDir("html");
  // The temporary file cannot be made in a folder that does not exist.
  EXPECT_FALSE(domino::RewriteChannelFile(dir + "/missing/domino.dat", ChannelSettings()));
  // A domino.dat that cannot be read is not replaced: its body would be lost.
  const std::string path = dir + "/domino.dat";
  std::filesystem::create_directory(path);
  EXPECT_FALSE(domino::RewriteChannelFile(path, ChannelSettings()));
  EXPECT_TRUE(std::filesystem::is_directory(path));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), std::filesystem::directory_iterator()), 1);
}

}  // namespace
