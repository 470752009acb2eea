#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/eventually_testing.h"
#include "config/cp_registry.h"
#include "perf/perf_sampler.h"
#include "platform/socket.h"
#include "platform/system.h"
#include "platform/testing.h"
#include "platform/trace.h"
#include "poolmgr/pool_manager.h"
#include "poolmgr/pool_thread.h"
#include "presence/beacon_reader.h"
#include "presence/heartbeat.h"
#include "presence/presence_packets.h"
#include "presence/presence_testing.h"
#include "presence/relay_discovery.h"

namespace {

using poolmgr_testing::Eventually;
using presence::BeaconRequest;
using namespace presence_testing;

class Presence : public testing::Test {
 protected:
  void SetUp() override {
    base_ = testing_support::MakeTempDir("trace") + "/trace";
    testing_support::SetTraceFilenameSetting(base_.c_str());
    ModuleTraceLog().Reload();
    settings_.SetRegistrationID("REG-1234567890ABCDEF");
  }
  std::string TraceText() {
    ModuleTraceLog().Flush();
    return testing_support::ReadFile(base_ + ".zondrel");
  }
  static int Count(const std::string& text, const std::string& what) {
    int count = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++count;
    return count;
  }
  std::string base_;
  CPRegistry settings_;
};

TEST(PresencePackets, RepliesAreReadOnlyAsFarAsTheirLengthGoes) {
  const auto header = presence::BuildBeaconHeader(101, 1025, "a-computer-name-too-long", "REG-1", 3);
  std::vector<unsigned char> packet(header.begin(), header.end());
  // The stated data is not all there.
  EXPECT_FALSE(presence::ParseBeaconReply(packet.data(), packet.size()));
  packet.insert(packet.end(), {7, 8, 9, 10});
  const std::optional<presence::BeaconReply> reply = presence::ParseBeaconReply(packet.data(), packet.size());
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->code, 1025);
  EXPECT_EQ(reply->computerName, "a-computer-name");
  EXPECT_EQ(reply->registrationId, "REG-1");
  EXPECT_EQ(reply->data, (std::vector<unsigned char>{7, 8, 9}));
  EXPECT_FALSE(presence::ParseBeaconReply(packet.data(), 47));
  packet[0] = 'X';
  EXPECT_FALSE(presence::ParseBeaconReply(packet.data(), packet.size()));

  // A peer's snapshot: the float word is read as a count, nonsense as 0.
  perf::Counters words{};
  for (std::size_t i = 1; i < perf::kCounterCount; ++i) words[i] = static_cast<std::uint32_t>(i * 11);
  EXPECT_EQ(perf::ParseSnapshot(perf::MakeSnapshot(words)), words);
  auto snapshot = perf::MakeSnapshot(words);
  for (int i = 0; i < 4; ++i) snapshot[(perf::eJobsPerThread - 1) * 4 + i] = 0xFF;  // a NaN
  EXPECT_EQ(perf::ParseSnapshot(snapshot)[perf::eJobsPerThread], 0u);
}

