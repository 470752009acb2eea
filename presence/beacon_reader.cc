#include "presence/beacon_reader.h"

#include <cstring>
#include <vector>

#include "base/trace_bits.h"
#include "perf/perf_sampler.h"
#include "platform/system.h"
#include "platform/trace.h"
#include "presence/heartbeat.h"
#include "presence/presence_packets.h"

namespace {

constexpr std::uint32_t kLoopback = 0x7F000001;

}  // namespace

CBeaconReader::CBeaconReader(const CPRegistry& settings) : m_Settings(settings) {}

CBeaconReader::~CBeaconReader() { Stop(); }

bool CBeaconReader::OpenSocket(std::uint16_t port) {
  platform::SOCKET s = platform::UdpSocket();
  if (s == platform::kInvalidSocket) return false;
  platform::SetReuseAddress(s, true);
  platform::SetDontLinger(s, true);
  if (platform::Bind(s, {0, port}) != 0) {
    platform::CloseSocket(s);
    return false;
  }
  m_Socket = s;
  m_ListenPort = port;
  return true;
}

int CBeaconReader::Start(std::uint16_t port) {
  if (m_Socket != platform::kInvalidSocket || m_hThread) return -1;
  if (!OpenSocket(port)) return -1;
  m_bRunning = true;
  m_hThread = platform::Thread::Start([this] { return Run(); });
  if (!m_hThread) {
    m_bRunning = false;
    platform::CloseSocket(m_Socket.exchange(platform::kInvalidSocket));
    return -1;
  }
  return 0;
}

void CBeaconReader::Stop() {
  m_bRunning = false;
  if (m_hThread) {
    // Wakes the blocked receive; on loopback, so that nothing leaves the machine.
    const auto stop = presence::BuildBeaconHeader(0, presence::kCommandStop, {}, {}, 0);
    platform::SOCKET s = platform::UdpSocket();
    if (s == platform::kInvalidSocket ||
        platform::SendTo(s, stop.data(), stop.size(), {kLoopback, m_ListenPort}) != static_cast<int>(stop.size())) {
      trace(trace_bits::kHttp, "Udp StopPacket bad sendto()\n");
    }
    if (s != platform::kInvalidSocket) platform::CloseSocket(s);
    // Another reader may share the port (the socket reuses addresses) and
    // take the datagram: the shut-down ends this reader's receive all the
    // same. The socket is closed only after the thread has left it.
    platform::Shutdown(m_Socket, 2);
    if (platform::WaitForSingleObject(*m_hThread, kStopWaitMs) != platform::kWaitObject0) {
      trace(trace_bits::kThreads, "Timed Out!! trying to kill UDP Recv Thread\n");
      platform::WaitForSingleObject(*m_hThread, kStopWaitMs);
    }
    m_hThread.reset();
  }
  const platform::SOCKET s = m_Socket.exchange(platform::kInvalidSocket);
  if (s != platform::kInvalidSocket) {
    platform::Shutdown(s, 2);
    platform::CloseSocket(s);
  }
}

platform::DWORD CBeaconReader::Run() {
  if (m_bAnnounce) Announce();
  unsigned char buffer[presence::kBeaconBufferSize];
  while (m_bRunning) {
    platform::SocketAddress from;
    const int received = platform::RecvFrom(m_Socket, buffer, sizeof buffer, &from);
    if (!m_bRunning) break;
    if (received < 0) {
      // A socket that is gone (a failed move) ends the reader.
      if (m_Socket == platform::kInvalidSocket) break;
      const int error = platform::WSAGetLastError();
      if (error == platform::WSAESHUTDOWN || error == platform::WSAENOTSOCK || error == platform::WSAEBADF) break;
      continue;
    }
    Handle(buffer, static_cast<std::size_t>(received), from);
  }
  return 0;
}

bool CBeaconReader::IsOwnAddress(std::uint32_t address) {
  if ((address >> 24) == 127) return true;
  const std::string name = platform::GetHostName();
  if (name.empty()) return false;
  for (std::uint32_t own : platform::ResolveHost(name)) {
    if (own == address) return true;
  }
  return false;
}

