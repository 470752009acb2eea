#include "service/nt_service.h"

#include <gtest/gtest.h>

#include "regwrap/qr_registry.h"

namespace {

class ProbeService : public CNTService {
 public:
  ProbeService() : CNTService("Probe", "Probe Service") {}
};

std::string StatusValue() {
  QRRegistry key(QRRegistry(platform::HKEY_LOCAL_MACHINE), "SYSTEM\\CurrentControlSet\\Services\\Probe");
  BYTE* data = nullptr;
  DWORD size = 0, type = 0;
  if (!key.QueryValue("ServiceStatus", nullptr, &size, &type, &data)) return "(absent)";
  std::string value(reinterpret_cast<char*>(data), size);
  delete[] data;
  while (!value.empty() && value.back() == '\0') value.pop_back();
  return value;
}

TEST(ServiceStatus, CheckpointsCountUpWithinAStateAndTheValueMirrorsThem) {
  QRRegistry services(QRRegistry(platform::HKEY_LOCAL_MACHINE), "SYSTEM\\CurrentControlSet\\Services");
  ASSERT_TRUE(services.SetValue("Probe\\Type", DWORD{16}, platform::REG_DWORD));
  ProbeService service;
  service.SetStatus(platform::SERVICE_START_PENDING, 1, 5000, "Creating Termination Event");
  service.SetStatus(platform::SERVICE_START_PENDING, 0, 0, "next");
  service.SetStatus(platform::SERVICE_START_PENDING, 0, 0, nullptr);
  platform::SERVICE_STATUS status = service.Status();
  EXPECT_EQ(status.dwCheckPoint, 3u);
  EXPECT_EQ(status.dwWaitHint, 5000u);
  EXPECT_EQ(status.dwControlsAccepted, 0u);  // nothing is accepted while starting
  EXPECT_EQ(StatusValue(), std::string("\x02\x04", 2));

  // A new state starts from the checkpoint given, and accepts controls again.
  service.SetStatus(platform::SERVICE_RUNNING, 0, 0, "Running");
  status = service.Status();
  EXPECT_EQ(status.dwCheckPoint, 0u);
  EXPECT_EQ(status.dwWaitHint, 0u);
  EXPECT_EQ(status.dwControlsAccepted, platform::SERVICE_ACCEPT_STOP);
  EXPECT_EQ(StatusValue(), std::string("\x04\x01Running", 9));

  // (checkpoint + 1) mod 256 wraps without truncating the text.
  service.SetStatus(platform::SERVICE_STOP_PENDING, 255, 1000, "wrap");
  EXPECT_EQ(StatusValue(), std::string("\x03\x00wrap", 6));

  service.SetStatus(platform::SERVICE_STOPPED, 0, 0, nullptr);
  EXPECT_EQ(StatusValue(), "(absent)");
}

}  // namespace
