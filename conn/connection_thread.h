// CConnectionThread: a pool thread that hands each connection it is given
// to the job's CConnectionService, then closes it. A pool that stops shuts
// the connection down, which ends any wait of the service on it, without
// reading what is still on its way.
#pragma once

#include <atomic>
#include <memory>

#include "conn/collected_request.h"
#include "conn/held_connection.h"
#include "platform/socket.h"
#include "platform/sync.h"
#include "poolmgr/pool_thread.h"
#include "poolmgr/thread_params.h"

class CConnectionService;

// The job: one accepted connection, its peer and deadline, and who serves it.
class CConnectionJob : public QRThreadParams {
 public:
  int Assign(const QRThreadParams& other) override;

  platform::SOCKET m_Socket = platform::kInvalidSocket;
  std::shared_ptr<CCollectedRequest> m_Collected;  // peer and deadline only
  CConnectionService* m_Service = nullptr;         // borrowed
};

class CConnectionThread : public QRPoolThread {
 public:
  CConnectionThread();
  ~CConnectionThread() override;

 protected:
  void Run() override;
  int StopWorkingNow() override;

 private:
  void CloseConnection(platform::SOCKET socket);

  std::unique_ptr<CConnectionJob> m_pJob;  // m_Params points at it

  CHeldConnection m_Connection;
  std::atomic<bool> m_Stop{false};
};

class CConnectionThreadFactory : public QRPoolThreadFactory {
 public:
  QRPoolThread* CreatePoolThread() override;
};
