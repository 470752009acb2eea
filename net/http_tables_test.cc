// The process-wide HTTP tables: status reasons, content types, methods and
// the User-Agent the relay sends.
#include "net/http_tables.h"

#include <string>

#include <gtest/gtest.h>

#include "base/product_identity.h"
#include "platform/system.h"

namespace {

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
