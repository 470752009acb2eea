// CSecretAgent: the client request thread, a pool thread of the client
// request pool. For each connection a listener hands it, it reads one
// request, asks the agent list which agent answers the request's category,
// lets that agent answer, writes the transaction log entry and closes the
// connection; then it takes the next connection waiting on its listener's
// socket, or parks in the pool until the listener hands it one.
//
// A request must arrive within its receive timeout per read and within
// kRequestDeadlineTimeouts receive timeouts in all, so that a viewer that
// drips its request byte by byte holds a thread only for a bounded time.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <memory>
#include <string_view>

#include "conn/client_request_params.h"
#include "platform/socket.h"
#include "conn/held_connection.h"
#include "platform/sync.h"
#include "platform/types.h"
#include "poolmgr/pool_thread.h"

class CPTransactionLogEntry;
class QRNHTTP;

class CSecretAgent : public QRPoolThread {
 public:
  static constexpr std::size_t kBufferSize = 4096;
  // The receive timeout (seconds) until the first job brings its own.
  static constexpr platform::DWORD kInitialRecvTimeout = 40;
  static constexpr platform::DWORD kRequestDeadlineTimeouts = 2;
  // Parser status of a read cut short by a stop.
  static constexpr int kParseStopped = 5;

  CSecretAgent();
  ~CSecretAgent() override;
  CSecretAgent(const CSecretAgent&) = delete;
  CSecretAgent& operator=(const CSecretAgent&) = delete;

 protected:
  void Run() override;
  // Called by the pool when it closes while this thread works: shuts the
  // connection down (which ends any wait on it), then waits for the thread.
  int StopWorkingNow() override;

 private:
  using Clock = std::chrono::steady_clock;

  // Reads until the parser holds a whole request, starting from what the
  // listener collected when it did; false when the connection is to be
  // closed unanswered.
  bool ReadRequest(platform::SOCKET socket, platform::DWORD timeoutSeconds, CCollectedRequest* collected);
  // One read behind the bytes held, waiting at most `waitMs`: the bytes
  // read, 0 when the peer closed or the buffer is full, -1 on timeout or error.
  int Receive(platform::SOCKET socket, platform::DWORD waitMs);
  void Answer(platform::SOCKET socket, const CClientRequestParams& job, std::string_view peer);
  void LogTransaction(CPTransactionLogEntry& entry, std::string_view peer, int kind, unsigned long bytesSent,
                      CPTransactionLog* log);
  void CloseConnection(platform::SOCKET socket);
  // Takes a connection waiting on the listener's socket into the job, with
  // what has arrived of its request (`spare` may serve as its record):
  // true when the job holds it; a request still arriving goes back to the
  // listener.
  bool TakeNextConnection(std::shared_ptr<CCollectedRequest> spare);

  std::unique_ptr<CClientRequestParams> m_pJob;  // m_Params points at it
  std::unique_ptr<QRNHTTP> m_pRequest;
  std::unique_ptr<char[]> m_pBuffer;
  std::size_t m_BufferSize = kBufferSize;
  unsigned int m_BufferLength = 0;
  Clock::time_point m_RequestStart;
  Clock::time_point m_RequestEnd;
  CHeldConnection m_Connection;
  std::atomic<bool> m_Stop{false};
};

class CSecretAgentFactory : public QRPoolThreadFactory {
 public:
  QRPoolThread* CreatePoolThread() override;
};