TEST(PresencePackets, HeartBeatAndBeaconBytes) {
  const auto beat = presence::BuildHeartBeat(presence::kHeartBeatBeat, 0x0A01020C, {8080, 8081});
  ASSERT_EQ(beat.size(), 20u);
  EXPECT_EQ(beat[0], 0x02 | 0x0C);
  EXPECT_EQ(beat[1], 0);
  EXPECT_EQ(Half(beat, 2), 1);
  EXPECT_EQ(Half(beat, 4), 0);
  EXPECT_EQ(Half(beat, 6), 8080);
  EXPECT_EQ(Half(beat, 8), 2);
  EXPECT_EQ((std::vector<unsigned char>(beat.begin() + 10, beat.begin() + 14)),
            (std::vector<unsigned char>{10, 1, 2, 12}));
  EXPECT_EQ(Half(beat, 14), 2);
  EXPECT_EQ(Half(beat, 16), 8080);
  EXPECT_EQ(Half(beat, 18), 8081);

  const auto header = presence::BuildBeaconHeader(101, 1025, "A-VERY-LONG-COMPUTER-NAME", "ID", 48);
  const std::vector<unsigned char> bytes(header.begin(), header.end());
  EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 4), "ZDRL");
  EXPECT_EQ(Word(bytes, 4), 101u);
  EXPECT_EQ(Word(bytes, 8), 1025u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&bytes[12])), "A-VERY-LONG-COM");
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&bytes[28])), "ID");
  EXPECT_EQ(Word(bytes, 44), 48u);

  auto parse = [](std::vector<unsigned char> data) { return presence::ParseBeacon(data.data(), data.size()); };
  const std::vector<unsigned char> magic{'Z', 'D', 'R', 'L'};
  EXPECT_EQ(parse(magic).kind, BeaconRequest::eKind::eIgnore);
  auto partial = magic;
  partial.insert(partial.end(), {1, 2, 3});
  EXPECT_EQ(parse(partial).kind, BeaconRequest::eKind::eIgnore);
  auto client = magic;
  client.insert(client.end(), {1, 2, 3, 4});
  EXPECT_EQ(parse(client).kind, BeaconRequest::eKind::eClient);
  EXPECT_EQ(parse({'Z', 'D', 'R', 'X', 1, 2, 3, 4}).kind, BeaconRequest::eKind::eIgnore);
  auto relay = Relay(presence::kCommandPing, -101);
  EXPECT_EQ(parse(relay).kind, BeaconRequest::eKind::eRelay);
  EXPECT_EQ(parse(std::vector<unsigned char>(relay.begin(), relay.begin() + 11)).kind, BeaconRequest::eKind::eIgnore);
  auto move = Relay(presence::kCommandMove, 101, 4000);
  EXPECT_EQ(parse(move).port, 4000u);
  EXPECT_EQ(parse(std::vector<unsigned char>(move.begin(), move.begin() + 15)).kind, BeaconRequest::eKind::eIgnore);
}

TEST_F(Presence, HeartBeatBeatsPausesAndSaysItStops) {
  Receiver listener;
  settings_.SetHeartBeatPort(listener.port);
  std::vector<std::uint16_t> ports(32);
  for (std::size_t i = 0; i < ports.size(); ++i) ports[i] = static_cast<std::uint16_t>(9000 + i);
  CHeartBeat refused(settings_);
  EXPECT_EQ(refused.Start(listener.port, 32, ports.data(), 50), -1);
  EXPECT_EQ(refused.Start(listener.port, 0, ports.data(), 50), -1);
  EXPECT_EQ(refused.Start(listener.port, 1, nullptr, 50), -1);

  CHeartBeat heart(settings_);
  ASSERT_EQ(heart.Start(listener.port, 31, ports.data(), 50), 0);
  EXPECT_EQ(heart.Start(listener.port, 31, ports.data(), 50), -1);
  const auto beat = listener.Next();
  ASSERT_EQ(beat.size(), 16u + 62u) << "no heartbeat arrived on 127.255.255.255";
  EXPECT_EQ(Half(beat, 8), presence::kHeartBeatBeat);
  EXPECT_EQ(Half(beat, 14), 31);
  EXPECT_EQ(Half(beat, 6), 9000);
  EXPECT_EQ(Half(beat, 16 + 60), 9030);

  // Port 0 at run time arrests the beats, once per period.
  settings_.SetHeartBeatPort(0);
  ASSERT_TRUE(Eventually([&] { return Count(TraceText(), "HeartBeat: Arrested.\n") >= 3; }));
  while (!listener.Next(200).empty()) {
  }
  EXPECT_TRUE(listener.Next(300).empty());
  settings_.SetHeartBeatPort(listener.port);
  ASSERT_FALSE(listener.Next().empty());

  heart.Stop();
  EXPECT_FALSE(heart.Running());
  // The last datagram is the one saying it stops, after the thread has ended.
  std::vector<unsigned char> last, next;
  while (!(next = listener.Next(500)).empty()) last = next;
  ASSERT_EQ(last.size(), 78u);
  EXPECT_EQ(Half(last, 8), presence::kHeartBeatStopping);
  const std::string text = TraceText();
  EXPECT_NE(text.find("HeartBeat: Starting.\n"), std::string::npos);
  EXPECT_NE(text.find("HeartBeat: Beating.\n"), std::string::npos);
  EXPECT_NE(text.find("HeartBeat: Stopping.\n"), std::string::npos);
}

