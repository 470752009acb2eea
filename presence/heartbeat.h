// CHeartBeat: broadcasts, every period, a datagram that names this host and
// its listener ports to HeartBeatPort, and one "stopping" datagram when it
// ends. HeartBeatPort is read again before every beat: 0 pauses the beats
// without a restart. Start and Stop belong to the owner's thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "base/periodic_thread.h"
#include "config/cp_registry.h"
#include "platform/sync.h"
#include "platform/types.h"

class CHeartBeat {
 public:
  static constexpr platform::DWORD kStopWaitMs = 5000;

  explicit CHeartBeat(const CPRegistry& settings);
  ~CHeartBeat();
  CHeartBeat(const CHeartBeat&) = delete;
  CHeartBeat& operator=(const CHeartBeat&) = delete;

  // -1 while running, without ports, or with 32 ports or more; else 0 and
  // the beats begin after one period.
  int Start(std::uint16_t destinationPort, std::size_t portCount, const std::uint16_t* ports,
            platform::DWORD periodMs);
  // Ends the thread, then sends the one stopping datagram.
  void Stop();
  bool Running() const { return m_Thread.Running(); }

 private:
  platform::DWORD Run();
  // True when every byte went out.
  bool Send(std::uint16_t kind);

  CPRegistry m_Settings;
  CPeriodicThread m_Thread;
  platform::DWORD m_Period = 0;
  std::vector<std::uint16_t> m_Ports;
  // Written by the thread; read by Stop once the thread has ended.
  std::uint16_t m_DestinationPort = 0;
};

namespace presence {
// The address broadcasts go to: BroadcastAddress, or its default when the
// setting is not a dotted address.
std::uint32_t BroadcastAddress(CPRegistry& settings);
// The host's first IPv4 address (host order), 0 when its name has none.
std::uint32_t HostAddress();
}  // namespace presence
