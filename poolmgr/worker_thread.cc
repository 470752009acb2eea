#include "poolmgr/worker_thread.h"

#include <algorithm>
#include <chrono>
#include <exception>
#include <span>

#include "base/event_catalogue.h"
#include "base/trace_bits.h"
#include "platform/trace.h"

using platform::DWORD;

namespace {

// Longer waits are made of several platform waits.
constexpr std::uint64_t kLongestSingleWaitMs = 0x7FFFFFFF;
constexpr DWORD kFailedWaitSliceMs = 100;
constexpr DWORD kDestructorStopSeconds = 15;

std::string LocalTimeText(std::time_t when, const char* format) {
  std::tm local {};
  ::localtime_r(&when, &local);
  char text[128];
  std::size_t length = std::strftime(text, sizeof(text), format, &local);
  return std::string(text, length);
}

DWORD SecondsToMilliseconds(DWORD seconds) {
  std::uint64_t ms = static_cast<std::uint64_t>(seconds) * 1000;
  return static_cast<DWORD>(std::min<std::uint64_t>(ms, platform::kInfinite - 1));
}

DWORD WaitAtMost(std::span<platform::Waitable* const> objects, std::uint64_t milliseconds) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
  for (;;) {
    DWORD chunk = static_cast<DWORD>(std::min(milliseconds, kLongestSingleWaitMs));
    DWORD result = platform::WaitForMultipleObjects(objects, chunk);
    if (result != platform::kWaitTimeout || milliseconds <= kLongestSingleWaitMs) return result;
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return platform::kWaitTimeout;
    milliseconds = static_cast<std::uint64_t>(left.count());
  }
}

void ReportCannotCreate(const char* which, const std::string& threadName, DWORD error) {
  events::Report<events::kWorkerEventFailed>(which, threadName, std::to_string(error));
}

}  // namespace

CWorkerThread::CWorkerThread(std::string name, std::string updateEventName)
    : m_Name(std::move(name)), m_UpdateEventName(std::move(updateEventName)) {}

CWorkerThread::~CWorkerThread() {
  Stop(kDestructorStopSeconds);
  if (!WaitForDetachedThread(0)) {
    // Its events and this object's table must outlive it.
    trace(trace_bits::kThreads, "Worker Thread (%s): waiting for the stopped thread to end.\n",
          m_Name.c_str());
    WaitForDetachedThread(platform::kInfinite);
  }
}

// --- owner's side ----------------------------------------------------------------

void CWorkerThread::Start(bool updateSet) {
  if (m_Thread && !m_Thread->Finished()) {
    trace(trace_bits::kThreads, "Worker Thread (%s): Start: the thread is already running.\n",
          m_Name.c_str());
    return;
  }
  if (!WaitForDetachedThread(0)) {
    trace(trace_bits::kThreads, "Worker Thread (%s): Start: the stopped thread has not ended yet.\n",
          m_Name.c_str());
    return;
  }
  // A thread that ended by itself leaves its handle and events to be released here.
  m_Thread.reset();
  CloseEvents();
  CreateEvents(updateSet);
  // Cleared before the thread exists, so that WaitForCompletion right after
  // Start cannot see the previous run's value.
  m_Finished.store(0);
  m_Thread = platform::Thread::Start([this] { return ThreadProcedure(); });
  if (!m_Thread) {
    m_Finished.store(1);
    trace(trace_bits::kThreads, "Worker Thread (%s): Unable to create thread!\n", m_Name.c_str());
    return;
  }
  m_ThreadId.store(m_Thread->Id());
}

