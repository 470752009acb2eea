// The request and header text edits: credentials lines, the proxy's absolute
// request line, redirection targets.
#include "upstream/request_text.h"

#include <gtest/gtest.h>

namespace {

using upstream::RedirectTarget;

TEST(RequestText, HeaderLineGoesJustBeforeTheBlankLine) {
  std::string request = "GET /KIBO-1/67328-1 HTTP/1.0\r\nUser-Agent: x\r\n\r\n";
  ASSERT_TRUE(upstream::InsertHeaderLine(request, "Authorization: Basic YTpi"));
  EXPECT_EQ(request, "GET /KIBO-1/67328-1 HTTP/1.0\r\nUser-Agent: x\r\nAuthorization: Basic YTpi\r\n\r\n");
  std::string unterminated = "GET / HTTP/1.0\r\n";
  EXPECT_FALSE(upstream::InsertHeaderLine(unterminated, "X: y"));
  EXPECT_EQ(unterminated, "GET / HTTP/1.0\r\n");
}

TEST(RequestText, CredentialsAreFoundByWholeHeaderName) {
  const std::string proxied = "GET / HTTP/1.0\r\nProxy-Authorization: Basic YTpi\r\n\r\n";
  EXPECT_TRUE(upstream::HasBasicCredentials(proxied, "Proxy-Authorization"));
  // A proxy's credentials are not the server's.
  EXPECT_FALSE(upstream::HasBasicCredentials(proxied, "Authorization"));
  EXPECT_TRUE(upstream::HasBasicCredentials("GET / HTTP/1.0\r\nauthorization:basic YTpi\r\n\r\n", "Authorization"));
  // Lines after the head are body, and the request line is no header.
  EXPECT_FALSE(upstream::HasBasicCredentials("GET /Authorization: Basic HTTP/1.0\r\n\r\nAuthorization: Basic x\r\n",
                                             "Authorization"));
}

TEST(RequestText, ProxyGetsTheAbsoluteRequestLine) {
  EXPECT_EQ(upstream::MakeAbsoluteRequest("GET /KIBO-1/67328-1 HTTP/1.0\r\nQRNReqType:4\r\n\r\n", "s", 80),
            "GET http://s:80/KIBO-1/67328-1 HTTP/1.0\r\nQRNReqType:4\r\n\r\n");
  EXPECT_EQ(upstream::MakeAbsoluteRequest("nonsense", "s", 80), "nonsense");
}

TEST(RequestText, BasicCredentialsArePaddedAndUnbroken) {
  EXPECT_EQ(upstream::BasicCredentials("Aladdin", "open sesame"), "QWxhZGRpbjpvcGVuIHNlc2FtZQ==");
  EXPECT_EQ(upstream::BasicCredentials("a", "b"), "YTpi");
  EXPECT_EQ(upstream::BasicCredentials("ab", ""), "YWI6");
  // Long credentials stay on one header line.
  const std::string longOne = upstream::BasicCredentials(std::string(100, 'u'), std::string(100, 'p'));
  EXPECT_EQ(longOne.find('\n'), std::string::npos);
  EXPECT_EQ(longOne.size() % 4, 0u);
}

TEST(RequestText, RedirectTargetNeedsAnHttpLocationWithPort) {
  std::string host;
  unsigned port = 0;
  EXPECT_EQ(upstream::ParseRedirectLocation("HTTP/1.0 302 Moved\r\nLocation: http://other:8080/KIBO-1/1-0\r\n\r\n",
                                            host, port),
            RedirectTarget::kFound);
  EXPECT_EQ(host, "other");
  EXPECT_EQ(port, 8080u);
  EXPECT_EQ(upstream::ParseRedirectLocation("HTTP/1.0 302 M\r\nLOCATION:HTTP://127.0.0.5:81\r\n\r\n", host, port),
            RedirectTarget::kFound);
  EXPECT_EQ(host, "127.0.0.5");
  EXPECT_EQ(port, 81u);

  host = "unchanged";
  // No port: not followed, even when a later line holds a colon.
  EXPECT_EQ(upstream::ParseRedirectLocation("HTTP/1.0 302 M\r\nLocation: http://other/x\r\nDate: 10:20\r\n\r\n",
                                            host, port),
            RedirectTarget::kNoPort);
  EXPECT_EQ(upstream::ParseRedirectLocation("HTTP/1.0 302 M\r\nLocation: http://other:99999/\r\n\r\n", host, port),
            RedirectTarget::kNoPort);
  EXPECT_EQ(upstream::ParseRedirectLocation("HTTP/1.0 302 M\r\nLocation: http://:80/\r\n\r\n", host, port),
            RedirectTarget::kNoPort);
  EXPECT_EQ(upstream::ParseRedirectLocation("HTTP/1.0 302 M\r\nLocation: ftp://other:21/\r\n\r\n", host, port),
            RedirectTarget::kNone);
  EXPECT_EQ(upstream::ParseRedirectLocation("HTTP/1.0 302 M\r\n\r\nLocation: http://other:80/\r\n", host, port),
            RedirectTarget::kNone);
  EXPECT_EQ(host, "unchanged");
}

}  // namespace
