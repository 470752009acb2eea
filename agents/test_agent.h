// The smallest agent: it answers every request with 404 and opens the base's
// sending operations to the tests.
#pragma once

#include "agents/abstract_agent.h"

class CTestAgent : public CAbstractAgent {
 public:
  explicit CTestAgent(platform::DWORD sendWaitMilliseconds = 10000) { m_SendWaitMilliseconds = sendWaitMilliseconds; }
  int Init() override { return 1; }
  int HTTPProcess(platform::SOCKET socket, unsigned long& bytesSent, QRNHTTP* request,
                  CPTransactionLogEntry* logEntry) override {
    return HTTPSendErrorPacket(socket, bytesSent, request, 404, nullptr);
  }

  using CAbstractAgent::HTTPSendResponse;
  using CAbstractAgent::SendPieces;
  using CAbstractAgent::SendResponse;
  using CAbstractAgent::TransmitFile;
};