void CWorkerThread::CreateEvents(bool updateSet) {
  m_StopEvent = platform::Event::Create(true, false);
  if (!m_StopEvent) {
    DWORD error = platform::GetLastError();
    ReportCannotCreate("Stop", m_Name, error);
    trace(trace_bits::kThreads, "Worker Thread (%s): Unable to create stop thread!\n", m_Name.c_str());
  }

  auto createUpdate = [&](bool everyoneMayOpen) -> std::unique_ptr<platform::Event> {
    if (m_UpdateEventName.empty()) return platform::Event::Create(false, updateSet);
    std::unique_ptr<platform::Event> event =
        platform::Event::CreateNamed(m_UpdateEventName, false, updateSet, everyoneMayOpen);
    // Opening an event that another process holds keeps its state; a first
    // run that was asked for must still happen.
    if (event && updateSet && platform::GetLastError() == platform::kErrorAlreadyExists) {
      event->Set();
    }
    return event;
  };
  // Every user of the machine may open, set and wait on the update event.
  m_UpdateEvent = createUpdate(true);
  if (!m_UpdateEvent) {
    trace(trace_bits::kThreads, "Worker Thread (%s): Unable to create secure update event: Error %d\n",
          m_Name.c_str(), static_cast<int>(platform::GetLastError()));
    m_UpdateEvent = createUpdate(false);
    if (!m_UpdateEvent) {
      DWORD error = platform::GetLastError();
      ReportCannotCreate("Update", m_Name, error);
      trace(trace_bits::kThreads, "Worker Thread (%s): Unable to create any update event: Error %d\n",
            m_Name.c_str(), static_cast<int>(error));
    }
  }
  m_WaitTable[0] = m_StopEvent.get();
  m_WaitTable[1] = m_UpdateEvent.get();
}

void CWorkerThread::CloseEvents() {
  m_StopEvent.reset();
  m_UpdateEvent.reset();
  m_WaitTable[0] = nullptr;
  m_WaitTable[1] = nullptr;
}

void CWorkerThread::Stop(DWORD seconds) {
  bool detached = false;
  if (m_Thread) {
    trace(trace_bits::kThreads, "Worker Thread (%s): Stop: Setting stop event.\n", m_Name.c_str());
    bool set = m_StopEvent && m_StopEvent->Set();
    bool ended = set && platform::WaitForSingleObject(*m_Thread, SecondsToMilliseconds(seconds)) ==
                            platform::kWaitObject0;
    trace(trace_bits::kThreads, "Worker Thread 0x%X (%s): Stop: Thread %s.\n", m_ThreadId.load(),
          m_Name.c_str(), ended ? "stopped successfully" : "TERMINATED");
    if (!ended && !m_Thread->Finished()) {
      // A thread cannot be ended safely from outside: it is left to finish on
      // its own and keeps its events (and the wait table) until it does.
      m_Detached.thread = std::move(m_Thread);
      m_Detached.stop = std::move(m_StopEvent);
      m_Detached.update = std::move(m_UpdateEvent);
      detached = true;
    }
    m_Thread.reset();
    m_Finished.store(1);
  }
  if (!detached) CloseEvents();
}

int CWorkerThread::WaitForCompletion(DWORD seconds) {
  if (!m_Thread || m_Finished.load() != 0) return m_Finished.load();
  platform::WaitForSingleObject(*m_Thread, SecondsToMilliseconds(seconds));
  return m_Finished.load();
}

bool CWorkerThread::WaitForDetachedThread(DWORD milliseconds) {
  if (!m_Detached.thread) return true;
  if (platform::WaitForSingleObject(*m_Detached.thread, milliseconds) != platform::kWaitObject0) {
    return false;
  }
  m_Detached = Detached{};
  m_WaitTable[0] = nullptr;
  m_WaitTable[1] = nullptr;
  return true;
}

int CWorkerThread::AddUserEvent(platform::Waitable* event) {
  if (event == nullptr || m_HandleCount >= kWaitTableSize) return kUserEventRefused;
  m_WaitTable[m_HandleCount] = event;
  return static_cast<int>(m_HandleCount++) - 1;
}

void CWorkerThread::RemoveUserEvent(platform::Waitable* event) {
  for (DWORD i = 2; i < m_HandleCount; ++i) {
    if (m_WaitTable[i] != event) continue;
    std::copy(m_WaitTable.begin() + i + 1, m_WaitTable.begin() + m_HandleCount,
              m_WaitTable.begin() + i);
    m_WaitTable[--m_HandleCount] = nullptr;
    return;
  }
}

// --- the thread's side --------------------------------------------------------------

