// The job a listener hands to the client request pool: one accepted viewer
// connection and what its request thread needs to answer it.
#pragma once

#include <cstddef>
#include <memory>

#include "conn/collected_request.h"
#include "platform/socket.h"
#include "platform/types.h"
#include "poolmgr/thread_params.h"

class CAcceptPoint;
class CAgentList;
struct CAgentTable;
class CPTransactionLog;

class CClientRequestParams : public QRThreadParams {
 public:
  CClientRequestParams() = default;
  CClientRequestParams(const CClientRequestParams& other) = default;
  CClientRequestParams& operator=(const CClientRequestParams& other) = default;

  // Copies every field when `other` is a CClientRequestParams. Returns 0.
  int Assign(const QRThreadParams& other) override;

  platform::SOCKET m_Socket = platform::kInvalidSocket;
  platform::DWORD m_RecvTimeoutSeconds = 0;
  CAgentList* m_AgentList = nullptr;            // borrowed
  CPTransactionLog* m_TransactionLog = nullptr; // borrowed, may be null
  CAgentTable* m_AgentTable = nullptr;          // borrowed
  // The request as the listener collected it, with the viewer's address;
  // null when the thread is to read the whole request itself.
  std::shared_ptr<CCollectedRequest> m_Collected;
  // Where the thread takes its next connection itself when one waits; null
  // when it only parks.
  std::shared_ptr<CAcceptPoint> m_AcceptPoint;
};
