// The datagrams of the relay's UDP presence, byte for byte: the heartbeat
// that names this host and its listener ports, and the beacon packets
// ("ZDRL") by which clients find the relay and other relays ask after it.
// Multi-byte fields are little-endian except the heartbeat's address.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace presence {

// Heartbeat kinds.
inline constexpr std::uint16_t kHeartBeatBeat = 2;
inline constexpr std::uint16_t kHeartBeatStopping = 3;
inline constexpr std::size_t kHeartBeatHeaderSize = 16;
// A heartbeat announces fewer ports than this.
inline constexpr std::size_t kMaxHeartBeatPorts = 32;

inline constexpr std::size_t kBeaconHeaderSize = 48;
// The largest datagram a reader takes in, and the largest reply data.
inline constexpr std::size_t kBeaconBufferSize = 200;
inline constexpr std::size_t kMaxReplyData = kBeaconBufferSize - 1;
// Field at offset 4 of packets between relays (the negative also counts).
inline constexpr std::int32_t kRelayPacket = 101;
// Codes of replies and announcements.
inline constexpr std::int32_t kAnswerClient = 1024;
inline constexpr std::int32_t kAnswerStatus = 1025;
inline constexpr std::int32_t kAnswerPing = 1026;
inline constexpr std::int32_t kWakeUp = 1027;
// Commands in relay packets.
inline constexpr std::int32_t kCommandStatus = 1;
inline constexpr std::int32_t kCommandStop = 2;
inline constexpr std::int32_t kCommandPing = 3;
inline constexpr std::int32_t kCommandMove = 5;

// `hostAddress` in host byte order (127.0.0.1 = 0x7F000001).
std::vector<unsigned char> BuildHeartBeat(std::uint16_t kind, std::uint32_t hostAddress,
                                          const std::vector<std::uint16_t>& ports);

// The 48-byte header: magic, `peerField`, code, the computer name and the
// registration id (each at most 15 characters and a NUL), the data length.
std::array<unsigned char, kBeaconHeaderSize> BuildBeaconHeader(std::int32_t peerField, std::int32_t code,
                                                               const std::string& computerName,
                                                               const std::string& registrationId,
                                                               std::uint32_t dataLength);

// What a received datagram asks for. A datagram is read only as far as its
// length covers a field.
struct BeaconRequest {
  enum class eKind { eIgnore, eClient, eRelay } kind = eKind::eIgnore;
  std::int32_t command = 0;  // eRelay
  std::uint32_t port = 0;    // eRelay, command kCommandMove
};
BeaconRequest ParseBeacon(const unsigned char* data, std::size_t length);

// A reader's reply: its code, the sender's names and the data that follows
// the header. Nothing when the datagram is no "ZDRL" packet or is shorter
// than its header and the data length it states.
struct BeaconReply {
  std::int32_t code = 0;
  std::string computerName;
  std::string registrationId;
  std::vector<unsigned char> data;
};
std::optional<BeaconReply> ParseBeaconReply(const unsigned char* data, std::size_t length);

}  // namespace presence