DWORD CWorkerThread::ThreadProcedure() {
  const DWORD id = platform::GetCurrentThreadId();
  trace(trace_bits::kThreads, "Worker Thread 0x%X (%s): Thread beginning.\n", id, m_Name.c_str());
  try {
    m_ExitCode.store(WorkerThreadRun());
  } catch (...) {
    trace(trace_bits::kThreads, "Worker Thread 0x%X (%s): WorkerThreadRun threw uncaught exception.\n", id,
          m_Name.c_str());
  }
  const DWORD code = m_ExitCode.load();
  trace(trace_bits::kThreads, "Worker Thread 0x%X (%s): Thread ending with code %d.\n", id, m_Name.c_str(),
        static_cast<int>(code));
  m_Finished.store(1);
  return code;
}

int CWorkerThread::WaitFor(std::int32_t seconds, bool acceptUpdates) {
  if (seconds < 0) seconds = 0;
  if (seconds != 0) {
    const std::time_t now = std::time(nullptr);
    const int hours = seconds / 3600;
    const int minutes = seconds / 60 - hours * 60;
    trace(trace_bits::kThreads, "Worker Thread (%s): %s: Sleeping for %d:%02d:%02d until %s\n",
          m_Name.c_str(), LocalTimeText(now, "%c").c_str(), hours, minutes,
          static_cast<int>(seconds % 60), LocalTimeText(now + seconds, "%X").c_str());
  }

  // An entry whose event could not be created never fires, rather than
  // failing every wait.
  const DWORD count = acceptUpdates ? m_HandleCount : 1;
  std::array<platform::Waitable*, kWaitTableSize> objects {};
  std::array<DWORD, kWaitTableSize> positions {};
  DWORD used = 0;
  for (DWORD i = 0; i < count; ++i) {
    if (m_WaitTable[i] == nullptr) continue;
    objects[used] = m_WaitTable[i];
    positions[used++] = i;
  }
  const std::uint64_t milliseconds = static_cast<std::uint64_t>(seconds) * 1000;
  const DWORD result = used == 0 ? platform::kWaitFailed
                                 : WaitAtMost(std::span(objects.data(), used), milliseconds);

  int code;
  const char* reason;
  if (result == platform::kWaitTimeout) {
    code = kWakeTimeout;
    reason = "Update event triggered (timeout)";
  } else if (result < used) {
    const DWORD position = positions[result];
    code = position == 0 ? kWakeStop : position == 1 ? kWakeUpdate : static_cast<int>(position) - 1;
    reason = position == 0   ? "Stop event received"
             : position == 1 ? "Update event triggered (named event)"
                             : "Update event triggered (by user event)";
  } else if (result >= platform::kWaitAbandoned0 && result < platform::kWaitAbandoned0 + used) {
    code = static_cast<int>(positions[result - platform::kWaitAbandoned0]) - 1;
    reason = "User event abandoned";
  } else {
    // A failed wait returns at once. Sleep the span away (still ending early
    // on the stop event), so that a body looping over it keeps its pace.
    code = kWakeFailed;
    reason = "User event abandoned";
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    for (;;) {
      if (m_WaitTable[0] != nullptr &&
          platform::WaitForSingleObject(*m_WaitTable[0], 0) == platform::kWaitObject0) {
        code = kWakeStop;
        reason = "Stop event received";
        break;
      }
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) break;
      platform::Sleep(static_cast<DWORD>(
          std::min<std::int64_t>(left.count(), static_cast<std::int64_t>(kFailedWaitSliceMs))));
    }
  }

  // A zero-span poll is silent unless it finds the stop event set.
  if (seconds != 0 || code == kWakeStop) {
    trace(trace_bits::kThreads, "Worker Thread (%s): %s: %s, Code=%d\n", m_Name.c_str(),
          LocalTimeText(std::time(nullptr), "%c").c_str(), reason, code);
  }
  return code;
}

int CWorkerThread::WaitUntil(std::time_t when, bool acceptUpdates) {
  const std::time_t now = std::time(nullptr);
  const std::time_t span = when > now ? std::min<std::time_t>(when - now, INT32_MAX) : 0;
  return WaitFor(static_cast<std::int32_t>(span), acceptUpdates);
}
