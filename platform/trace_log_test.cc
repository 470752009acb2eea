#include "platform/trace.h"

#include <algorithm>

#include <gtest/gtest.h>

#include "platform/registry.h"
#include "platform/testing.h"

ZONDREL_TRACE_MODULE("tracetest")

namespace platform {
namespace {

void SetText(const char* name, const std::string& text) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, kZondrelKeyPath, KEY_ALL_ACCESS, &key, nullptr), 0);
  RegSetValueEx(key, name, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                static_cast<DWORD>(text.size() + 1));
  RegCloseKey(key);
}

void DeleteValue(const char* name) {
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, kZondrelKeyPath, KEY_ALL_ACCESS, &key), 0);
  RegDeleteValue(key, name);
  RegCloseKey(key);
}

std::size_t CountLines(const std::string& text) {
  return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

TEST(TraceLog, DefaultMaskSkipsConfigurationReads) {
  std::string base = testing_support::TestRoot() + "/trace";
  SetText("TraceFilename", base);
  ModuleTraceLog().Reload();
  trace(0x1, "configuration %d\n", 1);
  trace(0x200, "service %s\n", "line");
  ModuleTraceLog().Flush();
  std::string text = testing_support::ReadFile(base + ".tracetest");
  EXPECT_EQ(text.find("configuration"), std::string::npos);
  // "<thread id> HH:MM:SS service line"
  EXPECT_NE(text.find(" service line\n"), std::string::npos) << text;
  EXPECT_EQ(CountLines(text), 1u);
  EXPECT_EQ(ModuleTraceLog().Mask(), kDefaultTraceMask);
}

TEST(TraceLog, FileFollowsTheSettingWithinTheCheckInterval) {
  std::string base = testing_support::TestRoot() + "/late";
  ModuleTraceLog().Reload();
  trace(0x200, "before the file\n");  // first line: looks, finds no setting
  SetText("TraceFilename", base);
  for (int i = 0; i < 1001; ++i) trace(0x200, "line %d\n", i);
  ModuleTraceLog().Flush();
  EXPECT_FALSE(testing_support::ReadFile(base + ".tracetest").size() > 0);
  trace(0x200, "opens now\n");  // the 1003rd line looks again
  ModuleTraceLog().Flush();
  EXPECT_NE(testing_support::ReadFile(base + ".tracetest").find("opens now"), std::string::npos);

  DeleteValue("TraceFilename");
  for (int i = 0; i < 1002; ++i) trace(0x200, "more %d\n", i);
  std::size_t lines = CountLines(testing_support::ReadFile(base + ".tracetest"));
  trace(0x200, "after close\n");
  EXPECT_EQ(CountLines(testing_support::ReadFile(base + ".tracetest")), lines);
  EXPECT_LE(lines, 1002u);
}

TEST(TraceLog, NumericMaskIsHonoured) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, kZondrelKeyPath, KEY_ALL_ACCESS, &key, nullptr), 0);
  DWORD mask = 0x00000201;  // high bytes zero
  RegSetValueEx(key, "TraceMask", REG_DWORD, reinterpret_cast<const BYTE*>(&mask), sizeof(mask));
  RegCloseKey(key);
  ModuleTraceLog().Reload();
  EXPECT_EQ(ModuleTraceLog().Mask(), 0x201u);
}

TEST(TraceLog, LongMessagesAreCutNotOverrun) {
  std::string base = testing_support::TestRoot() + "/long";
  SetText("TraceFilename", base);
  ModuleTraceLog().Reload();
  std::string huge(5000, 'x');
  trace(0x200, "%s\n", huge.c_str());
  ModuleTraceLog().Flush();
  std::string text = testing_support::ReadFile(base + ".tracetest");
  EXPECT_GT(text.size(), 800u);
  EXPECT_LT(text.size(), 900u);
}

}  // namespace
}  // namespace platform
