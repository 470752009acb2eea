#include "net/qrn_http.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace {

// Feeds `pieces` the way the request thread does: each read is appended
// behind what the parser left in a 4096-byte buffer.
struct Feeder {
  QRNHTTP parser;
  char buffer[4096] = {};
  unsigned int held = 0;
  std::vector<httpStatus> results;

  httpStatus Feed(const std::string& piece) {
    EXPECT_LT(held + piece.size(), sizeof(buffer));
    std::memcpy(buffer + held, piece.data(), piece.size());
    held += static_cast<unsigned int>(piece.size());
    const httpStatus status = parser.HTTPprocess(buffer, held);
    results.push_back(status);
    return status;
  }
  std::string Held() const { return std::string(buffer, held); }
};

httpStatus ParseWhole(QRNHTTP& parser, std::string request) {
  parser.ResetHTTP();
  auto length = static_cast<unsigned int>(request.size());
  return parser.HTTPprocess(request.data(), length);
}

TEST(QRNHTTPRequestLine, TypicalViewerRequest) {
  QRNHTTP parser;
  const std::string request =
      "GET /KIBO-1/NumItm-5/67328-1?x+y HTTP/1.0\r\nUser-Agent: viewer\r\nQRNReqType:4\r\n\r\n";
  ASSERT_EQ(ParseWhole(parser, request), eHTTPComplete);
  EXPECT_EQ(parser.GetMethod(), QRNHTTP::eGET);
  EXPECT_STREQ(QRNHTTP::MethodName(parser.GetMethod()), "GET");
  EXPECT_EQ(parser.ProtocolVersion(), 1);
  EXPECT_EQ(parser.GetCategory(), 67328);
  EXPECT_EQ(parser.GetItem(), 1);
  EXPECT_EQ(parser.NumberOfItems(), 5);
  EXPECT_EQ(parser.Arguments(), (std::vector<std::string>{"x", "y"}));
  EXPECT_EQ(parser.RequestURI(), "/KIBO-1/NumItm-5/67328-1?x+y");
  EXPECT_EQ(parser.RequestLine(), "GET /KIBO-1/NumItm-5/67328-1?x+y HTTP/1.0\r\n");
  EXPECT_EQ(parser.RequestHead(), request);
  EXPECT_EQ(parser.RequestType(), 4);
  EXPECT_EQ(parser.BytesConsumed(), request.size());
  EXPECT_NE(parser.ScratchBuffer(), nullptr);
  EXPECT_EQ(parser.ScratchBufferSize(), 2048u);
}

TEST(QRNHTTPRequestLine, BareLineFeedsAreKeptAsCrLf) {
  // The head goes upstream as the parser keeps it, and upstream waits for
  // CR LF CR LF: lines ended by a bare LF (or a mix) come out with CR LF.
  QRNHTTP parser;
  ASSERT_EQ(ParseWhole(parser, "GET /KIBO-1/12345-0 HTTP/1.0\nUser-Agent: v\r\nQRNReqType:4\n\n"), eHTTPComplete);
  EXPECT_EQ(parser.RequestLine(), "GET /KIBO-1/12345-0 HTTP/1.0\r\n");
  EXPECT_EQ(parser.RequestHead(), "GET /KIBO-1/12345-0 HTTP/1.0\r\nUser-Agent: v\r\nQRNReqType:4\r\n\r\n");
  EXPECT_EQ(parser.RequestType(), 4);
  EXPECT_EQ(parser.BytesConsumed(), 58u);
  // Each header line as kept, without its line end.
  ASSERT_EQ(parser.HeaderLineCount(), 2u);
  EXPECT_EQ(parser.HeaderLine(0), "User-Agent: v");
  EXPECT_EQ(parser.HeaderLine(1), "QRNReqType:4");
}

