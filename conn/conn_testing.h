// Test support for connection handling: a relay inside the test process
// (client pool, agent table, transaction log, one listener on a free
// loopback port) and the viewer's side of a connection.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "agents/abstract_agent.h"
#include "agents/agent_table.h"
#include "config/cp_registry.h"
#include "conn/conn_mgr.h"
#include "conn/secret_agent.h"
#include "platform/socket.h"
#include "poolmgr/pool_manager.h"
#include "txlog/transaction_log.h"

class CAgentList;

namespace conn_testing {

// Requests of this category hold their request thread until the viewer
// closes the connection.
constexpr int kHoldingCategory = 66;

// Answers every request with "<name> <category>" (and " body <bytes>" when
// it has a body) and logs status 200, but those of kHoldingCategory.
class CCategoryAgent : public CAbstractAgent {
 public:
  explicit CCategoryAgent(std::string name) : m_Name(std::move(name)) {}
  int Init() override { return 1; }
  int HTTPProcess(platform::SOCKET socket, unsigned long& bytesSent, QRNHTTP* request,
                  CPTransactionLogEntry* logEntry) override;
  int Calls() const { return m_Calls.load(); }

 private:
  std::string m_Name;
  std::atomic<int> m_Calls{0};
};

class TestRelay {
 public:
  struct Options {
    int poolDepth = 8;
    platform::DWORD recvTimeoutSeconds = 2;
    CAgentList* agentList = nullptr;
  };
  // Starts at once; the pass-through slot holds Answering().
  explicit TestRelay(const Options& options);
  ~TestRelay();

  unsigned short Port() const { return m_Listener->Port(); }
  CConnMgr& Listener() { return *m_Listener; }
  QRPoolManager& Pool() { return m_Pool; }
  CAgentTable& Agents() { return m_Agents; }
  CCategoryAgent& Answering() { return m_Answering; }
  // Threads working on a job now.
  int Working();
  // Slots that hold a thread object (working, idle or not yet reaped).
  int PoolThreads();
  // Jobs begun by the threads alive (each connection served is one).
  int Jobs();
  // Waits until `count` threads work; false when that did not happen in time.
  bool WaitForWorking(int count, std::chrono::milliseconds limit = std::chrono::seconds(5));
  // Waits until no thread works and the process's descriptors have stayed
  // the same for a while (the listener has taken every queued connection).
  bool WaitUntilQuiet(std::chrono::milliseconds limit = std::chrono::seconds(10));
  // The transaction log file's text, once the buffer is written.
  std::string LogText();

 private:
  CPRegistry m_Settings;
  std::unique_ptr<CPTransactionLog> m_Log;
  CSecretAgentFactory m_Factory;
  QRPoolManager m_Pool;
  CCategoryAgent m_Answering{"passthrough"};
  CAgentTable m_Agents;
  std::unique_ptr<CConnMgr> m_Listener;
};

// A connection to 127.0.0.1:port; kInvalidSocket when it is refused.
platform::SOCKET ConnectViewer(unsigned short port);
// The same, trying again for up to `limit` while a busy relay does not listen.
platform::SOCKET ConnectViewerRetrying(unsigned short port, std::chrono::milliseconds limit = std::chrono::seconds(5));
// A connection whose viewer has sent the start of a request ("GET /") and
// is still sending: the listener takes a connection only once something has
// arrived on it, and collects the request until it is whole.
platform::SOCKET ConnectSendingViewer(unsigned short port);
// A connection whose viewer has sent a request of kHoldingCategory: it
// holds a request thread until the viewer closes it.
platform::SOCKET ConnectHoldingViewer(unsigned short port);
bool SendText(platform::SOCKET viewer, const std::string& text);
// Everything received until the relay closes, at most `limit` of waiting.
std::string ReadToEnd(platform::SOCKET viewer, std::chrono::milliseconds limit = std::chrono::seconds(10));
// One request sent whole, its answer read to the end, the socket closed.
std::string Exchange(unsigned short port, const std::string& request);
// The viewer's connection was closed by the relay without a byte, within
// `limit`.
bool ClosedUnanswered(platform::SOCKET viewer, std::chrono::milliseconds limit);

// Makes `connections` connections to 127.0.0.1:port, four viewers at a
// time; `use(index, socket)` works on connection `index`, which is closed
// afterwards.
void RunViewers(unsigned short port, int connections, const std::function<void(int, platform::SOCKET)>& use);

// Descriptors and threads of this process.
int OpenDescriptors();
int Threads();

}  // namespace conn_testing
