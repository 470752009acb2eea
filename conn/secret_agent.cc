#include "conn/secret_agent.h"

#include <algorithm>
#include <cstring>
#include <cstdint>
#include <exception>
#include <new>
#include <string>

#include "agents/abstract_agent.h"
#include "agents/agent_list.h"
#include "agents/agent_table.h"
#include "base/trace_bits.h"
#include "conn/accept_point.h"
#include "conn/request_collector.h"
#include "net/qrn_http.h"
#include "platform/trace.h"
#include "txlog/transaction_log.h"
#include "txlog/transaction_log_entry.h"

using platform::DWORD;
using platform::kInvalidSocket;
using platform::SOCKET;

// A taken connection's request is read into the thread's own buffer.
static_assert(CSecretAgent::kBufferSize >= CRequestCollector::kBufferSize);

CSecretAgent::CSecretAgent()
    : m_pJob(std::make_unique<CClientRequestParams>()),
      m_pRequest(std::make_unique<QRNHTTP>()),
      m_pBuffer(std::make_unique<char[]>(kBufferSize)) {
  m_pJob->m_RecvTimeoutSeconds = kInitialRecvTimeout;
  m_Params = m_pJob.get();
}

CSecretAgent::~CSecretAgent() {
  // A job handed over as the pool closed, before this thread took it: its
  // viewer would otherwise keep a connection nobody serves or closes.
  if (m_pJob->m_Socket != kInvalidSocket) CloseConnection(m_pJob->m_Socket);
  m_Params = nullptr;
}

void CSecretAgent::Run() {
  while (!m_Stop.load()) {
    const CClientRequestParams& job = *m_pJob;
    SOCKET socket = job.m_Socket;
    m_pJob->m_Socket = kInvalidSocket;  // taken: from here on this thread closes it
    std::shared_ptr<CCollectedRequest> collected = std::move(m_pJob->m_Collected);
    // Read where the listener put it; `collected` holds it until the next job.
    const std::string_view peer = collected != nullptr ? std::string_view(collected->peer) : std::string_view();
    m_Connection.Hold(socket);
    UpdateActivityTime();

    if (ReadRequest(socket, job.m_RecvTimeoutSeconds, collected.get())) {
      UpdateActivityTime();
      if (!m_Stop.load()) Answer(socket, job, peer);
    }

    const bool stopped = m_Stop.load();
    if (stopped) Kill();
    UpdateActivityTime();
    CloseConnection(socket);
    if (stopped) return;
    if (TakeNextConnection(std::move(collected))) {
      BeginTakenJob();
      continue;
    }
    if (!Recycle(eThdIdle)) return;
  }
  (void)Recycle(eThdEnded);
}

bool CSecretAgent::TakeNextConnection(std::shared_ptr<CCollectedRequest> spare) {
  CAcceptPoint* point = m_pJob->m_AcceptPoint.get();
  if (point == nullptr || m_Stop.load()) return false;
  std::string peer;
  const SOCKET socket = point->TakeWaiting(&peer);
  if (socket == kInvalidSocket) return false;
  // The previous job's record, when nobody else holds it, with the parser
  // it took from this thread.
  std::shared_ptr<CCollectedRequest> request =
      spare != nullptr && spare.use_count() == 1 ? std::move(spare) : std::make_shared<CCollectedRequest>();
  request->peer = std::move(peer);
  if (request->parser) {
    request->parser->ResetHTTP();
  } else {
    request->parser = std::make_unique<QRNHTTP>();
  }
  request->received = 0;
  request->deadline =
      Clock::now() + std::chrono::seconds(m_pJob->m_RecvTimeoutSeconds) * kRequestDeadlineTimeouts;
  unsigned int length = 0;
  const char* why = "";
  switch (CRequestCollector::ReadArrived(socket, *request, m_pBuffer.get(), length, &why)) {
    case CRequestCollector::Arrival::kReady:
      request->pending.assign(m_pBuffer.get(), length);
      m_pJob->m_Socket = socket;
      m_pJob->m_Collected = std::move(request);
      return true;
    case CRequestCollector::Arrival::kWaiting:
      // A viewer still sending holds no thread: the listener collects it.
      request->pending.assign(m_pBuffer.get(), length);
      point->Return(socket, std::move(request));
      return false;
    case CRequestCollector::Arrival::kBroken:
      break;
  }
  CRequestCollector::CloseUnanswered(socket, request->peer, why);
  return false;
}

