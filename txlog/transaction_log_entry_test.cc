#include "txlog/transaction_log_entry.h"

#include <gtest/gtest.h>

#include <ctime>
#include <regex>

#include "txlog/log_testing.h"

namespace {

using txlog_testing::FillEntry;

TEST(TransactionLogEntry, LineHoldsTheFieldsInOrderWithDashesForUnsetOnes) {
  CPTransactionLogEntry entry;
  FillEntry(entry, "/KIBO-1/news");
  const std::time_t before = std::time(nullptr);
  entry.Format();
  ASSERT_TRUE(entry.HasLine());
  EXPECT_GE(entry.Time(), static_cast<std::uint32_t>(before));
  EXPECT_LE(entry.Time(), static_cast<std::uint32_t>(std::time(nullptr)));

  // No upstream contact: r-ip and rs-status stay "-".
  const std::regex viewer(
      R"(10\.1\.2\.3        \d{4}-\d\d-\d\d \d\d:\d\d:\d\d GET /KIBO-1/news 200 512 0\.2500 3 - -\r\n)");
  EXPECT_TRUE(std::regex_match(entry.Line(), viewer)) << entry.Line();

  FillEntry(entry, "/KIBO-1/news");
  entry.SetUpstreamHost("192.168.7.1");
  entry.SetUpstreamStatus(304);
  entry.Format();
  EXPECT_NE(entry.Line().find(" 0.2500 3 192.168.7.1     304\r\n"), std::string::npos)
      << entry.Line();

  CPAdminTransactionLogEntry admin;
  FillEntry(admin, "/Admin");
  admin.Format();
  const std::regex adminLine(
      R"(10\.1\.2\.3        \d{4}-\d\d-\d\d \d\d:\d\d:\d\d GET /Admin 200 512 0\.2500 3\r\n)");
  EXPECT_TRUE(std::regex_match(admin.Line(), adminLine)) << admin.Line();
}

TEST(TransactionLogEntry, FormatsOnlyWhatWasFilledSinceTheLastFormat) {
  CPTransactionLogEntry entry;
  entry.Format();
  EXPECT_FALSE(entry.HasLine());
  EXPECT_EQ(entry.Line(), "-");

  entry.SetStatus(204);
  EXPECT_TRUE(entry.IsFilled());
  entry.Format();
  EXPECT_FALSE(entry.IsFilled());
  const std::string first = entry.Line();
  EXPECT_TRUE(std::regex_match(first, std::regex(R"(- [-0-9]{10} [:0-9]{8} - - 204( -){5}\r\n)")))
      << first;

  // Not filled again: the line is left as it was.
  entry.Format();
  EXPECT_EQ(entry.Line(), first);

  entry.Reset();
  EXPECT_FALSE(entry.HasLine());
  EXPECT_EQ(entry.Line(), "-");
  EXPECT_EQ(entry.Time(), 0u);
  entry.MarkFilled();
  entry.Format();
  EXPECT_TRUE(std::regex_match(entry.Line(), std::regex(R"(- [-0-9]{10} [:0-9]{8}( -){8}\r\n)")))
      << entry.Line();
}

TEST(TransactionLogEntry, NetworkTextsCannotSplitFieldsOrLines) {
  CPTransactionLogEntry entry;
  entry.SetClientAddress("10.0.0.1       ");  // padded by the caller already
  entry.SetMethod("");
  entry.SetUri("/a b\r\n#Fields: forged\x7f");
  entry.Format();
  const std::string& line = entry.Line();
  EXPECT_EQ(line.rfind("10.0.0.1        ", 0), 0u) << line;
  EXPECT_NE(line.find(" - /a%20b%0D%0A#Fields:%20forged%7F - "), std::string::npos) << line;
  EXPECT_EQ(line.find('\r'), line.size() - 2);
  EXPECT_EQ(line.find('\n'), line.size() - 1);
}

TEST(TransactionLogEntry, TimeTakenKeepsFourDecimalsWhateverItsSize) {
  CPTransactionLogEntry entry;
  entry.SetTimeTaken(12.3);
  entry.Format();
  EXPECT_NE(entry.Line().find(" 12.3000 "), std::string::npos) << entry.Line();

  entry.SetTimeTaken(0.00004);
  entry.Format();
  EXPECT_NE(entry.Line().find(" 0.0000 "), std::string::npos) << entry.Line();

  // Far more digits than any fixed buffer would hold.
  entry.SetTimeTaken(1e300);
  entry.Format();
  EXPECT_NE(entry.Line().find(".0000 "), std::string::npos);
  EXPECT_GT(entry.Line().size(), 300u);
}

}  // namespace
