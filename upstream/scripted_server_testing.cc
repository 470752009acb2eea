#include "upstream/scripted_server_testing.h"

namespace upstream_testing {
namespace {

constexpr std::size_t kMaxHead = 65536;
constexpr platform::DWORD kPieceWaitMs = 5000;

std::string ReadHead(platform::SOCKET client) {
  std::string head;
  char c = 0;
  while (head.size() < kMaxHead && head.find("\r\n\r\n") == std::string::npos) {
    if (platform::WaitReadable(client, kPieceWaitMs) <= 0 || platform::Recv(client, &c, 1) != 1) break;
    head += c;
  }
  return head;
}

}  // namespace

ScriptedServer::ScriptedServer(std::string reply)
    : ScriptedServer([reply](platform::SOCKET client, const std::string&) { SendAll(client, reply); }, true) {}

ScriptedServer::ScriptedServer(Script script, bool readHead, unsigned port)
    : script_(std::move(script)), read_head_(readHead) {
  listener_ = platform::TcpSocket();
  platform::SetReuseAddress(listener_, true);
  platform::SocketAddress local;
  if (platform::Bind(listener_, {0x7F000001, static_cast<std::uint16_t>(port)}) == 0 &&
      platform::Listen(listener_, 16) == 0 && platform::GetLocalAddress(listener_, &local) == 0) {
    port_ = local.port;
  }
  thread_ = std::thread([this] { Serve(); });
}

ScriptedServer::~ScriptedServer() {
  platform::Shutdown(listener_, platform::SD_BOTH);
  thread_.join();
  platform::CloseSocket(listener_);
}

void ScriptedServer::Serve() {
  for (;;) {
    platform::SOCKET client = platform::Accept(listener_, nullptr);
    if (client == platform::kInvalidSocket) return;
    const std::string head = read_head_ ? ReadHead(client) : std::string();
    {
      std::lock_guard<std::mutex> hold(lock_);
      requests_.push_back(head);
    }
    script_(client, head);
    platform::Shutdown(client, platform::SD_SEND);
    platform::CloseSocket(client);
  }
}

std::vector<std::string> ScriptedServer::Requests() {
  std::lock_guard<std::mutex> hold(lock_);
  return requests_;
}

bool ScriptedServer::SendAll(platform::SOCKET client, const std::string& data) {
  std::size_t sent = 0;
  while (sent < data.size()) {
    if (platform::WaitWritable(client, kPieceWaitMs) <= 0) return false;
    int n = platform::Send(client, data.data() + sent, data.size() - sent);
    if (n <= 0) return false;
    sent += static_cast<std::size_t>(n);
  }
  return true;
}

std::string ScriptedServer::ReceiveExactly(platform::SOCKET client, std::size_t length) {
  std::string data(length, '\0');
  std::size_t got = 0;
  while (got < length) {
    if (platform::WaitReadable(client, kPieceWaitMs) <= 0) break;
    int n = platform::Recv(client, data.data() + got, length - got);
    if (n <= 0) break;
    got += static_cast<std::size_t>(n);
  }
  data.resize(got);
  return data;
}

}  // namespace upstream_testing
