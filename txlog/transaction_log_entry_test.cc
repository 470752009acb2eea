#include "txlog/transaction_log_entry.h"

#include <gtest/gtest.h>

#include <ctime>

#include "txlog/log_testing.h"

namespace {

using txlog_testing::FillEntry;

// The line with its "YYYY-MM-DD hh:mm:ss" value replaced by "DATE TIME", or
// an empty text when it has none.
std::string WithoutDateTime(const std::string& line) {
  const std::string shape = "dddd-dd-dd dd:dd:dd";
  for (std::size_t at = 0; at + shape.size() <= line.size(); ++at) {
    bool matches = true;
    for (std::size_t i = 0; i < shape.size() && matches; ++i) {
      const char c = line[at + i];
      matches = shape[i] == 'd' ? (c >= '0' && c <= '9') : c == shape[i];
    }
    if (matches) return line.substr(0, at) + "DATE TIME" + line.substr(at + shape.size());
  }
  return {};
}

TEST(TransactionLogEntry, LineHoldsTheFieldsInOrderWithDashesForUnsetOnes) {
  CPTransactionLogEntry entry;
  FillEntry(entry, "/KIBO-1/news");
  const std::time_t before = std::time(nullptr);
  entry.Format();
  ASSERT_TRUE(entry.HasLine());
  EXPECT_GE(entry.Time(), static_cast<std::uint32_t>(before));
  EXPECT_LE(entry.Time(), static_cast<std::uint32_t>(std::time(nullptr)));

  // No upstream contact: r-ip and rs-status stay "-".
  EXPECT_EQ(WithoutDateTime(entry.Line()),
            "10.1.2.3        DATE TIME GET /KIBO-1/news 200 512 0.2500 3 - -\r\n");

  FillEntry(entry, "/KIBO-1/news");
  entry.SetUpstreamHost("192.168.7.1");
  entry.SetUpstreamStatus(304);
  entry.Format();
  EXPECT_NE(entry.Line().find(" 0.2500 3 192.168.7.1     304\r\n"), std::string::npos)
      << entry.Line();

  CPAdminTransactionLogEntry admin;
  FillEntry(admin, "/Admin");
  admin.Format();
  EXPECT_EQ(WithoutDateTime(admin.Line()),
            "10.1.2.3        DATE TIME GET /Admin 200 512 0.2500 3\r\n");
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
  EXPECT_EQ(WithoutDateTime(first), "- DATE TIME - - 204 - - - - -\r\n");

  // Not filled again: the line is left as it was.
  entry.Format();
  EXPECT_EQ(entry.Line(), first);

  entry.Reset();
  EXPECT_FALSE(entry.HasLine());
  EXPECT_EQ(entry.Line(), "-");
  EXPECT_EQ(entry.Time(), 0u);
  entry.MarkFilled();
  entry.Format();
  EXPECT_EQ(WithoutDateTime(entry.Line()), "- DATE TIME - - - - - - - -\r\n");
}

TEST(TransactionLogEntry, NetworkTextsCannotSplitFieldsOrLines) {
  CPTransactionLogEntry entry;
  entry.SetClientAddress("10.0.0.1       ");  // padded by the caller already
  entry.SetMethod("");
  entry.SetUri("/a b\r\n#Fields: forged\x7f\x80\xC3\xA9\xFF");
  entry.Format();
  const std::string& line = entry.Line();
  EXPECT_EQ(line.rfind("10.0.0.1        ", 0), 0u) << line;
  // Bytes of 0x80 and above are escaped too: every line is plain ASCII.
  EXPECT_NE(line.find(" - /a%20b%0D%0A#Fields:%20forged%7F%80%C3%A9%FF - "), std::string::npos) << line;
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
