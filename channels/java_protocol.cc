#include "channels/java_protocol.h"

#include <chrono>
#include <cstring>
#include <optional>
#include <vector>

#include "base/trace_bits.h"
#include "channels/corporate_data.h"
#include "channels/generic_house.h"
#include "platform/socket.h"
#include "platform/trace.h"

using platform::DWORD;
using Clock = std::chrono::steady_clock;

namespace {

// Each wait within a command, once its code has come.
constexpr DWORD kCommandReadSeconds = 40;

std::uint32_t FromNetwork(const unsigned char* bytes) {
  return (static_cast<std::uint32_t>(bytes[0]) << 24) | (static_cast<std::uint32_t>(bytes[1]) << 16) |
         (static_cast<std::uint32_t>(bytes[2]) << 8) | bytes[3];
}

void AppendNetwork(std::string& out, std::uint32_t value) {
  const char bytes[4] = {static_cast<char>(value >> 24), static_cast<char>(value >> 16), static_cast<char>(value >> 8),
                         static_cast<char>(value)};
  out.append(bytes, 4);
}

bool ReceiveNumber(CJavaStream& stream, std::uint32_t& value) {
  unsigned char bytes[4];
  if (!stream.Receive(bytes, sizeof(bytes))) return false;
  value = FromNetwork(bytes);
  return true;
}

// A connection's socket: reads wait at most their time and end when the
// server stops; the socket stays its owner's.
class SocketStream : public CJavaStream {
 public:
  SocketStream(platform::SOCKET socket, const std::atomic<bool>* stop) : m_Socket(socket), m_pStop(stop) {}

  // Reads wait until `deadline` at most.
  void SetWait(Clock::time_point deadline) { m_Deadline = deadline; }

  // The first command may take until the connection's deadline, a later
  // one the idle time; what follows a command's code comes within
  // kCommandReadSeconds.
  void AwaitingCommand() override {
    if (m_FirstCommand) {
      m_FirstCommand = false;
      return;
    }
    m_Deadline = Clock::now() + std::chrono::seconds(CJavaProtocol::kIdleSeconds);
  }
  void InCommand() override { m_Deadline = Clock::now() + std::chrono::seconds(kCommandReadSeconds); }

  bool Receive(void* buffer, std::size_t length) override {
    auto* bytes = static_cast<char*>(buffer);
    while (length > 0) {
      if (m_pStop != nullptr && m_pStop->load()) return false;
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(m_Deadline - Clock::now()).count();
      if (left <= 0 || platform::WaitReadable(m_Socket, static_cast<DWORD>(left)) != 1) return false;
      const int got = platform::Recv(m_Socket, bytes, length);
      if (got <= 0) return false;
      bytes += got;
      length -= static_cast<std::size_t>(got);
    }
    return true;
  }

  bool Send(const void* data, std::size_t length) override {
    const auto* bytes = static_cast<const char*>(data);
    while (length > 0) {
      if (m_pStop != nullptr && m_pStop->load()) return false;
      if (platform::WaitWritable(m_Socket, kCommandReadSeconds * 1000) != 1) return false;
      const int sent = platform::Send(m_Socket, bytes, length, platform::MSG_DONTWAIT_FLAG);
      if (sent < 0 && platform::WSAGetLastError() == platform::WSAEWOULDBLOCK) continue;
      if (sent <= 0) return false;
      bytes += sent;
      length -= static_cast<std::size_t>(sent);
    }
    return true;
  }

 private:
  platform::SOCKET m_Socket;
  const std::atomic<bool>* m_pStop;
  Clock::time_point m_Deadline = Clock::now();
  bool m_FirstCommand = true;
};

// The status of a command that failed.
std::uint32_t ErrorStatus(std::uint32_t code) {
  switch (code) {
    case CJavaProtocol::eGetFlash: return 0x600;
    case CJavaProtocol::ePutFlash: return 0x601;
    default: return code + 0x500;
  }
}

}  // namespace

