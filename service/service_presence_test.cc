// The performance sampler, beacon reader and heartbeat as the service
// controller builds and takes them down.
#include <gtest/gtest.h>

#include "config/cp_registry.h"
#include "perf/perf_block.h"
#include "perf/perf_sampler.h"
#include "platform/socket.h"
#include "platform/testing.h"
#include "presence/beacon_reader.h"
#include "presence/heartbeat.h"
#include "presence/presence_testing.h"
#include "service/service_controller.h"
#include "upstream/peer_process_testing.h"
#include "upstream/scripted_server_testing.h"

namespace {

using namespace presence_testing;

TEST(ServicePresence, SamplingIntervalIsCappedAtTenSeconds) {
  EXPECT_EQ(ServiceController::SamplingInterval(60000), 10000u);
  EXPECT_EQ(ServiceController::SamplingInterval(10000), 10000u);
  EXPECT_EQ(ServiceController::SamplingInterval(5000), 5000u);
}

TEST(ServicePresence, StepsNineToTwelveAndTheirStopSteps) {
  PortPair beacon;
  ASSERT_NE(beacon.readerPort, 0);
  Receiver heartbeats;
  const unsigned short listenPort = static_cast<unsigned short>(upstream_testing::FreeLoopbackPort());
  CPRegistry settings;
  settings.SetHomeDirectory((testing_support::MakeTempDir("home") + "/").c_str());
  settings.SetWebPort(0);
  settings.SetJavaPort(0);
  settings.SetServerLISTENIPPort(1, ("127.0.0.1," + std::to_string(listenPort)).c_str());
  settings.SetUDPBeaconPort(beacon.readerPort - 1u);
  settings.SetHeartBeatPort(heartbeats.port);
  settings.SetHeartBeatFrequency(50);
  settings.SetPerformanceMonSamplingInterval(100);

  ServiceController controller;
  ASSERT_EQ(controller.Start(nullptr), 0u);
  ASSERT_NE(controller.Sampler(), nullptr);
  ASSERT_NE(controller.BeaconReader(), nullptr);
  ASSERT_NE(controller.HeartBeat(), nullptr);
  EXPECT_EQ(controller.BeaconReader()->ListenPort(), beacon.readerPort);
  ASSERT_EQ(beacon.below->Next().size(), 48u);  // the wake-up

  // The heartbeat names the listener's port.
  const auto beat = heartbeats.Next();
  ASSERT_GE(beat.size(), 18u);
  EXPECT_EQ(Half(beat, 8), 2);
  EXPECT_EQ(Half(beat, 14), 1);
  EXPECT_EQ(Half(beat, 16), listenPort);

  // The listeners count into the block.
  upstream_testing::ExchangeWith(0, 0x7F000001, listenPort, "GET /KIBO-1/900-1 HTTP/1.0\r\n\r\n");
  perf::Counters words{};
  ASSERT_TRUE(perf::ReadBlock(words));
  EXPECT_EQ(words[perf::eAcceptedTotal], 1u);
  EXPECT_EQ(words[perf::eAcceptedRate], 1u);

  // A status query gets the snapshot.
  Receiver peer;
  peer.SendTo(beacon.readerPort, Relay(presence::kCommandStatus));
  const auto status = peer.Next();
  ASSERT_EQ(status.size(), 96u);
  EXPECT_EQ(Word(status, 8), 1025u);
  EXPECT_EQ(Word(status, 48 + 44), 1u);

  ASSERT_EQ(controller.Stop(), 0u);
  EXPECT_EQ(controller.Sampler(), nullptr);
  EXPECT_EQ(controller.BeaconReader(), nullptr);
  EXPECT_EQ(controller.HeartBeat(), nullptr);
  EXPECT_FALSE(perf::ReadBlock(words));
  std::vector<unsigned char> last, next;
  while (!(next = heartbeats.Next(300)).empty()) last = next;
  ASSERT_GE(last.size(), 18u);
  EXPECT_EQ(Half(last, 8), 3);
}

TEST(ServicePresence, WithoutFrequencyOrBeaconPortStartUpGoesOn) {
  CPRegistry settings;
  settings.SetHomeDirectory((testing_support::MakeTempDir("home") + "/").c_str());
  settings.SetWebPort(0);
  settings.SetJavaPort(0);
  settings.SetServerLISTENIPPort(1, ("127.0.0.1," + std::to_string(upstream_testing::FreeLoopbackPort())).c_str());
  settings.SetUDPBeaconPort(0);
  settings.SetHeartBeatPort(4000);
  settings.DeleteHeartBeatFrequency();
  ServiceController controller;
  ASSERT_EQ(controller.Start(nullptr), 0u);
  EXPECT_NE(controller.Sampler(), nullptr);
  EXPECT_EQ(controller.BeaconReader(), nullptr);
  EXPECT_EQ(controller.HeartBeat(), nullptr);
  EXPECT_EQ(controller.Stop(), 0u);
}

}  // namespace
