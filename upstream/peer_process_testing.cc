#include "upstream/peer_process_testing.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <thread>

#include "platform/socket.h"
#include "platform/testing.h"

namespace upstream_testing {
namespace {

using Clock = std::chrono::steady_clock;

std::string ReadWholeFile(const std::string& path) {
  std::string text;
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return text;
  char buffer[4096];
  for (ssize_t n; (n = ::read(fd, buffer, sizeof(buffer))) > 0;) text.append(buffer, static_cast<std::size_t>(n));
  ::close(fd);
  return text;
}

}  // namespace

bool PeerProcess::Start(const std::vector<std::string>& argv, const std::string& logPath) {
  Stop();
  std::vector<char*> args;
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  pid_ = ::fork();
  if (pid_ < 0) return false;
  if (pid_ == 0) {
    int log = ::open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (log >= 0) {
      ::dup2(log, 1);
      ::dup2(log, 2);
    }
    int nothing = ::open("/dev/null", O_RDONLY);
    if (nothing >= 0) ::dup2(nothing, 0);
    // Its own process group, so that the peer's helpers go with it.
    ::setpgid(0, 0);
    ::execv(args[0], args.data());
    ::_exit(127);
  }
  return true;
}

bool PeerProcess::Running() {
  if (pid_ <= 0) return false;
  int status = 0;
  pid_t done = ::waitpid(pid_, &status, WNOHANG);
  if (done == 0) return true;
  exit_code_ = done == pid_ && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  pid_ = -1;
  return false;
}

int PeerProcess::Stop(std::chrono::milliseconds grace) {
  if (pid_ <= 0) return exit_code_;
  if (!Running()) return exit_code_;
  ::kill(pid_, SIGTERM);
  const auto deadline = Clock::now() + grace;
  while (Clock::now() < deadline) {
    if (!Running()) return exit_code_;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  // Its helpers were started in its group: end them with it.
  ::kill(-pid_, SIGKILL);
  ::kill(pid_, SIGKILL);
  int status = 0;
  ::waitpid(pid_, &status, 0);
  pid_ = -1;
  exit_code_ = -1;
  return exit_code_;
}

unsigned FreeLoopbackPort() {
  platform::SOCKET s = platform::TcpSocket();
  platform::Bind(s, {0x7F000001, 0});
  platform::SocketAddress local;
  platform::GetLocalAddress(s, &local);
  platform::CloseSocket(s);
  return local.port;
}

bool WaitForPort(unsigned port, std::chrono::milliseconds limit) { return WaitForPort(0x7F000001, port, limit); }

bool WaitForPort(std::uint32_t address, unsigned port, std::chrono::milliseconds limit) {
  const auto deadline = Clock::now() + limit;
  while (Clock::now() < deadline) {
    platform::SOCKET s = platform::TcpSocket();
    const int connected = platform::Connect(s, {address, static_cast<std::uint16_t>(port)}, 500);
    platform::CloseSocket(s);
    if (connected == 0) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

std::string FindProgram(const std::string& name) {
  std::string path = std::getenv("PATH") != nullptr ? std::getenv("PATH") : "";
  path += ":/usr/sbin:/sbin:/usr/local/sbin";
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find(':', start);
    if (end == std::string::npos) end = path.size();
    const std::string candidate = path.substr(start, end - start) + "/" + name;
    if (end > start && ::access(candidate.c_str(), X_OK) == 0) return candidate;
    start = end + 1;
  }
  return {};
}

bool Simulator::Start(const std::vector<std::string>& options) {
  const std::string dir = testing_support::MakeTempDir("dcsim");
  const std::string portFile = dir + "/port";
  log_ = dir + "/dcsim.log";
  std::vector<std::string> argv = {testing_support::ProgramPath("dcsim"), "--listen", "127.0.0.1:0",
                                   "--port-file", portFile};
  argv.insert(argv.end(), options.begin(), options.end());
  if (!process_.Start(argv, log_)) return false;
  const auto deadline = Clock::now() + std::chrono::seconds(10);
  while (Clock::now() < deadline && process_.Running()) {
    const std::string text = ReadWholeFile(portFile);
    if (!text.empty() && text.back() == '\n') {
      port_ = static_cast<unsigned>(std::atoi(text.c_str()));
      return port_ != 0;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

std::string Simulator::Get(const std::string& path) {
  return Exchange(port_, "GET " + path + " HTTP/1.0\r\n\r\n");
}

long Simulator::Stat(const std::string& name) {
  const std::string answer = Get("/dcsim/stats");
  const std::string key = "\n" + name + "=";
  const std::size_t at = answer.find(key);
  if (at == std::string::npos) return -1;
  return std::atol(answer.c_str() + at + key.size());
}

bool Simulator::Set(const std::string& option, const std::string& value) {
  return Get("/dcsim/set/" + option + "/" + value).rfind("HTTP/1.0 200", 0) == 0;
}

std::string Exchange(unsigned port, const std::string& request, std::chrono::milliseconds limit) {
  return ExchangeWith(0, 0x7F000001, port, request, limit);
}

std::string ExchangeWith(std::uint32_t from, std::uint32_t to, unsigned port, const std::string& request,
                         std::chrono::milliseconds limit) {
  std::string answer;
  platform::SOCKET s = platform::TcpSocket();
  if ((from != 0 && platform::Bind(s, {from, 0}) != 0) ||
      platform::Connect(s, {to, static_cast<std::uint16_t>(port)}, 5000) != 0) {
    platform::CloseSocket(s);
    return answer;
  }
  platform::Send(s, request.data(), request.size());
  const auto deadline = Clock::now() + limit;
  char buffer[16384];
  while (Clock::now() < deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (platform::WaitReadable(s, static_cast<platform::DWORD>(left > 0 ? left : 0)) <= 0) break;
    int n = platform::Recv(s, buffer, sizeof(buffer));
    if (n <= 0) break;
    answer.append(buffer, static_cast<std::size_t>(n));
  }
  platform::CloseSocket(s);
  return answer;
}

}  // namespace upstream_testing