TEST(QRNHTTPRequestLine, SplitOverReadsIsParsedOnce) {
  Feeder feeder;
  EXPECT_EQ(feeder.Feed("GET /KIBO-1/66816-"), eHTTPMoreData);
  EXPECT_EQ(feeder.held, 18u);  // nothing taken without a line end
  EXPECT_EQ(feeder.Feed("3?data_file HTTP/1.0\r\nContent-le"), eHTTPMoreData);
  // The request line is consumed; the partial header waits at the front.
  EXPECT_EQ(feeder.Held(), "Content-le");
  EXPECT_EQ(feeder.parser.GetCategory(), 66816);
  EXPECT_EQ(feeder.Feed("ngth: 0\r\n\r\n"), eHTTPComplete);
  EXPECT_EQ(feeder.parser.GetItem(), 3);
  EXPECT_EQ(feeder.parser.Arguments(), std::vector<std::string>{"data_file"});
  EXPECT_EQ(feeder.parser.RequestHead(), "GET /KIBO-1/66816-3?data_file HTTP/1.0\r\nContent-length: 0\r\n\r\n");
  ASSERT_EQ(feeder.parser.HeaderLineCount(), 1u);
  EXPECT_EQ(feeder.parser.HeaderLine(0), "Content-length: 0");
  EXPECT_EQ(feeder.parser.BytesConsumed(), 61u);
}

TEST(QRNHTTPRequestLine, LengthLimits) {
  Feeder waiting;
  EXPECT_EQ(waiting.Feed("GET /KIBO-1/5-1?" + std::string(255 - 16, 'a')), eHTTPMoreData);
  EXPECT_EQ(waiting.Feed("a"), eHTTPInvalid);  // 256 bytes without a line end

  // A long line that arrives whole is fine up to the line limit.
  QRNHTTP parser;
  const std::string longArgument(3000, 'b');
  ASSERT_EQ(ParseWhole(parser, "GET /KIBO-1/5-1?" + longArgument + " HTTP/1.0\r\n\r\n"), eHTTPComplete);
  EXPECT_EQ(parser.Arguments(), std::vector<std::string>{longArgument});
  EXPECT_EQ(ParseWhole(parser, "GET /KIBO-1/5-1?" + std::string(5000, 'b') + " HTTP/1.0\r\n\r\n"), eHTTPInvalid);
}

TEST(QRNHTTPRequestLine, MethodTable) {
  QRNHTTP parser;
  for (const char* method : {"GET", "HEAD", "POST", "PUT"}) {
    EXPECT_EQ(ParseWhole(parser, std::string(method) + " /KIBO-1/5-1 HTTP/1.0\r\n\r\n"), eHTTPComplete) << method;
    EXPECT_STREQ(QRNHTTP::MethodName(parser.GetMethod()), method);
  }
  for (const char* method : {"DELETE", "LINK", "UNLINK", "OPTIONS", "get", ""}) {
    EXPECT_EQ(ParseWhole(parser, std::string(method) + " /KIBO-1/5-1 HTTP/1.0\r\n\r\n"), eHTTPInvalid) << method;
  }
}

TEST(QRNHTTPRequestLine, ProtocolAndKeyword) {
  QRNHTTP parser;
  EXPECT_EQ(ParseWhole(parser, "GET /KIBO-1/5-1 HTTP/1.1\r\n\r\n"), eHTTPInvalid);
  EXPECT_EQ(ParseWhole(parser, "GET /KIBO-1/5-1 HTTP/0.9\r\n\r\n"), eHTTPInvalid);
  EXPECT_EQ(ParseWhole(parser, "GET /KIBO-1/5-1\r\n\r\n"), eHTTPInvalid);
  EXPECT_EQ(ParseWhole(parser, "GET /KIBO-1/5-1 FTP/1.0\r\n\r\n"), eHTTPInvalid);
  EXPECT_EQ(ParseWhole(parser, "GET /KIBO-2/5-1 HTTP/1.0\r\n\r\n"), eHTTPInvalid);
  EXPECT_EQ(ParseWhole(parser, "GET /kibo-1/5-1 HTTP/1.0\r\n\r\n"), eHTTPInvalid);
  EXPECT_EQ(ParseWhole(parser, "GET /index.html HTTP/1.0\r\n\r\n"), eHTTPInvalid);
  EXPECT_EQ(ParseWhole(parser, "GET ftp://host/KIBO-1/5-1 HTTP/1.0\r\n\r\n"), eHTTPInvalid);
  EXPECT_EQ(ParseWhole(parser, "GET /KIBO-1/5-1 HTTP/1\r\n\r\n"), eHTTPComplete);
  // Version glued to the keyword, and empty segments before it.
  ASSERT_EQ(ParseWhole(parser, "GET //KIBO1/7-2 HTTP/1.0\r\n\r\n"), eHTTPComplete);
  EXPECT_EQ(parser.GetCategory(), 7);
  EXPECT_EQ(parser.GetItem(), 2);
  // Lines ended by a bare line feed are read too.
  EXPECT_EQ(ParseWhole(parser, "GET /KIBO-1/5-1 HTTP/1.0\n\n"), eHTTPComplete);
  // Control bytes inside the line are refused.
  EXPECT_EQ(ParseWhole(parser, std::string("GET /KIBO-1/5-1?a\rb HTTP/1.0\r\n\r\n")), eHTTPInvalid);
  const char withZero[] = "GET /KIBO-1/5-1?a\0b HTTP/1.0\r\n\r\n";
  EXPECT_EQ(ParseWhole(parser, std::string(withZero, sizeof(withZero) - 1)), eHTTPInvalid);
}

