#include "platform/testing.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include <gtest/gtest.h>

#include "platform/registry.h"
#include "platform/trace.h"

namespace testing_support {

namespace {

struct TestMachine {
  std::string root;
  TestMachine() {
    std::string pattern = std::filesystem::temp_directory_path().string() + "/zondrel-test-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    root = pattern;
    ::setenv("ZONDREL_ROOT", root.c_str(), 1);
  }
  ~TestMachine() {
    const char* keep = std::getenv("ZONDREL_KEEP_TEST_ROOT");
    if (keep != nullptr && keep[0] == '1') return;
    std::error_code ignored;
    std::filesystem::remove_all(root, ignored);
  }
};

TestMachine& Machine() {
  static TestMachine machine;
  return machine;
}

// Sets ZONDREL_ROOT before any test touches the machine.
const bool g_machine_ready = (Machine(), true);

}  // namespace

const std::string& TestRoot() { return Machine().root; }

std::string MakeTempDir(const std::string& prefix) {
  std::string pattern = TestRoot() + "/" + prefix + "-XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  return pattern;
}

std::string SourcePath(const std::string& relative) {
  const char* source = std::getenv("ZONDREL_SOURCE");
  return std::string(source != nullptr && *source != '\0' ? source : ZONDREL_SOURCE_DIR) + "/" + relative;
}

std::string ProgramPath(const std::string& name) {
  const char* bin = std::getenv("ZONDREL_BIN");
  if (bin != nullptr && *bin != '\0') return std::string(bin) + "/" + name;
  // Test programs live in build/tests; programs in build/bin.
  char self[4096];
  ssize_t n = ::readlink("/proc/self/exe", self, sizeof(self) - 1);
  std::string dir = n > 0 ? std::string(self, static_cast<std::size_t>(n)) : std::string();
  dir = dir.substr(0, dir.rfind('/'));
  return dir + "/../bin/" + name;
}

RunResult Run(const std::vector<std::string>& argv, const std::string& input,
              std::chrono::milliseconds limit) {
  RunResult result;
  int in[2], out[2], err[2];
  if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) {
    return result;
  }
  pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(in[0], 0);
    ::dup2(out[1], 1);
    ::dup2(err[1], 2);
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    ::execv(args[0], args.data());
    std::fprintf(stderr, "exec %s: %s\n", args[0], std::strerror(errno));
    ::_exit(127);
  }
  ::close(in[0]);
  ::close(out[1]);
  ::close(err[1]);
  // Feed the input, then close so that the program sees its end.
  std::size_t written = 0;
  ::fcntl(in[1], F_SETFL, O_NONBLOCK);
  auto deadline = std::chrono::steady_clock::now() + limit;
  bool out_open = true, err_open = true, in_open = true;
  if (input.empty()) {
    ::close(in[1]);
    in_open = false;
  }
  bool killed = false;
  while (out_open || err_open) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      ::kill(pid, SIGKILL);
      killed = true;
      break;
    }
    pollfd fds[3] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}, {in_open ? in[1] : -1, POLLOUT, 0}};
    if (!out_open) fds[0].fd = -1;
    if (!err_open) fds[1].fd = -1;
    if (::poll(fds, 3, static_cast<int>(std::min<long>(left.count(), 200))) < 0 && errno != EINTR) break;
    char buffer[4096];
    if (fds[0].revents != 0) {
      ssize_t n = ::read(out[0], buffer, sizeof(buffer));
      if (n > 0) result.output.append(buffer, static_cast<std::size_t>(n)); else out_open = false;
    }
    if (fds[1].revents != 0) {
      ssize_t n = ::read(err[0], buffer, sizeof(buffer));
      if (n > 0) result.error.append(buffer, static_cast<std::size_t>(n)); else err_open = false;
    }
    if (in_open && fds[2].revents != 0) {
      ssize_t n = ::write(in[1], input.data() + written, input.size() - written);
      if (n > 0) written += static_cast<std::size_t>(n);
      if (n < 0 || written == input.size()) {
        ::close(in[1]);
        in_open = false;
      }
    }
  }
  if (in_open) ::close(in[1]);
  ::close(out[0]);
  ::close(err[0]);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (!killed && WIFEXITED(status)) result.exit_code = WEXITSTATUS(status);
  return result;
}

LoopbackPair::LoopbackPair(int bufferBytes) {
  const platform::SOCKET listener = platform::TcpSocket();
  client = platform::TcpSocket();
  platform::SocketAddress address{0x7F000001, 0};
  EXPECT_EQ(platform::Bind(listener, address), 0);
  EXPECT_EQ(platform::Listen(listener, 1), 0);
  EXPECT_EQ(platform::GetLocalAddress(listener, &address), 0);
  // Before connecting: the receive window is agreed on at the handshake.
  if (bufferBytes > 0) platform::SetReceiveBuffer(client, bufferBytes);
  EXPECT_EQ(platform::Connect(client, address, 2000), 0);
  server = platform::Accept(listener, nullptr);
  EXPECT_NE(server, platform::kInvalidSocket);
  if (bufferBytes > 0) platform::SetSendBuffer(server, bufferBytes);
  platform::CloseSocket(listener);
}

LoopbackPair::~LoopbackPair() {
  CloseServer();
  CloseClient();
}

void LoopbackPair::CloseServer() {
  if (server != platform::kInvalidSocket) platform::CloseSocket(server);
  server = platform::kInvalidSocket;
}

void LoopbackPair::CloseClient() {
  if (client != platform::kInvalidSocket) platform::CloseSocket(client);
  client = platform::kInvalidSocket;
}

void WriteFile(const std::string& path, const std::string& contents) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file << contents;
}

std::string ReadFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::stringstream buffer;
  buffer << file.rdbuf();
  return buffer.str();
}

void PeerMissing(const std::string& program, const std::string& package) {
  const std::string why = program + " is not installed (Debian package " + package + ")";
  const char* require = std::getenv("ZONDREL_REQUIRE_PEERS");
  if (require != nullptr && std::string(require) == "1") FAIL() << why << "; ZONDREL_REQUIRE_PEERS=1 requires it";
  GTEST_SKIP() << why;
}

void SetTraceFilenameSetting(const char* path) {
  platform::HKEY key = nullptr;
  ASSERT_EQ(platform::RegCreateKeyEx(platform::HKEY_LOCAL_MACHINE, platform::kZondrelKeyPath, platform::KEY_ALL_ACCESS,
                                     &key, nullptr),
            0);
  if (path == nullptr) {
    platform::RegDeleteValue(key, "TraceFilename");
  } else {
    ASSERT_EQ(platform::RegSetValueEx(key, "TraceFilename", platform::REG_SZ, reinterpret_cast<const platform::BYTE*>(path),
                                      static_cast<platform::DWORD>(std::strlen(path) + 1)),
              0);
  }
  platform::RegCloseKey(key);
}

}  // namespace testing_support
