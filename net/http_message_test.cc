// Plain HTTP messages byte for byte.
#include "net/http_message.h"

#include <string>

#include <gtest/gtest.h>

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

}  // namespace