TEST(QRNHTTPRequestLine, AbsoluteTarget) {
  QRNHTTP parser;
  ASSERT_EQ(ParseWhole(parser, "GET HTTP://relay.example:8080/KIBO-1/67328-1 HTTP/1.0\r\n\r\n"), eHTTPComplete);
  EXPECT_EQ(parser.ProxyHost(), "relay.example");
  EXPECT_EQ(parser.ProxyHostPort(), 8080);
  EXPECT_EQ(parser.RequestURI(), "HTTP://relay.example:8080/KIBO-1/67328-1");
  ASSERT_EQ(ParseWhole(parser, "GET http://relay/KIBO-1/67328-1 HTTP/1.0\r\n\r\n"), eHTTPComplete);
  EXPECT_EQ(parser.ProxyHost(), "relay");
  EXPECT_EQ(parser.ProxyHostPort(), 80);
  EXPECT_EQ(ParseWhole(parser, "GET http:relay/KIBO-1/67328-1 HTTP/1.0\r\n\r\n"), eHTTPInvalid);
}

TEST(QRNHTTPAddressing, DefaultsAndKeywords) {
  QRNHTTP parser;
  ASSERT_EQ(ParseWhole(parser, "GET /KIBO-1/NumItm-5/NumRef-3/BID-9/RegID-abc/10-2 HTTP/1.0\r\n\r\n"), eHTTPComplete);
  EXPECT_EQ(parser.NumberOfItems(), 5);
  EXPECT_EQ(parser.NumberOfReferences(), 3);
  EXPECT_EQ(parser.Bid(), 9);
  EXPECT_EQ(parser.GetCategory(), 10);

  // Keywords in any case; KIBO and RegID values are read and dropped.
  ASSERT_EQ(ParseWhole(parser, "GET /KIBO-1/numitm-2/kibo-1/regid-x/10-2 HTTP/1.0\r\n\r\n"), eHTTPComplete);
  EXPECT_EQ(parser.NumberOfItems(), 2);
  EXPECT_EQ(parser.GetCategory(), 10);

  // The next request without keywords has the defaults again.
  ASSERT_EQ(ParseWhole(parser, "GET /KIBO-1/67328-1 HTTP/1.0\r\n\r\n"), eHTTPComplete);
  EXPECT_EQ(parser.NumberOfItems(), 1);
  EXPECT_EQ(parser.NumberOfReferences(), 0);
  EXPECT_EQ(parser.Bid(), 1);
  EXPECT_TRUE(parser.Arguments().empty());

  // Numbers beyond 32 bits saturate instead of overflowing.
  ASSERT_EQ(ParseWhole(parser, "GET /KIBO-1/99999999999999999999-1 HTTP/1.0\r\n\r\n"), eHTTPComplete);
  EXPECT_EQ(parser.GetCategory(), 2147483647);
}

