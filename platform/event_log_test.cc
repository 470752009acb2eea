#include "platform/event_log.h"

#include <gtest/gtest.h>

#include "platform/registry.h"
#include "platform/sync.h"
#include "platform/testing.h"
#include "platform/trace.h"

namespace platform {
namespace {

void SetViewMask(DWORD mask) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, kZondrelKeyPath, KEY_ALL_ACCESS, &key, nullptr), 0);
  RegSetValueEx(key, "EventViewMask", REG_DWORD, reinterpret_cast<const BYTE*>(&mask), sizeof(mask));
  RegCloseKey(key);
}

TEST(EventLog, ReportsKeepFifteenStringsAndSurviveInTheStore) {
  CEventLog log("testsource");
  std::vector<std::string> strings;
  for (int i = 1; i <= 20; ++i) strings.push_back("s" + std::to_string(i));
  ASSERT_TRUE(log.ReportArray(EVENTLOG_ERROR_TYPE, 7, 0xC0000067, strings));
  ASSERT_TRUE(log.Report(EVENTLOG_WARNING_TYPE, 11, 0x80000072, {"10054", "Sending"}));

  auto records = ReadEventRecords();
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].source, "testsource");
  EXPECT_EQ(records[0].type, EVENTLOG_ERROR_TYPE);
  EXPECT_EQ(records[0].category, 7);
  EXPECT_EQ(records[0].id, 0xC0000067u);
  ASSERT_EQ(records[0].strings.size(), kMaxEventStrings);
  EXPECT_EQ(records[0].strings.back(), "s15");
  EXPECT_LT(records[0].record, records[1].record);
  EXPECT_EQ(records[1].strings, (std::vector<std::string>{"10054", "Sending"}));
  EXPECT_EQ(ReadEventRecords(1).size(), 1u);
  EXPECT_EQ(ReadEventRecords(1)[0].id, 0x80000072u);
}

TEST(EventLog, ExceptionReportsCarryTheMessageOrTheCode) {
  CEventLog log("testsource");
  std::runtime_error error("disk full");
  log.ReportException(&error, 0, 3, 0xC0000079);
  log.ReportException(nullptr, 42, 3, 0xC0000079);
  auto records = ReadEventRecords();
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].strings, (std::vector<std::string>{"disk full"}));
  EXPECT_EQ(records[1].strings, (std::vector<std::string>{"Unknown Error (42)"}));
}

TEST(EventLog, RegistrationWritesTheSourceKey) {
  CEventLog log("zondrel", "/opt/relay/evtmsgs.msg");
  EXPECT_FALSE(log.IsRegistered());
  ASSERT_TRUE(log.Register(0, 0));
  EXPECT_TRUE(log.IsRegistered());
  EXPECT_FALSE(CEventLog("zondrel", "/elsewhere.msg").IsRegistered());

  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, (std::string(kEventSourceKeyPath) + "zondrel").c_str(), KEY_READ,
                         &key),
            0);
  DWORD value = 0, size = sizeof(value), type = 0;
  EXPECT_EQ(RegQueryValueEx(key, "TypesSupported", &type, reinterpret_cast<BYTE*>(&value), &size), 0);
  EXPECT_EQ(value, 15u);
  EXPECT_EQ(RegQueryValueEx(key, "CategoryCount", &type, reinterpret_cast<BYTE*>(&value), &size), 0);
  EXPECT_EQ(value, 100u);
  RegCloseKey(key);

  ASSERT_TRUE(log.Deregister());
  EXPECT_FALSE(log.IsRegistered());
}

TEST(EventLog, ViewMaskFiltersReportsWithViewBits) {
  SetViewMask(0);
  EXPECT_TRUE(ReportEvent(EVENTLOG_ERROR_TYPE, 19, 0xC0000079, 1, {"x"}));
  EXPECT_TRUE(ReadEventRecords().empty());
  SetViewMask(0x80);
  ReportEvent(EVENTLOG_ERROR_TYPE, 19, 0xC0000079, 1, {"suppressed"});
  ReportEvent(EVENTLOG_WARNING_TYPE, 11, 0x80000072, 0x80, {"shown"});
  auto records = ReadEventRecords();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].strings[0], "shown");
}

TEST(EventLog, RateLimitedReportsAllowCountPerWindowAndDistinguishFirstString) {
  CMaskedEventLog::ClearLimits();
  CMaskedEventLog log("limited");
  for (int i = 0; i < 5; ++i) log.ReportLimited(3600, 2, 1, EVENTLOG_ERROR_TYPE, 19, 0xC0000835, {"a"});
  for (int i = 0; i < 5; ++i) log.ReportLimited(3600, 2, 1, EVENTLOG_ERROR_TYPE, 19, 0xC0000835, {"b"});
  EXPECT_EQ(ReadEventRecords().size(), 4u);

  // A window of 0 never expires: after `count` reports nothing more is written.
  for (int i = 0; i < 5; ++i) log.ReportLimited(0, 3, 1, EVENTLOG_ERROR_TYPE, 19, 0xC0000836, {});
  EXPECT_EQ(ReadEventRecords().size(), 7u);

  // An expired window starts counting again.
  for (int i = 0; i < 3; ++i) log.ReportLimited(1, 1, 1, EVENTLOG_WARNING_TYPE, 19, 0x80000072, {"c"});
  EXPECT_EQ(ReadEventRecords().size(), 8u);
  Sleep(2100);
  log.ReportLimited(1, 1, 1, EVENTLOG_WARNING_TYPE, 19, 0x80000072, {"c"});
  EXPECT_EQ(ReadEventRecords().size(), 9u);

  CMaskedEventLog::ClearLimit(EVENTLOG_ERROR_TYPE, 0xC0000835);
  log.ReportLimited(3600, 2, 1, EVENTLOG_ERROR_TYPE, 19, 0xC0000835, {"a"});
  EXPECT_EQ(ReadEventRecords().size(), 10u);
}

}  // namespace
}  // namespace platform