void CBeaconReader::Handle(const unsigned char* data, std::size_t length, const platform::SocketAddress& from) {
  const presence::BeaconRequest request = presence::ParseBeacon(data, length);
  switch (request.kind) {
    case presence::BeaconRequest::eKind::eIgnore:
      return;
    case presence::BeaconRequest::eKind::eClient:
      Answer(from, presence::kAnswerClient);
      return;
    case presence::BeaconRequest::eKind::eRelay:
      break;
  }
  switch (request.command) {
    case presence::kCommandStatus:
      AnswerStatusQuery(from);
      break;
    case presence::kCommandStop:
      if (IsOwnAddress(from.address)) {
        m_bRunning = false;
      } else {
        trace(trace_bits::kThreads, "UDP: BeaconReader ignored a stop from %s\n",
              platform::FormatDottedAddress(from.address).c_str());
      }
      break;
    case presence::kCommandPing:
      AnswerPing(from);
      break;
    case presence::kCommandMove:
      if (request.port == 0 || request.port > 0xFFFF || request.port == m_ListenPort) break;
      if (IsOwnAddress(from.address)) {
        MoveToPort(static_cast<std::uint16_t>(request.port));
      } else {
        trace(trace_bits::kThreads, "UDP: BeaconReader ignored a move from %s\n",
              platform::FormatDottedAddress(from.address).c_str());
      }
      break;
    default:
      break;
  }
}

void CBeaconReader::MoveToPort(std::uint16_t port) {
  const platform::SOCKET old = m_Socket.exchange(platform::kInvalidSocket);
  if (old != platform::kInvalidSocket) platform::CloseSocket(old);
  if (!OpenSocket(port)) {
    trace(trace_bits::kThreads, "UDP: BeaconReader cannot bind port %u\n", static_cast<unsigned>(port));
    m_bRunning = false;
  }
}

void CBeaconReader::Announce() {
  const auto wakeUp = presence::BuildBeaconHeader(presence::kRelayPacket, presence::kWakeUp, platform::GetHostName(),
                                                  m_Settings.GetRegistrationID(), 0);
  platform::SOCKET s = platform::UdpSocket();
  if (s == platform::kInvalidSocket) return;
  platform::SetDontLinger(s, true);
  platform::SetBroadcast(s, true);
  const std::uint16_t port = static_cast<std::uint16_t>(m_ListenPort - 1);
  const int sent = platform::SendTo(s, wakeUp.data(), wakeUp.size(), {presence::BroadcastAddress(m_Settings), port});
  platform::CloseSocket(s);
  if (sent == static_cast<int>(wakeUp.size())) {
    trace(trace_bits::kThreads, "UDP: BeaconReader issued  eZondrelWakeUp \n");
  }
}

void CBeaconReader::AnswerStatusQuery(const platform::SocketAddress&) {}

void CBeaconReader::AnswerPing(const platform::SocketAddress&) {}

bool CBeaconReader::Answer(const platform::SocketAddress& to, std::int32_t code, const unsigned char* data,
                           std::size_t length) {
  if (length > presence::kMaxReplyData) return false;
  const auto header = presence::BuildBeaconHeader(presence::kRelayPacket, code, platform::GetHostName(),
                                                  m_Settings.GetRegistrationID(), static_cast<std::uint32_t>(length));
  std::vector<unsigned char> reply(header.begin(), header.end());
  if (length > 0) reply.insert(reply.end(), data, data + length);
  const int sent = platform::SendTo(m_Socket, reply.data(), reply.size(), to);
  if (sent != static_cast<int>(reply.size())) {
    trace(trace_bits::kHttp, "Udp SendResponse() bytes sent (or err) asked = %d  did = %d\n",
          static_cast<int>(reply.size()), sent);
    return false;
  }
  return true;
}

CServerBeaconReader::CServerBeaconReader(const CPRegistry& settings, const CPerfSampler* sampler)
    : CBeaconReader(settings), m_pSampler(sampler) {}

void CServerBeaconReader::AnswerStatusQuery(const platform::SocketAddress& to) {
  unsigned char snapshot[perf::kSnapshotSize] = {};
  if (m_pSampler != nullptr) m_pSampler->Snapshot(snapshot);
  Answer(to, presence::kAnswerStatus, snapshot, sizeof snapshot);
}

void CServerBeaconReader::AnswerPing(const platform::SocketAddress& to) { Answer(to, presence::kAnswerPing); }
