#include "presence/presence_packets.h"

#include <cstring>

namespace presence {

namespace {

constexpr char kMagic[4] = {'Z', 'D', 'R', 'L'};
constexpr std::size_t kNameField = 16;

void Put16(unsigned char* at, std::uint16_t value) {
  at[0] = static_cast<unsigned char>(value);
  at[1] = static_cast<unsigned char>(value >> 8);
}

void Put32(unsigned char* at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<unsigned char>(value >> (8 * i));
}

std::uint32_t Get32(const unsigned char* at) {
  return static_cast<std::uint32_t>(at[0]) | (static_cast<std::uint32_t>(at[1]) << 8) |
         (static_cast<std::uint32_t>(at[2]) << 16) | (static_cast<std::uint32_t>(at[3]) << 24);
}

void PutName(unsigned char* at, const std::string& name) {
  std::memcpy(at, name.data(), std::min(name.size(), kNameField - 1));
}

// A name field: up to its first NUL, at most the whole field.
std::string GetName(const unsigned char* at) {
  std::size_t length = 0;
  while (length < kNameField && at[length] != 0) ++length;
  return std::string(reinterpret_cast<const char*>(at), length);
}

}  // namespace

std::vector<unsigned char> BuildHeartBeat(std::uint16_t kind, std::uint32_t hostAddress,
                                          const std::vector<std::uint16_t>& ports) {
  std::vector<unsigned char> out(kHeartBeatHeaderSize + 2 * ports.size());
  out[0] = static_cast<unsigned char>(((hostAddress >> 8) & 0xFF) | (hostAddress & 0xFF));
  out[1] = 0;
  Put16(&out[2], 1);
  Put16(&out[4], 0);
  Put16(&out[6], ports.empty() ? 0 : ports[0]);
  Put16(&out[8], kind);
  // Network order: the first byte is the first of the dotted form.
  out[10] = static_cast<unsigned char>(hostAddress >> 24);
  out[11] = static_cast<unsigned char>(hostAddress >> 16);
  out[12] = static_cast<unsigned char>(hostAddress >> 8);
  out[13] = static_cast<unsigned char>(hostAddress);
  Put16(&out[14], static_cast<std::uint16_t>(ports.size()));
  for (std::size_t i = 0; i < ports.size(); ++i) Put16(&out[kHeartBeatHeaderSize + 2 * i], ports[i]);
  return out;
}

std::array<unsigned char, kBeaconHeaderSize> BuildBeaconHeader(std::int32_t peerField, std::int32_t code,
                                                               const std::string& computerName,
                                                               const std::string& registrationId,
                                                               std::uint32_t dataLength) {
  std::array<unsigned char, kBeaconHeaderSize> out{};
  std::memcpy(out.data(), kMagic, sizeof kMagic);
  Put32(&out[4], static_cast<std::uint32_t>(peerField));
  Put32(&out[8], static_cast<std::uint32_t>(code));
  PutName(&out[12], computerName);
  PutName(&out[28], registrationId);
  Put32(&out[44], dataLength);
  return out;
}

BeaconRequest ParseBeacon(const unsigned char* data, std::size_t length) {
  BeaconRequest request;
  if (data == nullptr || length < 8 || std::memcmp(data, kMagic, sizeof kMagic) != 0) return request;
  const auto peer = static_cast<std::int32_t>(Get32(data + 4));
  if (peer != kRelayPacket && peer != -kRelayPacket) {
    request.kind = BeaconRequest::eKind::eClient;
    return request;
  }
  if (length < 12) return request;
  request.command = static_cast<std::int32_t>(Get32(data + 8));
  if (request.command == kCommandMove) {
    if (length < 16) return request;
    request.port = Get32(data + 12);
  }
  request.kind = BeaconRequest::eKind::eRelay;
  return request;
}

std::optional<BeaconReply> ParseBeaconReply(const unsigned char* data, std::size_t length) {
  if (data == nullptr || length < kBeaconHeaderSize || std::memcmp(data, kMagic, sizeof kMagic) != 0) {
    return std::nullopt;
  }
  const std::uint32_t dataLength = Get32(data + 44);
  if (dataLength > length - kBeaconHeaderSize) return std::nullopt;
  BeaconReply reply;
  reply.code = static_cast<std::int32_t>(Get32(data + 8));
  reply.computerName = GetName(data + 12);
  reply.registrationId = GetName(data + 28);
  reply.data.assign(data + kBeaconHeaderSize, data + kBeaconHeaderSize + dataLength);
  return reply;
}

}  // namespace presence