class OneJobThread : public QRPoolThread {};
class OneJobFactory : public QRPoolThreadFactory {
 public:
  QRPoolThread* CreatePoolThread() override { return new OneJobThread(); }
};

// A sampler of a pool of two threads that has counted `accepted`
// connections.
struct SampledPool {
  explicit SampledPool(int accepted) {
    EXPECT_EQ(pool.OpenPool(2, 0), 0);
    EXPECT_EQ(sampler.Start(&pool, 10000), 0);
    for (int i = 0; i < accepted; ++i) sampler.CountAccepted();
    sampler.Sample();
  }
  ~SampledPool() {
    sampler.Stop();
    pool.ClosePoolEasy();
  }
  OneJobFactory factory;
  QRPoolManager pool{&factory, 180000, 600000, 5};
  CPerfSampler sampler;
};

TEST_F(Presence, BeaconReaderAnswersClientsAndRelays) {
  PortPair ports;
  ASSERT_NE(ports.readerPort, 0);
  SampledPool sampled(3);
  CPerfSampler& sampler = sampled.sampler;

  CServerBeaconReader reader(settings_, &sampler);
  ASSERT_EQ(reader.Start(ports.readerPort), 0);
  EXPECT_EQ(reader.Start(ports.readerPort), -1);
  // The wake-up, on the port below.
  const auto wakeUp = ports.below->Next();
  ASSERT_EQ(wakeUp.size(), 48u);
  EXPECT_EQ(Word(wakeUp, 8), 1027u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&wakeUp[28])), "REG-1234567890A");
  ASSERT_TRUE(Eventually([&] { return TraceText().find("UDP: BeaconReader issued  eZondrelWakeUp \n") != std::string::npos; }));

  Receiver peer;
  peer.SendTo(ports.readerPort, {'Z', 'D', 'R', 'L'});
  EXPECT_TRUE(peer.Next(300).empty());
  peer.SendTo(ports.readerPort, {'Z', 'D', 'R', 'L', 7, 0, 0, 0});
  auto answer = peer.Next();
  ASSERT_EQ(answer.size(), 48u);
  EXPECT_EQ(Word(answer, 4), 101u);
  EXPECT_EQ(Word(answer, 8), 1024u);
  EXPECT_EQ(Word(answer, 44), 0u);

  peer.SendTo(ports.readerPort, Relay(presence::kCommandStatus));
  answer = peer.Next();
  ASSERT_EQ(answer.size(), 96u);
  EXPECT_EQ(Word(answer, 8), 1025u);
  EXPECT_EQ(Word(answer, 44), 48u);
  EXPECT_EQ(Word(answer, 48 + 44), 3u);  // accepted connections, the total

  peer.SendTo(ports.readerPort, Relay(presence::kCommandPing, -101));
  answer = peer.Next();
  ASSERT_EQ(answer.size(), 48u);
  EXPECT_EQ(Word(answer, 8), 1026u);
  peer.SendTo(ports.readerPort, Relay(4));
  EXPECT_TRUE(peer.Next(300).empty());

  // Moving to its own port changes nothing.
  peer.SendTo(ports.readerPort, Relay(presence::kCommandMove, 101, ports.readerPort));
  peer.SendTo(ports.readerPort, Relay(presence::kCommandPing));
  ASSERT_EQ(peer.Next().size(), 48u);
  EXPECT_EQ(reader.ListenPort(), ports.readerPort);

  // Moving elsewhere: the old port is silent, the new one answers, and Stop
  // wakes the reader there.
  Receiver spare;
  const std::uint16_t newPort = spare.port;
  platform::CloseSocket(spare.s);
  spare.s = platform::kInvalidSocket;
  peer.SendTo(ports.readerPort, Relay(presence::kCommandMove, 101, newPort));
  ASSERT_TRUE(Eventually([&] { return reader.ListenPort() == newPort; }));
  peer.SendTo(newPort, Relay(presence::kCommandPing));
  ASSERT_EQ(peer.Next().size(), 48u);
  reader.Stop();
  EXPECT_FALSE(reader.Running());
  EXPECT_EQ(TraceText().find("Timed Out!!"), std::string::npos);
}

