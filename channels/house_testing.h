// Test support for houses: a house that counts its OnNewData calls and
// refuses images that begin with "bad", settings whose URL fetches stay on
// loopback, and the event-log entries a test wrote.
#pragma once

#include <atomic>
#include <string>
#include <string_view>
#include <vector>

#include "base/event_catalogue.h"
#include "channels/generic_house.h"
#include "platform/event_store.h"
#include "upstream/web_server_testing.h"

namespace house_testing {

class TestHouse : public CGenericHouse {
 public:
  using CGenericHouse::CGenericHouse;
  ~TestHouse() override { StopInitialization(); }

  bool Validate(const char* bytes, platform::DWORD length, const char* path) override {
    return std::string_view(bytes == nullptr ? "" : bytes, length).substr(0, 3) != "bad";
  }
  void OnNewData() override { ++m_NewDataCalls; }
  int NewDataCalls() const { return m_NewDataCalls.load(); }

 private:
  std::atomic<int> m_NewDataCalls{0};
};

// Fetched copies go below the test's machine root; no proxy; short timeouts.
inline CPRegistry Settings(platform::DWORD timeoutSeconds = 5) {
  upstream_testing::UseTestTemporaryDirectory();
  CPRegistry settings;
  settings.DeleteProxyHost();
  settings.DeleteProxyPort();
  settings.DeleteNoProxyList();
  settings.SetRecvTimeout(timeoutSeconds);
  settings.SetConnectTimeout(timeoutSeconds);
  return settings;
}

// The house-file reports about `path`.
inline std::vector<platform::EventRecord> FileErrorsAbout(const std::string& path) {
  std::vector<platform::EventRecord> found;
  for (platform::EventRecord& record : platform::ReadEventRecords()) {
    if (record.id == events::kHouseFileRefused.id && !record.strings.empty() && record.strings[0] == path) {
      found.push_back(std::move(record));
    }
  }
  return found;
}

}  // namespace house_testing
