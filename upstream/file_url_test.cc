// URL parts and local copy names.
#include <gtest/gtest.h>

#include "upstream/file_url.h"

namespace {

using upstream::FileURL;
using upstream::URLParse;

TEST(FileURLParse, HostPortAndPathOrTheReasonItFails) {
  FileURL url;
  ASSERT_EQ(upstream::ParseFileURL("HTTP://Intranet:8081/news/a.txt?x=1", url), URLParse::kParsed);
  EXPECT_EQ(url.scheme, "HTTP");
  EXPECT_EQ(url.host, "Intranet");
  EXPECT_EQ(url.port, 8081u);
  EXPECT_EQ(url.path, "/news/a.txt?x=1");
  ASSERT_EQ(upstream::ParseFileURL("http://intranet/", url), URLParse::kParsed);
  EXPECT_EQ(url.port, 80u);

  EXPECT_EQ(upstream::ParseFileURL("http://intranet", url), URLParse::kUnparsable);       // no path
  EXPECT_EQ(upstream::ParseFileURL("http:/intranet/a.txt", url), URLParse::kUnparsable);  // no "://"
  EXPECT_EQ(upstream::ParseFileURL("http:///a.txt", url), URLParse::kUnparsable);         // no host
  EXPECT_EQ(upstream::ParseFileURL("http://h:0/a", url), URLParse::kUnparsable);
  EXPECT_EQ(upstream::ParseFileURL("http://h:70000/a", url), URLParse::kUnparsable);
  EXPECT_EQ(upstream::ParseFileURL("http://h:80x/a", url), URLParse::kUnparsable);
  EXPECT_EQ(upstream::ParseFileURL("ftp://h/a", url), URLParse::kNotHttp);
}

TEST(FileURLCopyName, StaysBelowTheTemporaryDirectory) {
  FileURL url;
  ASSERT_EQ(upstream::ParseFileURL("http://web/dir/a?b|c.txt", url), URLParse::kParsed);
  EXPECT_EQ(upstream::LocalCopyName("/t/", url), "/t/web/dir/a-b-c.txt");
  ASSERT_EQ(upstream::ParseFileURL("http://web:8080/a.txt", url), URLParse::kParsed);
  EXPECT_EQ(upstream::LocalCopyName("/t/", url), "/t/web-8080/a.txt");
  // A folder path gets a file name; dot segments cannot climb out.
  ASSERT_EQ(upstream::ParseFileURL("http://web/", url), URLParse::kParsed);
  EXPECT_EQ(upstream::LocalCopyName("/t/", url), "/t/web/-");
  ASSERT_EQ(upstream::ParseFileURL("http://../../../etc//./passwd", url), URLParse::kParsed);
  EXPECT_EQ(upstream::LocalCopyName("/t/", url), "/t/--/--/--/etc/-/passwd");
  ASSERT_EQ(upstream::ParseFileURL("http://web/a/", url), URLParse::kParsed);
  EXPECT_EQ(upstream::LocalCopyName("/t", url), "/t/web/a/-");
}

}  // namespace