CJavaProtocol::CJavaProtocol(const CPRegistry& settings, CCorporateData* corporate, CGenericHouse* redirection,
                             CGenericHouse* flash)
    : m_Settings(settings), m_pCorporate(corporate), m_pRedirection(redirection), m_pFlash(flash) {}

void CJavaProtocol::ServeConnection(platform::SOCKET socket, const std::string& peer, Clock::time_point deadline,
                                    const std::atomic<bool>& stop) {
  trace(trace_bits::kRequest, "JavaConnection: serving %s\n", peer.c_str());
  SocketStream stream(socket, &stop);
  stream.SetWait(deadline);
  Serve(stream);
}

void CJavaProtocol::Serve(CJavaStream& stream) {
  for (;;) {
    std::uint32_t code = 0;
    stream.AwaitingCommand();
    if (!ReceiveNumber(stream, code)) return;
    stream.InCommand();
    if (!Dispatch(code, stream)) return;
  }
}

bool CJavaProtocol::ReceivePayload(CJavaStream& stream, std::string& payload) {
  std::uint32_t length = 0;
  if (!ReceiveNumber(stream, length)) return false;
  if (length > kMaxPayload) {
    trace(trace_bits::kRequest, "JavaConnection: a payload of %u bytes announced: the connection ends\n", length);
    return false;
  }
  payload.assign(length, '\0');
  return stream.Receive(payload.data(), length);
}

bool CJavaProtocol::Reply(CJavaStream& stream, std::uint32_t code, bool succeeded, std::string_view payload) {
  std::string reply;
  reply.reserve(12 + payload.size());
  AppendNetwork(reply, code + kReplyOffset);
  AppendNetwork(reply, succeeded ? 0 : ErrorStatus(code));
  AppendNetwork(reply, static_cast<std::uint32_t>(payload.size()));
  reply.append(payload);
  return stream.Send(reply.data(), reply.size());
}

std::string CJavaProtocol::StampedFlash(std::string_view text, std::time_t now) {
  // The first line, however long, gives way to the stamp.
  const std::size_t feed = text.find('\n');
  const std::string_view rest = feed == std::string_view::npos ? std::string_view() : text.substr(feed + 1);
  std::tm local{};
  ::localtime_r(&now, &local);
  // "Tuesday December 08, 2026 9:41 PM": the hour without a leading zero.
  char date[96];
  char minutes[16];
  std::strftime(date, sizeof(date), "%A %B %d, %Y", &local);
  std::strftime(minutes, sizeof(minutes), ":%M %p", &local);
  const int hour = local.tm_hour % 12 == 0 ? 12 : local.tm_hour % 12;
  std::string image = std::string(kStampText) + " " + date + " " + std::to_string(hour) + minutes + "\r\n";
  image.append(rest);
  return image;
}

