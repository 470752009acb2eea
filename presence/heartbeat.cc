#include "presence/heartbeat.h"

#include "base/trace_bits.h"
#include "platform/socket.h"
#include "platform/system.h"
#include "platform/trace.h"
#include "presence/presence_packets.h"

namespace presence {

std::uint32_t BroadcastAddress(CPRegistry& settings) {
  std::uint32_t address = 0;
  if (!platform::ParseDottedAddress(settings.GetBroadcastAddress(), &address)) {
    platform::ParseDottedAddress(settings.GetDefaultBroadcastAddress(), &address);
  }
  return address;
}

std::uint32_t HostAddress() {
  const std::string name = platform::GetHostName();
  if (name.empty()) return 0;
  const std::vector<std::uint32_t> addresses = platform::ResolveHost(name);
  return addresses.empty() ? 0 : addresses.front();
}

}  // namespace presence

CHeartBeat::CHeartBeat(const CPRegistry& settings) : m_Settings(settings) {}

CHeartBeat::~CHeartBeat() { Stop(); }

int CHeartBeat::Start(std::uint16_t destinationPort, std::size_t portCount, const std::uint16_t* ports,
                      platform::DWORD periodMs) {
  if (m_Thread.Started() || ports == nullptr || portCount == 0 ||
      portCount >= presence::kMaxHeartBeatPorts) {
    return -1;
  }
  m_DestinationPort = destinationPort;
  m_Ports.assign(ports, ports + portCount);
  m_Period = periodMs;
  return m_Thread.Start([this] { return Run(); }) ? 0 : -1;
}

void CHeartBeat::Stop() {
  if (!m_Thread.Started()) return;
  if (!m_Thread.Stop(kStopWaitMs)) {
    trace(trace_bits::kHttp, "HeartBeat: Timed Out!! trying to kill HeartBeat Thread\n");
  }
  Send(presence::kHeartBeatStopping);
  m_Ports.clear();
}

platform::DWORD CHeartBeat::Run() {
  trace(trace_bits::kHttp, "HeartBeat: Starting.\n");
  for (;;) {
    const bool due = m_Thread.WaitPeriod(m_Period);
    const platform::DWORD port = m_Settings.GetHeartBeatPort();
    if (!due) break;
    // A port beyond 16 bits names no port.
    m_DestinationPort = port <= 0xFFFF ? static_cast<std::uint16_t>(port) : 0;
    if (m_DestinationPort == 0) {
      trace(trace_bits::kHttp, "HeartBeat: Arrested.\n");
    } else {
      Send(presence::kHeartBeatBeat);
      trace(trace_bits::kHttp, "HeartBeat: Beating.\n");
    }
  }
  trace(trace_bits::kHttp, "HeartBeat: Stopping.\n");
  return 0;
}

bool CHeartBeat::Send(std::uint16_t kind) {
  if (m_Ports.empty() || m_DestinationPort == 0) return false;
  const std::uint32_t host = presence::HostAddress();
  if (host == 0) return false;
  const std::vector<unsigned char> datagram = presence::BuildHeartBeat(kind, host, m_Ports);
  platform::SOCKET s = platform::UdpSocket();
  if (s == platform::kInvalidSocket) return false;
  platform::SetDontLinger(s, true);
  platform::SetBroadcast(s, true);
  const int sent = platform::SendTo(s, datagram.data(), datagram.size(),
                                    {presence::BroadcastAddress(m_Settings), m_DestinationPort});
  platform::CloseSocket(s);
  return sent == static_cast<int>(datagram.size());
}
