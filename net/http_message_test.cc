// Plain HTTP messages byte for byte, and the process-wide HTTP tables.
#include "net/http_message.h"

#include <string>

#include <gtest/gtest.h>

#include "net/http_tables.h"
#include "base/product_identity.h"
#include "platform/system.h"

namespace {

TEST(HTTPMessages, FormatStartLineAndHeadersInTheOrderAdded) {
  CHTTPRequestMessage request;
  request.SetRequestLine(net::kHTTPGet, "/KIBO-1/67328-1");
  request.AddHeader(kUserAgentHeader, "Zondrel/1.1");
  request.AddHeader("Accept", "*/*");
  request.SetContentLength(0);
  request.AddHeaderLine("X-Raw:as given");
  EXPECT_EQ(request.FormatHead(),
            "GET /KIBO-1/67328-1 HTTP/1.0\r\nUser-Agent: Zondrel/1.1\r\nAccept: */*\r\nContent-Length: 0\r\n"
            "X-Raw:as given\r\n\r\n");

  CHTTPResponseMessage response;
  response.SetStatus(302);
  response.AddHeader("Location", "/Admin/");
  response.AddHeader(kContentLengthHeader, -12);
  response.AddHeader(kConnectionHeader, "close");
  // Setting a header by name replaces it where it stands.
  response.SetContentLength(2048);
  EXPECT_EQ(response.FormatHead(),
            "HTTP/1.0 302 Moved Temporarily\r\nLocation: /Admin/\r\nContent-Length: 2048\r\nConnection: close\r\n\r\n");
  EXPECT_EQ(response.ContentLength(), 2048);

  // No table text and no reason given: the code, a blank and nothing.
  CHTTPResponseMessage unknown;
  unknown.SetStatus(299);
  EXPECT_EQ(unknown.FormatHead(), "HTTP/1.0 299 \r\n\r\n");
  unknown.SetStatus(404, "Gone Fishing", "HTTP/1.1");
  EXPECT_EQ(unknown.StartLine(), "HTTP/1.1 404 Gone Fishing");

  // An unknown method index keeps nothing of the table.
  CHTTPRequestMessage odd;
  odd.SetRequestLine(17, "/");
  EXPECT_EQ(odd.Method(), net::kHTTPUnknown);
}

TEST(HTTPMessages, HeaderLinesCannotCarryLineBreaks) {
  CHTTPResponseMessage response;
  response.SetStatus(302);
  EXPECT_FALSE(response.AddHeader("Location", "/x\r\nSet-Cookie: stolen=1"));
  EXPECT_FALSE(response.AddHeaderLine("X: a\nY: b"));
  EXPECT_TRUE(response.AddHeader("Location", "/x"));
  EXPECT_FALSE(response.SetHeader("Location", "/y\rZ"));
  EXPECT_EQ(response.FormatHead(), "HTTP/1.0 302 Moved Temporarily\r\nLocation: /x\r\n\r\n");
}

TEST(HTTPMessages, ParseHeadsByNameWithoutRegardToCase) {
  CHTTPRequestMessage request;
  ASSERT_TRUE(request.ParseHead(
      "HEAD /Admin/Corp/a.gif HTTP/1.0\r\ncontent-LENGTH:  42 \r\nUSER-AGENT: Browser/4.0\nConnection: Keep-Alive\r\n"
      "Authorization: Basic dTpw\r\n\r\nignored: body"));
  EXPECT_EQ(request.Method(), net::kHTTPHead);
  EXPECT_EQ(request.MethodName(), "HEAD");
  EXPECT_EQ(request.URI(), "/Admin/Corp/a.gif");
  EXPECT_EQ(request.Version(), "HTTP/1.0");
  EXPECT_EQ(request.ContentLength(), 42);
  EXPECT_EQ(request.FindHeader(kUserAgentHeader).value_or(""), "Browser/4.0");
  EXPECT_EQ(request.FindHeader(kConnectionHeader).value_or(""), "Keep-Alive");
  EXPECT_FALSE(request.FindHeader(kContentEncodingHeader).has_value());
  ASSERT_EQ(request.HeaderLines().size(), 4u);
  EXPECT_EQ(request.HeaderLines()[3], "Authorization: Basic dTpw");
  // "Content-Length" must be the whole name, not a prefix of another.
  CHTTPRequestMessage prefixed;
  ASSERT_TRUE(prefixed.ParseHead("GET / HTTP/1.0\r\nContent-Length-X: 5\r\n\r\n"));
  EXPECT_EQ(prefixed.ContentLength(), -1);
  prefixed.RemoveHeader("content-length-x");
  EXPECT_TRUE(prefixed.HeaderLines().empty());

  // Unknown methods parse, keeping their name; old requests lack a version.
  ASSERT_TRUE(request.ParseHead("PATCH /x HTTP/1.0\r\n\r\n"));
  EXPECT_EQ(request.Method(), net::kHTTPUnknown);
  EXPECT_EQ(request.MethodName(), "PATCH");
  ASSERT_TRUE(request.ParseHead("GET /old\r\n\r\n"));
  EXPECT_EQ(request.Version(), "");
  for (const char* bad : {"", "\r\n\r\n", "GET\r\n\r\n", "GET / HTTP/1.0 extra\r\n\r\n", "GET / junk\r\n\r\n",
                          "HTTP/1.0 200 OK\r\n\r\n"}) {
    EXPECT_FALSE(request.ParseHead(bad)) << bad;
  }
}

TEST(HTTPMessages, StatusLinesAreRecognisedByTheirLeadingHTTP) {
  EXPECT_TRUE(IsHTTPStatusLine("HTTP/1.0 200 OK"));
  EXPECT_FALSE(IsHTTPStatusLine("http/1.0 200 OK"));
  EXPECT_FALSE(IsHTTPStatusLine("GET / HTTP/1.0"));
  EXPECT_FALSE(IsHTTPStatusLine("HTTP"));

  CHTTPResponseMessage response;
  ASSERT_TRUE(response.ParseHead("HTTP/1.1 407 Proxy Authentication Required\r\nProxy-Authenticate: Basic\r\n\r\n"));
  EXPECT_EQ(response.Version(), "HTTP/1.1");
  EXPECT_EQ(response.StatusCode(), 407);
  EXPECT_EQ(response.Reason(), "Proxy Authentication Required");
  ASSERT_TRUE(response.ParseHead("HTTP/1.0 204\n\n"));
  EXPECT_EQ(response.StatusCode(), 204);
  EXPECT_EQ(response.Reason(), "");
  EXPECT_FALSE(response.ExpectsBody());
  for (const char* bad : {"HTTP/1.0 2000 OK\r\n\r\n", "HTTP/1.0 abc OK\r\n\r\n", "HTTP/1.0\r\n\r\n",
                          "HTTP/1.0 099 Low\r\n\r\n", "GET / HTTP/1.0\r\n\r\n"}) {
    EXPECT_FALSE(response.ParseHead(bad)) << bad;
  }
}

TEST(HTTPTables, StatusReasonsContentTypesAndMethods) {
  EXPECT_STREQ(net::HTTPStatusReason(200), "OK");
  EXPECT_STREQ(net::HTTPStatusReason(203), "Non-Authoritative Information");
  EXPECT_STREQ(net::HTTPStatusReason(406), "None Acceptable");
  EXPECT_STREQ(net::HTTPStatusReason(412), "Unless True");
  EXPECT_STREQ(net::HTTPStatusReason(504), "Gateway Timeout");
  for (int code : {0, 99, 207, 306, 413, 505, -404}) EXPECT_EQ(net::HTTPStatusReason(code), nullptr) << code;

  EXPECT_STREQ(net::HTTPContentType(".htm"), "text/html");
  EXPECT_STREQ(net::HTTPContentType(".html"), "text/html");
  EXPECT_STREQ(net::HTTPContentType(".JPEG"), "image/jpeg");
  EXPECT_STREQ(net::HTTPContentType(".txt"), "text/plain");
  for (const char* unknown : {".exe", "htm", ".", "", ".html5"}) {
    EXPECT_EQ(net::HTTPContentType(unknown), nullptr) << unknown;
  }

  const char* names[] = {"HEAD", "GET", "POST", "PUT", "DELETE", ""};
  for (int index = 0; index < 6; ++index) EXPECT_STREQ(net::HTTPMethodName(index), names[index]);
  EXPECT_STREQ(net::HTTPMethodName(-1), "");
  EXPECT_STREQ(net::HTTPMethodName(6), "");
  EXPECT_EQ(net::HTTPMethodIndex("DELETE"), net::kHTTPDelete);
  EXPECT_EQ(net::HTTPMethodIndex("get"), net::kHTTPUnknown);
  EXPECT_EQ(net::HTTPMethodIndex(""), net::kHTTPUnknown);
}

TEST(HTTPTables, UserAgentNamesProductAndSystem) {
  EXPECT_EQ(net::FormatUserAgent(net::ParseSystemVersion("Linux 6.1.0-13-amd64")),
            "Zondrel/1.1 Build 1.1.68 domino (Linux 6.1 Build 0)");
  EXPECT_EQ(net::FormatUserAgent(net::ParseSystemVersion("Linux 5.15")),
            "Zondrel/1.1 Build 1.1.68 domino (Linux 5.15 Build 0)");
  EXPECT_EQ(net::FormatUserAgent(net::ParseSystemVersion("Linux 4.19.312")),
            "Zondrel/1.1 Build 1.1.68 domino (Linux 4.19 Build 312)");
  const std::string running =
      net::FormatUserAgent(net::ParseSystemVersion(platform::GetSystemNameAndRelease()));
  EXPECT_EQ(net::HTTPUserAgent(), running);
  EXPECT_EQ(net::HTTPUserAgentHeader(), "User-Agent: " + running);
}

}  // namespace
