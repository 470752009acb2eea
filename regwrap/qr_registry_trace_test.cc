#include <gtest/gtest.h>

#include <string>

#include "platform/testing.h"
#include "platform/trace.h"
#include "regwrap/qr_registry.h"

using namespace platform;

namespace {

std::string TraceFile() { return testing_support::TestRoot() + "/trace"; }

// The library reads its trace settings on its first line, so they are put in
// place before any test runs (and without the library, which would trace):
// configuration reads (bit 1) on, and a file.
const bool g_trace_configured = [] {
  testing_support::TestRoot();  // the test machine must exist first
  HKEY key = nullptr;
  if (RegCreateKeyEx(HKEY_LOCAL_MACHINE, kZondrelKeyPath, KEY_ALL_ACCESS, &key, nullptr) != 0) return false;
  const char mask[] = "0x1FBFFF";  // the default mask and bit 1
  RegSetValueEx(key, "TraceMask", REG_SZ, reinterpret_cast<const BYTE*>(mask), sizeof(mask));
  std::string file = TraceFile();
  RegSetValueEx(key, "TraceFilename", REG_SZ, reinterpret_cast<const BYTE*>(file.c_str()),
                static_cast<DWORD>(file.size() + 1));
  RegCloseKey(key);
  return true;
}();

TEST(QRRegistryTrace, DefaultsAndCreatedKeysAreTraced) {
  QRRegistry settings(QRRegistry(HKEY_LOCAL_MACHINE), kZondrelKeyPath);
  EXPECT_EQ(settings.GetValue("Missing", DWORD{5}), 5u);
  EXPECT_EQ(settings.GetValue("Absent", "text"), "text");
  EXPECT_EQ(settings.GetValue("Absent", 1), 1);  // booleans fall back silently
  QRRegistry created(settings, "Created\\Here");
  ASSERT_TRUE(created.Open(1));
  created.Close(0);
  // The file is flushed when the library looks at its settings again.
  for (int i = 0; i < 1100; ++i) settings.GetValue("Filler", DWORD{0});

  std::string trace = testing_support::ReadFile(TraceFile() + ".regwrap");
  EXPECT_NE(trace.find(" Registry Query SOFTWARE\\Orrinvale\\Zondrel - Missing = [Default] 5\n"),
            std::string::npos)
      << trace.substr(0, 500);
  EXPECT_NE(trace.find(" Registry Query SOFTWARE\\Orrinvale\\Zondrel - Absent = [Default]'text'\n"),
            std::string::npos);
  EXPECT_NE(trace.find(" Sub key created: SOFTWARE\\Orrinvale\\Zondrel\\Created\\Here\n"),
            std::string::npos);
  EXPECT_EQ(trace.find("Absent = [Default] 1"), std::string::npos);
}

}  // namespace