TEST(QRNHTTPAddressing, ExtraPathAndArguments) {
  QRNHTTP parser;
  ASSERT_EQ(ParseWhole(parser, "GET /KIBO-1/66816-0/logo.gif HTTP/1.0\r\n\r\n"), eHTTPComplete);
  EXPECT_EQ(parser.Arguments(), std::vector<std::string>{"logo.gif"});
  EXPECT_EQ(parser.GetItem(), 0);

  ASSERT_EQ(ParseWhole(parser, "GET /KIBO-1/66816-0/extra?a+\"b c+d\"+e HTTP/1.0\r\n\r\n"), eHTTPComplete);
  EXPECT_EQ(parser.Arguments(), (std::vector<std::string>{"extra", "a", "b c+d", "e"}));
  EXPECT_EQ(parser.RequestURI(), "/KIBO-1/66816-0/extra?a+\"b c+d\"+e");

  ASSERT_EQ(ParseWhole(parser, "GET /KIBO-1/66816-0?\"last one\" HTTP/1.0\r\n\r\n"), eHTTPComplete);
  EXPECT_EQ(parser.Arguments(), std::vector<std::string>{"last one"});

  EXPECT_EQ(ParseWhole(parser, "GET /KIBO-1/66816-0?\"open HTTP/1.0\r\n\r\n"), eHTTPInvalid);
  EXPECT_EQ(ParseWhole(parser, "GET /KIBO-1/66816-0?a\"b HTTP/1.0\r\n\r\n"), eHTTPInvalid);
}

TEST(QRNHTTPHeaders, NamesInAnyCaseAndValues) {
  QRNHTTP parser;
  ASSERT_EQ(ParseWhole(parser,
                       "POST /KIBO-1/66560-1?redirect.csv HTTP/1.0\r\n"
                       "content-LENGTH: 3\r\nqrnreqtype:4\r\nQRNROUTER-TIME: 77\r\n"
                       "uri: <http://upstream.example:8000/KIBO-1/1-1>\r\n"
                       "If-Modified-Since: Sun, 06 Nov 1994 08:49:37 GMT\r\n"
                       "X-Other: ignored\r\nno colon at all\r\n\r\nabc"),
            eHTTPComplete);
  EXPECT_EQ(parser.ContentLength(), 3u);
  EXPECT_EQ(parser.RequestType(), 4);
  EXPECT_EQ(parser.RouterTime(), 77);
  EXPECT_EQ(parser.URIHost(), "upstream.example");
  EXPECT_EQ(parser.URIPort(), 8000);
  EXPECT_EQ(parser.IfModifiedSince(), 0);
  EXPECT_EQ(std::string(parser.Body().begin(), parser.Body().end()), "abc");

  ASSERT_EQ(ParseWhole(parser, "GET /KIBO-1/1-1 HTTP/1.0\r\nURI: <http://plain/x>\r\n\r\n"), eHTTPComplete);
  EXPECT_EQ(parser.URIHost(), "plain");
  EXPECT_EQ(parser.URIPort(), 80);
  ASSERT_EQ(ParseWhole(parser, "GET /KIBO-1/1-1 HTTP/1.0\r\nURI: http://bare/x\r\n\r\n"), eHTTPComplete);
  EXPECT_EQ(parser.URIHost(), "");
}

TEST(QRNHTTPHeaders, LimitsOnLinesAndHead) {
  QRNHTTP parser;
  EXPECT_EQ(ParseWhole(parser, "GET /KIBO-1/1-1 HTTP/1.0\r\nX: " + std::string(5000, 'v') + "\r\n\r\n"),
            eHTTPInvalid);
  // Many short header lines, fed as the request thread would, still end.
  Feeder feeder;
  feeder.Feed("GET /KIBO-1/1-1 HTTP/1.0\r\n");
  httpStatus status = eHTTPMoreData;
  for (int i = 0; i < 2000 && status == eHTTPMoreData; ++i) status = feeder.Feed("X-Filler: " + std::string(40, 'f') + "\r\n");
  EXPECT_EQ(status, eHTTPInvalid);
  EXPECT_LE(feeder.parser.RequestHead().size(), QRNHTTP::kMaxRequestHead);
}