bool CSecretAgent::ReadRequest(SOCKET socket, DWORD timeoutSeconds, CCollectedRequest* collected) {
  const DWORD timeoutMs = timeoutSeconds * 1000;
  Clock::time_point deadline;
  if (collected != nullptr && collected->parser) {
    // The listener parsed what came so far; this thread's previous parser
    // leaves with the collected request.
    m_pRequest.swap(collected->parser);
    m_BufferLength = static_cast<unsigned int>(std::min(collected->pending.size(), m_BufferSize - 1));
    std::memcpy(m_pBuffer.get(), collected->pending.data(), m_BufferLength);
    m_pBuffer[m_BufferLength] = '\0';
    if (collected->status == eHTTPComplete) return !m_Stop.load();
    deadline = collected->deadline;
  } else {
    m_pRequest->ResetHTTP();
    m_BufferLength = 0;
    deadline = Clock::now() + std::chrono::milliseconds(timeoutMs) * kRequestDeadlineTimeouts;
  }
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) {
      // The request as a whole took too long: the same as a read timing out.
      platform::WSASetLastError(platform::WSAETIMEDOUT);
      trace(trace_bits::kHttp, "SecretAgent() timeout out waiting in select error=%d\n", platform::WSAGetLastError());
      return false;
    }
    if (Receive(socket, std::min<DWORD>(timeoutMs, static_cast<DWORD>(left))) < 1) return false;
    const int status = m_Stop.load() ? kParseStopped : m_pRequest->HTTPprocess(m_pBuffer.get(), m_BufferLength);
    if (status == eHTTPMoreData) continue;
    if (status == eHTTPComplete && !m_Stop.load()) return true;
    if (status == eHTTPInvalid || status == kParseStopped) {
      trace(trace_bits::kParse, "SecretAgent() detected HTTP parse problem= %d do logging\n", status);
    }
    return false;
  }
}

int CSecretAgent::Receive(SOCKET socket, DWORD waitMs) {
  // One byte stays free for the terminating zero.
  const std::size_t room = m_BufferSize - m_BufferLength - 1;
  if (room == 0) {
    // The parser keeps what it could not take yet: a line this long is no
    // request of the viewer protocol.
    trace(trace_bits::kHttp, "SecretAgent () bytes read *zero* error= %d socket=%d\n", platform::WSAGetLastError(),
          socket);
    return 0;
  }
  if (m_Stop.load()) return -1;
  // Most requests are there when the thread starts: take them without a wait.
  int got = platform::Recv(socket, m_pBuffer.get() + m_BufferLength, room, platform::MSG_DONTWAIT_FLAG);
  if (got < 0 && platform::WSAGetLastError() == platform::WSAEWOULDBLOCK) {
    if (platform::WaitReadable(socket, waitMs) != 1 || m_Stop.load()) {
      trace(trace_bits::kHttp, "SecretAgent() timeout out waiting in select error=%d\n", platform::WSAGetLastError());
      return -1;
    }
    got = platform::Recv(socket, m_pBuffer.get() + m_BufferLength, room);
  }
  if (got < 0) {
    trace(trace_bits::kHttp, "SecretAgent () socket error= %d  socket= %d\n", platform::WSAGetLastError(), socket);
    return -1;
  }
  if (got == 0) {
    trace(trace_bits::kHttp, "SecretAgent () bytes read *zero* error= %d socket=%d\n", platform::WSAGetLastError(),
          socket);
    return 0;
  }
  m_BufferLength += static_cast<unsigned int>(got);
  m_pBuffer[m_BufferLength] = '\0';
  return got;
}

void CSecretAgent::Answer(SOCKET socket, const CClientRequestParams& job, std::string_view peer) {
  const int category = m_pRequest->GetCategory();
  const int kind = job.m_AgentList != nullptr ? job.m_AgentList->Lookup(static_cast<std::uint32_t>(category)) : 0;
  CAbstractAgent* agent = job.m_AgentTable != nullptr ? job.m_AgentTable->ForKind(kind) : nullptr;
  if (agent == nullptr) {
    trace(trace_bits::kHttp, "SecretAgent: no agent for category %d (kind %d): connection closed\n", category, kind);
    return;
  }

  CPTransactionLogEntry entry;
  unsigned long bytesSent = 0;
  m_RequestStart = Clock::now();
  try {
    agent->HTTPProcess(socket, bytesSent, m_pRequest.get(), &entry);
  } catch (const std::exception& error) {
    trace(trace_bits::kHttp, "SecretAgent: the agent of category %d failed: %s\n", category, error.what());
  } catch (...) {
    trace(trace_bits::kHttp, "SecretAgent: the agent of category %d failed\n", category);
  }
  m_RequestEnd = Clock::now();
  LogTransaction(entry, peer, kind, bytesSent, job.m_TransactionLog);
}

void CSecretAgent::LogTransaction(CPTransactionLogEntry& entry, std::string_view peer, int kind,
                                  unsigned long bytesSent, CPTransactionLog* log) {
  const auto elapsedMs = std::chrono::duration_cast<std::chrono::milliseconds>(m_RequestEnd - m_RequestStart).count();
  entry.SetClientAddress(peer);
  entry.SetMethod(QRNHTTP::MethodName(m_pRequest->GetMethod()));
  entry.SetUri(m_pRequest->RequestURI());
  entry.SetTimeTaken(static_cast<double>(elapsedMs) * 0.001);
  entry.SetBytes(bytesSent);
  entry.SetAgent(kind);
  if (log != nullptr) log->AddEntry(entry);
}

void CSecretAgent::CloseConnection(SOCKET socket) { m_Connection.Close(socket); }

int CSecretAgent::StopWorkingNow() {
  m_Stop.store(true);
  // The connection's waits and sends end at once; its own thread closes it.
  // (A thread that has not taken its socket yet sees the flag first.)
  if (!m_Connection.ShutDown()) return 0;
  return QRPoolThread::StopWorkingNow();
}

QRPoolThread* CSecretAgentFactory::CreatePoolThread() { return new (std::nothrow) CSecretAgent(); }
