// The Java administration protocol's command stream: any bytes a client
// sends are read without harm, with no data objects behind the commands
// (each fails with its status) and replies discarded.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "channels/java_protocol.h"
#include "fuzz/fuzz_machine_root.h"

namespace {

class MemoryStream : public CJavaStream {
 public:
  MemoryStream(const std::uint8_t* data, std::size_t size) : m_Data(data), m_Size(size) {}
  bool Receive(void* buffer, std::size_t length) override {
    if (m_Size - m_Position < length) return false;
    std::memcpy(buffer, m_Data + m_Position, length);
    m_Position += length;
    return true;
  }
  bool Send(const void*, std::size_t) override { return true; }

 private:
  const std::uint8_t* m_Data;
  std::size_t m_Size;
  std::size_t m_Position = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  UseTemporaryMachineRoot();
  // 0x108 would ask another relay, and 0x10E write the registry: the
  // framing around them is what is fuzzed here.
  for (std::size_t at = 0; at + 4 <= size; at += 4) {
    if (data[at] == 0 && data[at + 1] == 0 && data[at + 2] == 1 && (data[at + 3] == 0x08 || data[at + 3] == 0x0E)) {
      return 0;
    }
  }
  static CJavaProtocol protocol(CPRegistry(), nullptr, nullptr, nullptr);
  MemoryStream stream(data, size);
  protocol.Serve(stream);
  return 0;
}
