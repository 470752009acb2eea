// Fuzzes what the relay reads from UDP datagrams and collection requests:
// the beacon packet reader, the reply reader and the request classes of the
// performance library. A packet is read only as far as its length covers a field.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "perfctr/perf_data.h"
#include "presence/presence_packets.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // An exact copy, so that the sanitizer sees any read past the length.
  std::vector<unsigned char> packet(data, data + size);
  const presence::BeaconRequest request = presence::ParseBeacon(packet.data(), packet.size());
  using Kind = presence::BeaconRequest::eKind;
  if (request.kind != Kind::eIgnore && (size < 8 || std::memcmp(data, "ZDRL", 4) != 0)) std::abort();
  if (request.kind == Kind::eRelay && size < 12) std::abort();
  if (request.kind == Kind::eRelay && request.command == presence::kCommandMove && size < 16) std::abort();

  // A reply's data lies within the datagram, after the header.
  if (const auto reply = presence::ParseBeaconReply(packet.data(), packet.size())) {
    if (size < presence::kBeaconHeaderSize || reply->data.size() > size - presence::kBeaconHeaderSize) std::abort();
    if (reply->computerName.size() > 16 || reply->registrationId.size() > 16) std::abort();
  }

  const std::string text(reinterpret_cast<const char*>(data), size);
  const char* valueName = text.c_str();
  if (perfctr::ClassifyRequest(valueName) == perfctr::eRequest::eList) {
    const std::uint32_t index = size >= 4 ? static_cast<std::uint32_t>(data[0]) | (data[1] << 8) : 0;
    const bool named = perfctr::ListNames(std::string_view(valueName), index);
    // A list that names the index names it again with blanks around it.
    if (named && !perfctr::ListNames(" " + std::string(valueName) + " ", index)) std::abort();
  }
  return 0;
}