TEST_F(Presence, ARelayIsFoundByABroadcastAndAskedForItsCounters) {
  PortPair ports;
  ASSERT_NE(ports.readerPort, 0);
  SampledPool sampled(4);
  CServerBeaconReader reader(settings_, &sampled.sampler);
  ASSERT_EQ(reader.Start(ports.readerPort), 0);

  // The loopback network's broadcast address reaches the reader.
  const std::vector<presence::FoundRelay> found = presence::DiscoverRelays({0x7FFFFFFF, ports.readerPort}, 1500);
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].reader.port, ports.readerPort);
  EXPECT_EQ(found[0].registrationId, "REG-1234567890A");
  EXPECT_EQ(found[0].computerName, platform::GetHostName().substr(0, 15));

  // A port without a reader leaves its place empty.
  Receiver silent;
  const auto statuses = presence::QueryRelayStatus({{kLoopback, silent.port}, {kLoopback, ports.readerPort}}, 2000);
  ASSERT_EQ(statuses.size(), 2u);
  EXPECT_FALSE(statuses[0]);
  ASSERT_TRUE(statuses[1]);
  EXPECT_EQ((*statuses[1])[perf::eAcceptedTotal], 4u);
  EXPECT_EQ((*statuses[1])[perf::ePoolSlots], 2u);
  EXPECT_TRUE(presence::DiscoverRelays({kLoopback, silent.port}, 300).empty());
  reader.Stop();
}

TEST(PresenceCommands, StopAndMoveAreObeyedOnlyFromThisMachine) {
  EXPECT_TRUE(CBeaconReader::IsOwnAddress(kLoopback));
  EXPECT_TRUE(CBeaconReader::IsOwnAddress(0x7F000002));
  for (std::uint32_t own : platform::ResolveHost(platform::GetHostName())) EXPECT_TRUE(CBeaconReader::IsOwnAddress(own));
  // An address of another network (only compared, never sent to).
  EXPECT_FALSE(CBeaconReader::IsOwnAddress(0xC6336401));  // 198.51.100.1
}

TEST_F(Presence, PlainReaderAnswersOnlyClientsAndStopsOnCommand) {
  PortPair ports;
  ASSERT_NE(ports.readerPort, 0);
  CBeaconReader reader(settings_);
  ASSERT_EQ(reader.Start(ports.readerPort), 0);
  ASSERT_EQ(ports.below->Next().size(), 48u);
  Receiver peer;
  peer.SendTo(ports.readerPort, Relay(presence::kCommandStatus));
  peer.SendTo(ports.readerPort, Relay(presence::kCommandPing));
  EXPECT_TRUE(peer.Next(300).empty());
  // A stop from this host ends the reader's thread.
  peer.SendTo(ports.readerPort, Relay(presence::kCommandStop));
  ASSERT_TRUE(Eventually([&] { return !reader.Running(); }));
  reader.Stop();
}

}  // namespace
