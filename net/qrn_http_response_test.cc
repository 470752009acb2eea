#include <gtest/gtest.h>

#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "net/fetched_item.h"
#include "net/http_date.h"
#include "base/product_identity.h"
#include "net/qrn_http.h"
#include "platform/file.h"
#include "platform/testing.h"

namespace {

std::string Date(std::int64_t time) {
  char text[net::kHTTPDateCapacity];
  net::FormatHTTPDate(time, text);
  return text;
}

// The value of header `name` in a prefix, or "" when the prefix has none.
std::string HeaderValue(const std::string& prefix, const std::string& name) {
  const std::size_t start = prefix.find("\r\n" + name + ":");
  if (start == std::string::npos) return "";
  const std::size_t value = start + 2 + name.size() + 1;
  return prefix.substr(value, prefix.find("\r\n", value) - value);
}

std::vector<char> Bytes(const std::string& text) { return std::vector<char>(text.begin(), text.end()); }

TEST(ResponsePrefix, NoContentIs204WithoutLengthOrNextUpdate) {
  QRNHTTP http;
  unsigned long length = 0;
  const std::int64_t expires = std::time(nullptr) + 3600;
  HTTPText prefix = http.MakeResponsePrefix(length, static_cast<long>(expires), 0, 1);
  ASSERT_NE(prefix, nullptr);
  EXPECT_EQ(std::string(prefix.get()),
            "HTTP/1.0 204 No content\r\n" + net::ServerHeaderLine() + "Expires:" + Date(expires) + "\r\n\r\n");
  EXPECT_EQ(length, 0u);
}

TEST(ResponsePrefix, ContentWithNextUpdateLine) {
  QRNHTTP http;
  const std::int64_t before = std::time(nullptr);
  const std::int64_t expires = before + 600;
  unsigned long length = 100;
  HTTPText prefix = http.MakeResponsePrefix(length, static_cast<long>(expires), 784111777, 1);
  const std::int64_t after = std::time(nullptr);
  ASSERT_NE(prefix, nullptr);
  const std::string text(prefix.get());

  const std::size_t headEnd = text.find("\r\n\r\n");
  ASSERT_NE(headEnd, std::string::npos);
  const std::string nextUpdateLine = text.substr(headEnd + 4);
  EXPECT_EQ(length, 100 + nextUpdateLine.size());
  EXPECT_EQ(http.ContentLength(), length);
  // The seconds count from when the prefix was built.
  bool matches = false;
  for (std::int64_t now = before; now <= after; ++now) {
    matches |= nextUpdateLine == "NXTUPD:" + std::to_string(expires - now) + "\r\n";
  }
  EXPECT_TRUE(matches) << nextUpdateLine;
  EXPECT_EQ(text.substr(0, headEnd + 4),
            "HTTP/1.0 200 OK\r\n" + net::ServerHeaderLine() + "Content-length:" + std::to_string(length) +
                "\r\nContent-type:application/octet-stream\r\nExpires:" + Date(expires) +
                "\r\nLast-Modified:Sun, 06 Nov 1994 08:49:37 GMT\r\n\r\n");

  // Without the next-update line the length stays as given.
  length = 100;
  prefix = http.MakeResponsePrefix(length, static_cast<long>(expires), 0, 2);
  EXPECT_EQ(length, 100u);
  EXPECT_EQ(std::string(prefix.get()).find("NXTUPD"), std::string::npos);
  EXPECT_EQ(HeaderValue(prefix.get(), "Last-Modified"), "");
}

TEST(ResponsePrefix, ExpiryTimes) {
  QRNHTTP http;
  unsigned long length = 10;
  HTTPText prefix = http.MakeResponsePrefix(length, static_cast<long>(std::time(nullptr) - 500), 0, 1);
  EXPECT_TRUE(std::string(prefix.get()).ends_with("\r\n\r\nNXTUPD:0\r\n"));

  // Expires 0 announces one minute ahead.
  length = 10;
  const std::int64_t before = std::time(nullptr);
  prefix = http.MakeResponsePrefix(length, 0, 0, 1);
  const std::int64_t after = std::time(nullptr);
  const std::string expires = HeaderValue(prefix.get(), "Expires");
  EXPECT_TRUE(expires == Date(before + 60) || expires == Date(after + 60)) << expires;
}

TEST(NextUpdateLine, AppendsOnlyWhatFits) {
  QRNHTTP http;
  EXPECT_EQ(http.AppendNextUpdate(3600), std::strlen("NXTUPD:3600\r\n"));
  char buffer[20] = "abc";
  EXPECT_EQ(http.AppendNextUpdate(42, buffer, sizeof(buffer)), 11u);
  EXPECT_STREQ(buffer, "abcNXTUPD:42\r\n");
  EXPECT_EQ(http.AppendNextUpdate(1234567, buffer, sizeof(buffer)), 0u);
  EXPECT_STREQ(buffer, "abcNXTUPD:42\r\n");
}

TEST(DataStreamHeader, ExactTextAndCalculatedLength) {
  QRNHTTP http;
  HTTPText header = http.MakeDataStreamHeader(1234, "corp.dat", 77, 3, 0);
  ASSERT_NE(header, nullptr);
  EXPECT_STREQ(header.get(), "OFF:0\r\nLEN:0\r\nLID:77\r\nTLEN:1234\r\nFP:3\r\nSRC:corp.dat\r\n\r\n");
  header = http.MakeDataStreamHeader(1234, 5, "corp.dat", 77, 3, 0);
  EXPECT_STREQ(header.get(), "OFF:0\r\nLEN:0\r\nLID:77\r\nTLEN:1234\r\nFP:3\r\nCMP:5\r\nSRC:corp.dat\r\n\r\n");

  struct Case {
    unsigned long total, id, cmp;
    short flags;
    std::string source;
  };
  const Case cases[] = {{0, 0, 0, 0, ""},
                        {4294967295ul, 4294967295ul, 4294967295ul, -1, "x"},
                        {12, 3, 1, 32767, std::string(3000, 's')},
                        {12, 3, 1, 7, "two\r\nlines"}};
  const long now = 1000000;
  for (const Case& c : cases) {
    header = http.MakeDataStreamHeader(c.total, c.source.c_str(), c.id, static_cast<std::uint16_t>(c.flags), 60);
    EXPECT_EQ(http.CalculateDSHeaderLength(now + 60, now, c.source, c.total, c.id, c.flags), std::strlen(header.get()));
    header = http.MakeDataStreamHeader(c.total, c.cmp, c.source.c_str(), c.id, static_cast<std::uint16_t>(c.flags), 0);
    EXPECT_EQ(http.CalculateDSHeaderLength(now - 60, now, c.cmp, c.source, c.total, c.id, c.flags),
              std::strlen(header.get()));
  }
  // A source cannot add lines to the header.
  header = http.MakeDataStreamHeader(1, "two\r\nlines", 1, 0, 0);
  EXPECT_TRUE(std::string(header.get()).ends_with("SRC:two\r\n\r\n"));
  // Frame parts are 16-bit.
  header = http.MakeDataStreamHeader(1, "s", 1, static_cast<std::uint16_t>(-1), 0);
  EXPECT_NE(std::string(header.get()).find("FP:65535\r\n"), std::string::npos);
}

TEST(DataStreamHeader, OfFetchedItem) {
  QRNHTTP http;
  CFetchedItem item(9, 2, 4, "notes.dat", Bytes("hello"));
  HTTPText header = http.MakeDataStreamHeader(&item, 0, 0);
  EXPECT_STREQ(header.get(), "OFF:0\r\nLEN:0\r\nLID:9\r\nTLEN:5\r\nFP:2\r\nCMP:4\r\nSRC:notes.dat\r\n\r\n");
  EXPECT_EQ(http.MakeDataStreamHeader(nullptr, 0, 0), nullptr);
}

// Prefix, headers and data of a list put together as the agent base sends
// them: the announced length must be what follows the HTTP headers.
TEST(ResponsePrefix, ListLengthMatchesTheBytesSent) {
  QRNHTTP http;
  const std::int64_t now = std::time(nullptr);
  CFetchedItem first(1, 0, 0, "a.dat", Bytes("first item"));
  first.SetNextUpdateTime(now + 900);
  first.SetLastModified(784111777);
  CFetchedItem second(2, 1, 3, "b.dat", Bytes(std::string(5000, 'z')));
  CResponseList items = {&first, &second};

  HTTPText prefix = http.MakeResponsePrefix(&items);
  ASSERT_NE(prefix, nullptr);
  std::string answer(prefix.get());
  for (CFetchedItem* item : items) {
    answer += http.MakeDataStreamHeader(item, 0, 0).get();
    answer.append(item->Data().begin(), item->Data().end());
  }
  const std::size_t bodyStart = answer.find("\r\n\r\n") + 4;
  EXPECT_EQ(HeaderValue(answer, "Content-length"), std::to_string(answer.size() - bodyStart));
  EXPECT_EQ(HeaderValue(answer, "Expires"), Date(now + 900));
  EXPECT_EQ(HeaderValue(answer, "Last-Modified"), Date(784111777));
  EXPECT_EQ(answer.compare(bodyStart, 7, "NXTUPD:"), 0);

  CResponseList empty;
  prefix = http.MakeResponsePrefix(&empty);
  EXPECT_TRUE(std::string(prefix.get()).starts_with("HTTP/1.0 204 No content\r\n"));
  EXPECT_EQ(HeaderValue(prefix.get(), "Content-length"), "");

  CResponseList withNull = {&first, nullptr};
  EXPECT_EQ(http.MakeResponsePrefix(&withNull), nullptr);
}

}  // namespace

namespace {

TEST(DataStreamHeader, OfFileItem) {
  const std::string path = testing_support::MakeTempDir("item") + "/blocked.html";
  testing_support::WriteFile(path, "<html>blocked</html>");
  std::unique_ptr<platform::File> file = platform::File::Open(path, platform::File::Mode::kRead);
  ASSERT_NE(file, nullptr);
  CFetchedItem item(0, 0, 0, path, std::move(file), 20);
  EXPECT_EQ(item.Path(), path);
  EXPECT_NE(item.File(), nullptr);
  EXPECT_EQ(item.DataLength(), 20u);
  EXPECT_EQ(item.StoredLength(), 20u);
  QRNHTTP http;
  EXPECT_NE(std::string(http.MakeDataStreamHeader(&item, 0, 1).get()).find("TLEN:20\r\n"), std::string::npos);
}

}  // namespace
