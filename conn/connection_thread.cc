#include "conn/connection_thread.h"

#include <exception>
#include <new>

#include "base/trace_bits.h"
#include "net/connection_service.h"
#include "platform/trace.h"

using platform::kInvalidSocket;
using platform::SOCKET;

int CConnectionJob::Assign(const QRThreadParams& other) {
  QRThreadParams::Assign(other);
  if (const auto* job = dynamic_cast<const CConnectionJob*>(&other)) {
    m_Socket = job->m_Socket;
    m_Collected = job->m_Collected;
    m_Service = job->m_Service;
  }
  return 0;
}

CConnectionThread::CConnectionThread() : m_pJob(std::make_unique<CConnectionJob>()) { m_Params = m_pJob.get(); }

CConnectionThread::~CConnectionThread() {
  // A job handed over as the pool closed, before this thread took it.
  if (m_pJob->m_Socket != kInvalidSocket) CloseConnection(m_pJob->m_Socket);
  m_Params = nullptr;
}

void CConnectionThread::Run() {
  while (!m_Stop.load()) {
    SOCKET socket = m_pJob->m_Socket;
    m_pJob->m_Socket = kInvalidSocket;  // taken: from here on this thread closes it
    const std::shared_ptr<CCollectedRequest> collected = std::move(m_pJob->m_Collected);
    m_Connection.Hold(socket);
    UpdateActivityTime();
    if (m_pJob->m_Service != nullptr && collected != nullptr && !m_Stop.load()) {
      // Whatever the service throws ends this connection, not the thread:
      // the connection is closed and the thread takes the next one.
      try {
        m_pJob->m_Service->ServeConnection(socket, collected->peer, collected->deadline, m_Stop);
      } catch (const std::exception& failure) {
        trace(trace_bits::kRequest, "ConnectionThread: the service failed: %s\n", failure.what());
      } catch (...) {
        trace(trace_bits::kRequest, "ConnectionThread: the service failed\n");
      }
    }
    const bool stopped = m_Stop.load();
    if (stopped) Kill();
    UpdateActivityTime();
    CloseConnection(socket);
    if (stopped || !Recycle(eThdIdle)) return;
  }
  (void)Recycle(eThdEnded);
}

void CConnectionThread::CloseConnection(SOCKET socket) { m_Connection.Close(socket); }

int CConnectionThread::StopWorkingNow() {
  m_Stop.store(true);
  // The service's waits end at once; nothing more is read. The thread
  // closes the socket itself.
  if (!m_Connection.ShutDown()) return 0;
  return QRPoolThread::StopWorkingNow();
}

QRPoolThread* CConnectionThreadFactory::CreatePoolThread() { return new (std::nothrow) CConnectionThread(); }
