#include "base/periodic_thread.h"

CPeriodicThread::~CPeriodicThread() { Stop(platform::kInfinite); }

bool CPeriodicThread::Start(std::function<platform::DWORD()> body) {
  if (m_Thread) return false;
  // One event for every run: a thread that outlived its stop wait may
  // still look at it.
  if (!m_Stop) m_Stop = platform::Event::Create(true, false);
  if (!m_Stop) return false;
  m_Stop->Reset();
  m_Running = true;
  m_Thread = platform::Thread::Start(std::move(body), kStackBytes);
  if (!m_Thread) {
    m_Running = false;
    return false;
  }
  return true;
}

bool CPeriodicThread::Stop(platform::DWORD waitMs) {
  m_Running = false;
  if (!m_Thread) return true;
  m_Stop->Set();
  const bool ended = platform::WaitForSingleObject(*m_Thread, waitMs) == platform::kWaitObject0;
  m_Thread.reset();
  return ended;
}

bool CPeriodicThread::WaitPeriod(platform::DWORD periodMs) {
  const platform::DWORD wait = platform::WaitForSingleObject(*m_Stop, periodMs);
  return wait == platform::kWaitTimeout && m_Running.load();
}
