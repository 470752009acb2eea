// URL parts, local copy names and NoProxyList patterns.
#include <gtest/gtest.h>

#include "upstream/file_url.h"
#include "platform/socket.h"
#include "upstream/no_proxy_list.h"

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

TEST(NoProxyList, EntriesWithAsterisksMatchWholeNamesWithoutRegardToCase) {
  const char* list = " localhost;*.Corp.example\t10.0.*.*\nintra*net ";
  EXPECT_TRUE(upstream::MatchesNoProxyList(list, "LOCALHOST"));
  EXPECT_TRUE(upstream::MatchesNoProxyList(list, "www.corp.example"));
  EXPECT_TRUE(upstream::MatchesNoProxyList(list, "10.0.3.4"));
  EXPECT_TRUE(upstream::MatchesNoProxyList(list, "intranet"));
  EXPECT_TRUE(upstream::MatchesNoProxyList(list, "intra-main-net"));
  EXPECT_FALSE(upstream::MatchesNoProxyList(list, "localhost.evil"));
  EXPECT_FALSE(upstream::MatchesNoProxyList(list, "corp.example.evil"));
  EXPECT_FALSE(upstream::MatchesNoProxyList(list, "110.0.3.4"));
  EXPECT_FALSE(upstream::MatchesNoProxyList(list, "intranet2"));
  EXPECT_FALSE(upstream::MatchesNoProxyList("", "localhost"));
  EXPECT_FALSE(upstream::MatchesNoProxyList(" ; ", "localhost"));
  EXPECT_TRUE(upstream::MatchesNoProxyList("*", "anything"));
}

TEST(NoProxyList, TheHostIsComparedByTheNameTheLookupGives) {
  // Only names this machine knows without asking a name server.
  EXPECT_EQ(platform::OfficialHostName("LocalHost"), "localhost");
  EXPECT_EQ(platform::OfficialHostName("127.0.0.1"), "127.0.0.1");
  EXPECT_TRUE(upstream::BypassesProxy("localhost", "LocalHost"));
  EXPECT_TRUE(upstream::BypassesProxy("127.0.0.*", "127.0.0.1"));
  EXPECT_FALSE(upstream::BypassesProxy("other", "localhost"));
  EXPECT_FALSE(upstream::BypassesProxy(" ; ", "localhost"));
}

}  // namespace
