#include "conn/conn_testing.h"

#include <filesystem>
#include <thread>
#include <vector>

#include "net/qrn_http.h"
#include "platform/sync.h"
#include "platform/testing.h"
#include "txlog/transaction_log_entry.h"

namespace conn_testing {

using platform::SOCKET;

int CCategoryAgent::HTTPProcess(SOCKET socket, unsigned long& bytesSent, QRNHTTP* request,
                                CPTransactionLogEntry* logEntry) {
  ++m_Calls;
  if (request->GetCategory() == kHoldingCategory) {
    // Holds its thread until the viewer closes its connection.
    char byte = 0;
    if (platform::WaitReadable(socket, 60000) == 1) platform::Recv(socket, &byte, 1);
    logEntry->SetStatus(408);
    return 0;
  }
  std::string answer = "HTTP/1.0 200 OK\r\n\r\n" + m_Name + " " + std::to_string(request->GetCategory());
  if (!request->Body().empty()) answer += " body " + std::to_string(request->Body().size());
  const bool sent = SendResponse(socket, bytesSent, answer.data(), answer.size()) == kSendSucceeded;
  logEntry->SetStatus(sent ? 200 : 408);
  return sent ? 1 : 0;
}

TestRelay::TestRelay(const Options& options) : m_Pool(&m_Factory, 180000, 600000, 5) {
  const std::string home = testing_support::MakeTempDir("relay") + "/";
  m_Settings.SetHomeDirectory(home.c_str());
  m_Log = OpenViewerTransactionLog(m_Settings);
  m_Pool.OpenPool(options.poolDepth, 0);
  m_Agents[ePassThroughSlot] = &m_Answering;
  m_Listener = std::make_unique<CConnMgr>(&m_Pool);
  m_Listener->Start(0, options.recvTimeoutSeconds, options.agentList, &m_Agents, m_Log.get(), nullptr, "127.0.0.1");
}

TestRelay::~TestRelay() {
  m_Listener->Shutdown();
  m_Pool.ClosePoolEasy();
}

int TestRelay::Working() {
  int slots = 0, idle = 0, reserved = 0, working = 0, ended = 0, expired = 0;
  float average = 0;
  m_Pool.GatherSummaryStats(slots, idle, reserved, working, ended, expired, average);
  return working;
}

int TestRelay::PoolThreads() {
  int slots = 0, idle = 0, reserved = 0, working = 0, ended = 0, expired = 0;
  float average = 0;
  m_Pool.GatherSummaryStats(slots, idle, reserved, working, ended, expired, average);
  return idle + reserved + working + ended + expired;
}

int TestRelay::Jobs() {
  int slots = 0, idle = 0, reserved = 0, working = 0, ended = 0, expired = 0;
  float average = 0;
  m_Pool.GatherSummaryStats(slots, idle, reserved, working, ended, expired, average);
  return static_cast<int>(average * static_cast<float>(idle + reserved + working) + 0.5f);
}

bool TestRelay::WaitForWorking(int count, std::chrono::milliseconds limit) {
  const auto until = std::chrono::steady_clock::now() + limit;
  while (Working() != count) {
    if (std::chrono::steady_clock::now() > until) return false;
    platform::Sleep(10);
  }
  return true;
}

bool TestRelay::WaitUntilQuiet(std::chrono::milliseconds limit) {
  const auto until = std::chrono::steady_clock::now() + limit;
  int descriptors = -1;
  int quietRounds = 0;
  while (quietRounds < 3) {
    if (std::chrono::steady_clock::now() > until) return false;
    platform::Sleep(100);
    const int now = OpenDescriptors();
    quietRounds = Working() == 0 && now == descriptors ? quietRounds + 1 : 0;
    descriptors = now;
  }
  return true;
}

std::string TestRelay::LogText() {
  if (!m_Log) return {};
  m_Log->Flush();
  return testing_support::ReadFile(m_Settings.GetHomeDirectory() + "Log/Tx000001.log");
}

SOCKET ConnectViewer(unsigned short port) {
  SOCKET viewer = platform::TcpSocket();
  if (platform::Connect(viewer, platform::SocketAddress{0x7F000001, port}, 2000) != 0) {
    platform::CloseSocket(viewer);
    return platform::kInvalidSocket;
  }
  return viewer;
}

SOCKET ConnectViewerRetrying(unsigned short port, std::chrono::milliseconds limit) {
  const auto until = std::chrono::steady_clock::now() + limit;
  SOCKET viewer = ConnectViewer(port);
  while (viewer == platform::kInvalidSocket && std::chrono::steady_clock::now() < until) {
    platform::Sleep(10);
    viewer = ConnectViewer(port);
  }
  return viewer;
}

SOCKET ConnectSendingViewer(unsigned short port) {
  SOCKET viewer = ConnectViewer(port);
  if (viewer != platform::kInvalidSocket && !SendText(viewer, "GET /")) {
    platform::CloseSocket(viewer);
    return platform::kInvalidSocket;
  }
  return viewer;
}

SOCKET ConnectHoldingViewer(unsigned short port) {
  SOCKET viewer = ConnectViewer(port);
  if (viewer != platform::kInvalidSocket &&
      !SendText(viewer, "GET /KIBO-1/" + std::to_string(kHoldingCategory) + "-1 HTTP/1.0\r\n\r\n")) {
    platform::CloseSocket(viewer);
    return platform::kInvalidSocket;
  }
  return viewer;
}

bool SendText(SOCKET viewer, const std::string& text) {
  return platform::Send(viewer, text.data(), text.size()) == static_cast<int>(text.size());
}

std::string ReadToEnd(SOCKET viewer, std::chrono::milliseconds limit) {
  std::string received;
  const auto until = std::chrono::steady_clock::now() + limit;
  char piece[4096];
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
    if (left.count() <= 0 || platform::WaitReadable(viewer, static_cast<platform::DWORD>(left.count())) != 1) break;
    int got = platform::Recv(viewer, piece, sizeof(piece));
    if (got <= 0) break;
    received.append(piece, static_cast<std::size_t>(got));
  }
  return received;
}

std::string Exchange(unsigned short port, const std::string& request) {
  SOCKET viewer = ConnectViewer(port);
  if (viewer == platform::kInvalidSocket) return {};
  SendText(viewer, request);
  std::string answer = ReadToEnd(viewer);
  platform::CloseSocket(viewer);
  return answer;
}

bool ClosedUnanswered(SOCKET viewer, std::chrono::milliseconds limit) {
  if (platform::WaitReadable(viewer, static_cast<platform::DWORD>(limit.count())) != 1) return false;
  char byte = 0;
  return platform::Recv(viewer, &byte, 1) <= 0;
}

void RunViewers(unsigned short port, int connections, const std::function<void(int, SOCKET)>& use) {
  constexpr int kViewers = 4;
  std::vector<std::thread> viewers;
  for (int v = 0; v < kViewers; ++v) {
    viewers.emplace_back([&, v] {
      for (int i = v; i < connections; i += kViewers) {
        SOCKET viewer = ConnectViewerRetrying(port);
        use(i, viewer);
        platform::CloseSocket(viewer);
      }
    });
  }
  for (auto& viewer : viewers) viewer.join();
}

namespace {

int CountEntries(const char* directory) {
  int count = 0;
  for (const auto& entry : std::filesystem::directory_iterator(directory)) {
    (void)entry;
    ++count;
  }
  return count;
}

}  // namespace

int OpenDescriptors() { return CountEntries("/proc/self/fd"); }
int Threads() { return CountEntries("/proc/self/task"); }

}  // namespace conn_testing