bool CJavaProtocol::Dispatch(std::uint32_t code, CJavaStream& stream) {
  std::string payload;
  std::uint32_t value = 0;
  switch (code) {
    case eGetFlash: {
      if (!ReceivePayload(stream, payload)) return false;
      const std::string image = m_pFlash != nullptr ? m_pFlash->GetDataString() : std::string();
      return Reply(stream, code, m_pFlash != nullptr && m_pFlash->IsInitialized(), image);
    }
    case ePutFlash: {
      if (!ReceivePayload(stream, payload)) return false;
      const std::string image = StampedFlash(payload, std::time(nullptr));
      const bool stored =
          m_pFlash != nullptr && m_pFlash->WriteNewData(image.data(), static_cast<DWORD>(image.size()), false) == 0;
      return Reply(stream, code, stored, {});
    }
    case eIgnored1:
    case eIgnored2:
      return true;
    case ePutCorp: {
      if (!ReceivePayload(stream, payload)) return false;
      const bool replaced = m_pCorporate != nullptr && m_pCorporate->ReplaceFromImage(payload) == 0;
      return Reply(stream, code, replaced, {});
    }
    case eGetCorp: {
      if (!ReceiveNumber(stream, value)) return false;
      const std::optional<std::string> image =
          m_pCorporate != nullptr ? m_pCorporate->GetCompactImage() : std::nullopt;
      return Reply(stream, code, image.has_value(), image.value_or(""));
    }
    case eAskRelay: {
      if (!ReceivePayload(stream, payload)) return false;
      std::string groups;
      const bool asked = AskRelay(payload, groups);
      return Reply(stream, code, asked, groups);
    }
    case eGetGroups: {
      if (!ReceiveNumber(stream, value)) return false;
      if (value != 0) return true;
      const std::optional<std::string> lines = m_pCorporate != nullptr ? m_pCorporate->GetGroupLines() : std::nullopt;
      return Reply(stream, code, lines.has_value(), lines.value_or(""));
    }
    case eListAnimations: {
      if (!ReceiveNumber(stream, value)) return false;
      if (value != 0) return true;
      std::string names;
      int count = 0;
      const bool listed = m_pCorporate != nullptr &&
                          m_pCorporate->ListAnimationFiles(m_pCorporate->Directory(), names, count) == 0;
      return Reply(stream, code, listed, names);
    }
    case eGetCorpEnabled: {
      if (!ReceiveNumber(stream, value)) return false;
      if (value != 0) return true;
      std::string enabled;
      AppendNetwork(enabled, m_Settings.GetEnableCorpChannel());
      return Reply(stream, code, true, enabled);
    }
    case eSetCorpEnabled: {
      std::uint32_t length = 0;
      if (!ReceiveNumber(stream, length) || length != 4 || !ReceiveNumber(stream, value)) return false;
      m_Settings.SetEnableCorpChannel(value);
      return Reply(stream, code, true, {});
    }
    case eGetRedirect: {
      if (!ReceiveNumber(stream, value)) return false;
      const std::string image = m_pRedirection != nullptr ? m_pRedirection->GetDataString() : std::string();
      return Reply(stream, code, m_pRedirection != nullptr && m_pRedirection->IsInitialized(), image);
    }
    case ePutRedirect: {
      if (!ReceivePayload(stream, payload)) return false;
      const bool stored = m_pRedirection != nullptr &&
                          m_pRedirection->WriteNewData(payload.data(), static_cast<DWORD>(payload.size()), false) == 0;
      return Reply(stream, code, stored, {});
    }
    default:
      trace(trace_bits::kRequest, "JavaConnection: unknown command 0x%X: the connection ends\n", code);
      return false;
  }
}

bool CJavaProtocol::AskRelay(const std::string& host, std::string& payload) {
  const std::vector<std::uint32_t> addresses = platform::ResolveHost(host);
  if (addresses.empty()) return false;
  const DWORD port = m_Settings.GetJavaPort();
  platform::SOCKET socket = platform::TcpSocket();
  if (socket == platform::kInvalidSocket) return false;
  bool asked = false;
  platform::SocketAddress remote{addresses.front(), static_cast<std::uint16_t>(port)};
  if (port > 0 && port <= 65535 && platform::Connect(socket, remote, m_Settings.GetConnectTimeout() * 1000) == 0) {
    SocketStream stream(socket, nullptr);
    stream.InCommand();
    std::string request;
    AppendNetwork(request, eGetGroups);
    AppendNetwork(request, 0);
    unsigned char header[12];
    if (stream.Send(request.data(), request.size()) && stream.Receive(header, sizeof(header))) {
      const std::uint32_t length = FromNetwork(header + 8);
      if (FromNetwork(header) == eGetGroups + kReplyOffset && length <= kMaxPayload) {
        payload.assign(length, '\0');
        stream.InCommand();
        asked = stream.Receive(payload.data(), length) && FromNetwork(header + 4) == 0;
      }
    }
  }
  platform::Shutdown(socket, platform::SD_BOTH);
  platform::CloseSocket(socket);
  return asked;
}
