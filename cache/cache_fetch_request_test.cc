// The request a refresh sends upstream.
#include <gtest/gtest.h>

#include <string>

#include "cache/cache_fetch_request.h"
#include "net/qrn_http.h"

namespace {

TEST(CacheFetchRequest, AsksForNewsAfterTheNewestItemWithTheViewersHeaders) {
  QRNHTTP request;
  std::string text =
      "GET /KIBO-1/NumItm-5/BID-3/1000-77?\"a b/c\" HTTP/1.0\r\nHost: relay\r\nUser-Agent: viewer\r\n"
      "Pragma: no-cache\r\nContent-length: 0\r\nQRNReqType:2\r\n\r\n";
  unsigned int length = static_cast<unsigned int>(text.size());
  ASSERT_EQ(request.HTTPprocess(text.data(), length), eHTTPComplete);
  ASSERT_EQ(request.Arguments().size(), 1u);

  const std::string fetch = MakeCacheFetchRequest(request, &request.Arguments()[0], 42);
  EXPECT_EQ(fetch.substr(0, fetch.find("\r\n")), "GET /KIBO-1/BID-3/NumItm-5/1000-42/a%20b%2fc HTTP/1.0");
  EXPECT_NE(fetch.find("\r\nUser-Agent: Zondrel/"), std::string::npos);
  EXPECT_EQ(fetch.find("viewer"), std::string::npos);
  EXPECT_EQ(fetch.find("Host:"), std::string::npos);
  EXPECT_EQ(fetch.find("Content-length"), std::string::npos) << "no body goes upstream";
  EXPECT_NE(fetch.find("\r\nPragma: no-cache\r\nQRNReqType:2\r\n\r\n"), std::string::npos);
  EXPECT_EQ(fetch.substr(fetch.size() - 4), "\r\n\r\n");

  const std::string plain = MakeCacheFetchRequest(request, nullptr, 0);
  EXPECT_EQ(plain.substr(0, plain.find("\r\n")), "GET /KIBO-1/BID-3/NumItm-5/1000-0 HTTP/1.0");
}

TEST(CacheFetchRequest, ViewerLinesEndedByBareLineFeedsGoUpstreamWithCrLf) {
  QRNHTTP request;
  std::string text = "GET /KIBO-1/1000-7 HTTP/1.0\nHost: relay\nPragma: no-cache\r\nQRNReqType:2\n\n";
  unsigned int length = static_cast<unsigned int>(text.size());
  ASSERT_EQ(request.HTTPprocess(text.data(), length), eHTTPComplete);

  const std::string fetch = MakeCacheFetchRequest(request, nullptr, 7);
  const std::size_t headers = fetch.find("\r\nPragma");
  ASSERT_NE(headers, std::string::npos) << fetch;
  EXPECT_EQ(fetch.substr(headers), "\r\nPragma: no-cache\r\nQRNReqType:2\r\n\r\n");
  for (std::size_t i = 0; i < fetch.size(); ++i) {
    if (fetch[i] == '\n') {
      EXPECT_TRUE(i > 0 && fetch[i - 1] == '\r') << "bare line feed at " << i;
    }
  }
}

}  // namespace
