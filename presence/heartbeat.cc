#include "presence/heartbeat.h"

#include "base/trace_bits.h"
#include "platform/socket.h"
#include "platform/system.h"
#include "platform/trace.h"
#include "presence/presence_packets.h"

namespace {

constexpr std::size_t kThreadStack = 2048;

}  // namespace

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
  if (m_bRunning || m_hThread || ports == nullptr || portCount == 0 ||
      portCount >= presence::kMaxHeartBeatPorts) {
    return -1;
  }
  m_DestinationPort = destinationPort;
  m_Ports.assign(ports, ports + portCount);
  m_Period = periodMs;
  m_hStop = platform::Event::Create(true, false);
  if (!m_hStop) return -1;
  m_bRunning = true;
  m_hThread = platform::Thread::Start([this] { return Run(); }, kThreadStack);
  if (!m_hThread) {
    m_bRunning = false;
    return -1;
  }
  return 0;
}

void CHeartBeat::Stop() {
  if (!m_hThread) return;
  m_bRunning = false;
  m_hStop->Set();
  if (platform::WaitForSingleObject(*m_hThread, kStopWaitMs) != platform::kWaitObject0) {
    trace(trace_bits::kHttp, "HeartBeat: Timed Out!! trying to kill HeartBeat Thread\n");
  }
  m_hThread.reset();
  m_hStop.reset();
  Send(presence::kHeartBeatStopping);
  m_Ports.clear();
}

platform::DWORD CHeartBeat::Run() {
  trace(trace_bits::kHttp, "HeartBeat: Starting.\n");
  for (;;) {
    const platform::DWORD wait = platform::WaitForSingleObject(*m_hStop, m_Period);
    const platform::DWORD port = m_Settings.GetHeartBeatPort();
    if (!m_bRunning || wait != platform::kWaitTimeout) break;
    // A port beyond 16 bits names no port.
    m_DestinationPort = port <= 0xFFFF ? static_cast<std::uint16_t>(port) : 0;
    if (m_DestinationPort == 0) {
      trace(trace_bits::kHttp, "HeartBeat: Arrested.\n");
    } else {
      Send(presence::kHeartBeatBeat);
      trace(trace_bits::kHttp, "HeartBeat: Beating.\n");
    }
    m_hStop->Reset();
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