TEST(QRNHTTPContent, PostBodyInPieces) {
  Feeder feeder;
  EXPECT_EQ(feeder.Feed("POST /KIBO-1/66560-1?redirect.csv HTTP/1.0\r\nContent-Length: 10\r\n\r\n0123"),
            eHTTPMoreData);
  EXPECT_EQ(feeder.held, 0u);  // body bytes are taken as they come
  EXPECT_EQ(feeder.Feed("45"), eHTTPMoreData);
  EXPECT_EQ(feeder.Feed("6789EXTRA"), eHTTPComplete);
  EXPECT_EQ(std::string(feeder.parser.Body().begin(), feeder.parser.Body().end()), "0123456789");
  EXPECT_EQ(feeder.Held(), "EXTRA");  // nothing past the announced length
  EXPECT_EQ(feeder.Feed(""), eHTTPComplete);
}

TEST(QRNHTTPContent, OversizeAndNegativeLengthsAreRefused) {
  QRNHTTP parser;
  const std::string line = "POST /KIBO-1/1-1 HTTP/1.0\r\n";
  EXPECT_EQ(ParseWhole(parser, line + "Content-length: 16777217\r\n\r\n"), eHTTPInvalid);
  EXPECT_EQ(ParseWhole(parser, line + "Content-length: 99999999999999\r\n\r\n"), eHTTPInvalid);
  EXPECT_EQ(ParseWhole(parser, line + "Content-length: -1\r\n\r\n"), eHTTPInvalid);
  EXPECT_EQ(ParseWhole(parser, "GET /KIBO-1/1-1 HTTP/1.0\r\nContent-length: 16777217\r\n\r\n"), eHTTPInvalid);
  // The largest allowed length is accepted and waits for its bytes, which
  // are not reserved ahead.
  EXPECT_EQ(ParseWhole(parser, line + "Content-length: 16777216\r\n\r\nabc"), eHTTPMoreData);
  EXPECT_EQ(parser.Body().size(), 3u);
  EXPECT_LT(parser.Body().capacity(), 1024u * 1024u);
}

TEST(QRNHTTPContent, ArgumentLinesOfOtherMethods) {
  Feeder feeder;
  const std::string content = "numref:4\r\nNumItems: 6\r\nBID:12\r\nTAG:x\r\n\r\nrest";
  EXPECT_EQ(feeder.Feed("GET /KIBO-1/1-1 HTTP/1.0\r\nContent-length: " + std::to_string(content.size()) +
                        "\r\n\r\n" + content.substr(0, 12)),
            eHTTPMoreData);
  EXPECT_EQ(feeder.parser.NumberOfReferences(), 4);
  EXPECT_EQ(feeder.Held(), "Nu");  // an incomplete argument line waits
  EXPECT_EQ(feeder.Feed(content.substr(12)), eHTTPComplete);
  EXPECT_EQ(feeder.parser.NumberOfItems(), 6);
  EXPECT_EQ(feeder.parser.Bid(), 12);
  EXPECT_TRUE(feeder.parser.Body().empty());

  // Content that ends inside an argument line is counted and complete.
  QRNHTTP parser;
  EXPECT_EQ(ParseWhole(parser, "PUT /KIBO-1/1-1 HTTP/1.0\r\nContent-length: 5\r\n\r\nNumRe"), eHTTPComplete);
}

TEST(QRNHTTPReset, NothingOfThePreviousRequestRemains) {
  QRNHTTP parser;
  ASSERT_EQ(ParseWhole(parser, "POST /KIBO-1/NumRef-2/5-1?a HTTP/1.0\r\nContent-length: 2\r\nQRNReqType: 3\r\n\r\nxy"),
            eHTTPComplete);
  // A GET without Content-length on the same parser must not wait for a body.
  ASSERT_EQ(ParseWhole(parser, "GET /KIBO-1/6-2 HTTP/1.0\r\n\r\n"), eHTTPComplete);
  EXPECT_EQ(parser.ContentLength(), 0u);
  EXPECT_TRUE(parser.Body().empty());
  EXPECT_EQ(parser.RequestType(), 0);
  EXPECT_EQ(parser.NumberOfReferences(), 0);
  EXPECT_TRUE(parser.Arguments().empty());
  EXPECT_EQ(parser.RequestHead(), "GET /KIBO-1/6-2 HTTP/1.0\r\n\r\n");
  EXPECT_EQ(parser.RequestLine(), "GET /KIBO-1/6-2 HTTP/1.0\r\n");
  EXPECT_EQ(parser.HeaderLineCount(), 0u);
}

}  // namespace
