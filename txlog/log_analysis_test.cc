#include "txlog/log_analysis.h"

#include <gtest/gtest.h>

#include <string>

#include "base/json_reader.h"
#include "txlog/log_testing.h"

namespace {

// A log line as the writer formats it (client address padded to 15).
std::string Line(const std::string& stamp, const std::string& uri, int status, int bytes, const std::string& taken,
                 int agent) {
  return "10.1.2.3        " + stamp + " GET " + uri + " " + std::to_string(status) + " " + std::to_string(bytes) +
         " " + taken + " " + std::to_string(agent) + " -               -\r\n";
}

json::JsonValue Parsed(const CLogAnalysis& analysis) {
  json::JsonResult result = json::ParseJson(analysis.Json(), json::JsonLimits());
  EXPECT_TRUE(result.ok) << analysis.Json();
  return result.value;
}

double Member(const json::JsonValue& value, const char* a, const char* b = nullptr) {
  const json::JsonValue* found = value.Member(a);
  if (found != nullptr && b != nullptr) found = found->Member(b);
  return found == nullptr ? -1 : found->number;
}

// The requests of the row `key` in a tally list.
double Row(const json::JsonValue& list, const std::string& key, const char* what = "requests") {
  for (const json::JsonValue& row : list.items) {
    if (row.Member("key")->text == key) return row.Member(what)->number;
  }
  return -1;
}

}  // namespace

TEST(LogAnalysis, TalliesARangeOfEntriesByAgentStatusCategoryAndMinute) {
  std::string text = txlog_testing::kHeader;
  text += Line("2026-12-09 09:59:59", "/KIBO-1/12345-0", 200, 100, "0.0010", 3);  // before the range
  text += Line("2026-12-09 10:00:00", "/KIBO-1/12345-0", 200, 1000, "0.0010", 3);
  text += Line("2026-12-09 10:00:30", "/KIBO-1/NumItm-5/12345-1?x+y", 200, 2000, "0.0020", 3);
  text += Line("2026-12-09 10:01:00", "http://relay:80/KIBO-1/66816-1?data_file", 204, 0, "0.1000", 1);
  text += Line("2026-12-09 10:01:10", "/favicon.ico", 404, 50, "0.0100", 0);
  text += "#Remark: a broken line and a short one are passed over\r\n";
  text += "10.1.2.3 2026-12-09 10:01:11 GET\r\n";
  text += Line("2026-12-09 10:02:00", "/KIBO-1/12345-0", 200, 999, "0.0010", 3);  // the end is excluded
  CLogAnalysis analysis(*CLogAnalysis::ParseBound("2026-12-09T10:00"), *CLogAnalysis::ParseBound("2026-12-09 10:02"));
  analysis.AddText(text);

  const json::JsonValue result = Parsed(analysis);
  EXPECT_EQ(Member(result, "requests"), 4);
  EXPECT_EQ(Member(result, "bytes"), 3050);
  EXPECT_EQ(Row(*result.Member("byAgent"), "3"), 2);
  EXPECT_EQ(Row(*result.Member("byAgent"), "3", "bytes"), 3000);
  EXPECT_EQ(Row(*result.Member("byAgent"), "0"), 1);
  EXPECT_EQ(Row(*result.Member("byStatus"), "200"), 2);
  EXPECT_EQ(Row(*result.Member("byStatus"), "404"), 1);
  EXPECT_EQ(Row(*result.Member("byCategory"), "12345"), 2);
  EXPECT_EQ(Row(*result.Member("byCategory"), "66816"), 1);
  EXPECT_EQ(Row(*result.Member("byCategory"), "-"), 1);
  // Four times: 1, 2, 10 and 100 ms.
  EXPECT_DOUBLE_EQ(Member(result, "timeTaken", "p50"), 0.002);
  EXPECT_DOUBLE_EQ(Member(result, "timeTaken", "p99"), 0.1);
  EXPECT_DOUBLE_EQ(Member(result, "timeTaken", "max"), 0.1);
  const json::JsonValue& minutes = *result.Member("perMinute");
  ASSERT_EQ(minutes.items.size(), 2u);
  EXPECT_EQ(minutes.items[0].Member("minute")->text, "2026-12-09 10:00");
  EXPECT_EQ(Member(minutes.items[0], "requests"), 2);
  EXPECT_EQ(Member(minutes.items[1], "requests"), 2);
  EXPECT_FALSE(result.Member("truncated")->boolean);
}

TEST(LogAnalysis, EachFileIsReadByItsOwnFieldsLine) {
  CLogAnalysis analysis("", "");
  // Lines before any field list cannot be placed.
  analysis.AddText(Line("2026-12-09 10:00:00", "/KIBO-1/1-0", 200, 1, "0.0010", 3));
  // The administration log ends after x-agent.
  analysis.AddText(
      "#Fields: c-ip date time cs-method cs-uri sc-status bytes time-taken x-agent\r\n"
      "127.0.0.1       2026-12-09 10:00:00 POST /api/flash 200 30 0.0005 3\n");
  // Another order of fields.
  analysis.AddText("#Fields: date time x-agent bytes\r\n2026-12-09 10:00:00 8 70\r\n");
  const json::JsonValue result = Parsed(analysis);
  EXPECT_EQ(Member(result, "requests"), 2);
  EXPECT_EQ(Row(*result.Member("byAgent"), "8", "bytes"), 70);
  EXPECT_EQ(Row(*result.Member("byStatus"), "-"), 1);
}

TEST(LogAnalysis, ManyDistinctKeysAreBoundedAndCountAsOther) {
  std::string text = txlog_testing::kHeader;
  for (int i = 0; i < 1200; ++i) {
    text += Line("2026-12-09 10:00:00", "/x", 100 + i, 1, "0.0001", 3);
  }
  text += Line("2026-12-09 10:00:00", "/x", 200, 1, std::string(40, '9'), 3);
  CLogAnalysis analysis("", "");
  analysis.AddText(text);
  const json::JsonValue result = Parsed(analysis);
  EXPECT_EQ(Member(result, "requests"), 1201);
  EXPECT_EQ(result.Member("byStatus")->items.size(), CLogAnalysis::kMaxKeys + 1);
  EXPECT_EQ(Row(*result.Member("byStatus"), "other"), 200);
  // A time past every bound counts as 1,000 s.
  EXPECT_DOUBLE_EQ(Member(result, "timeTaken", "max"), 1000.0);
}

TEST(LogAnalysis, BoundsAndCategories) {
  EXPECT_EQ(*CLogAnalysis::ParseBound(""), "");
  EXPECT_EQ(*CLogAnalysis::ParseBound("2026-12-09 10:00"), "2026-12-09 10:00:00");
  EXPECT_EQ(*CLogAnalysis::ParseBound("2026-12-09T10:00:59"), "2026-12-09 10:00:59");
  for (const char* bad : {"2026-12-09", "2026-12-09 10", "2026-12-09X10:00", "yesterday at ten", "2026-12-09 10:0a"}) {
    EXPECT_FALSE(CLogAnalysis::ParseBound(bad)) << bad;
  }
  EXPECT_EQ(CategoryOfUri("/KIBO-1/RegID-9/BID-2/67328-1?x+y"), "67328");
  EXPECT_EQ(CategoryOfUri("/KIBO-1/67072"), "67072");
  EXPECT_EQ(CategoryOfUri("/KIBO-1/"), "-");
  EXPECT_EQ(CategoryOfUri("/KIBO-1/99999999999-1"), "-");
  EXPECT_EQ(CategoryOfUri("/Admin/index.html"), "-");
}
