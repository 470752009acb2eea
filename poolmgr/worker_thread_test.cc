#include "poolmgr/worker_thread.h"

#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/registry.h"
#include "platform/sync.h"
#include "platform/testing.h"
#include "platform/trace.h"
#include "base/eventually_testing.h"

ZONDREL_TRACE_MODULE("workertest")

namespace {

using poolmgr_testing::Eventually;
using namespace std::chrono_literals;

// A worker whose body is given by the test.
class ScriptedWorker : public CWorkerThread {
 public:
  using Body = std::function<platform::DWORD(ScriptedWorker&)>;
  ScriptedWorker(std::string name, std::string updateEvent, Body body)
      : CWorkerThread(std::move(name), std::move(updateEvent)), body_(std::move(body)) {}
  ~ScriptedWorker() override { Stop(15); }

  using CWorkerThread::WaitFor;
  using CWorkerThread::WaitUntil;

  void Record(int code) {
    std::lock_guard<std::mutex> hold(lock_);
    codes_.push_back(code);
  }
  std::vector<int> Codes() {
    std::lock_guard<std::mutex> hold(lock_);
    return codes_;
  }

 protected:
  platform::DWORD WorkerThreadRun() override { return body_(*this); }

 private:
  Body body_;
  std::mutex lock_;
  std::vector<int> codes_;
};

// The usual body: wait a period with updates accepted until stopped.
ScriptedWorker::Body PeriodicBody(std::int32_t period) {
  return [period](ScriptedWorker& self) -> platform::DWORD {
    int code;
    while ((code = self.WaitFor(period, true)) != CWorkerThread::kWakeStop) self.Record(code);
    self.Record(code);
    return 7;
  };
}

class WorkerThreadTest : public testing::Test {
 protected:
  // Each test traces to a file of its own.
  void SetUp() override {
    base_ = testing_support::MakeTempDir("trace") + "/trace";
    // Without the value the next line closes an earlier test's file ...
    testing_support::SetTraceFilenameSetting(nullptr);
    ModuleTraceLog().Reload();
    trace(0x80, "-- closing --\n");
    // ... and with it the next line opens this test's file.
    testing_support::SetTraceFilenameSetting(base_.c_str());
    ModuleTraceLog().Reload();
    trace(0x80, "-- %s --\n", testing::UnitTest::GetInstance()->current_test_info()->name());
  }

  std::string TraceText() {
    ModuleTraceLog().Flush();
    return testing_support::ReadFile(base_ + ".workertest");
  }

  static int Count(const std::string& text, const std::string& what) {
    int count = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++count;
    return count;
  }

  std::string base_;
};

// Sets a named event from another process, the way the administration
// program forces a run.
void SetNamedEventFromAnotherProcess(const std::string& name) {
  std::string tool = testing_support::ProgramPath("zondrelctl");
  if (std::filesystem::exists(tool)) {
    testing_support::RunResult result = testing_support::Run({tool, "event", "set", name}, {}, 20s);
    ASSERT_EQ(result.exit_code, 0) << result.error;
    return;
  }
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    std::unique_ptr<platform::Event> event = platform::Event::OpenNamed(name);
    ::_exit(event && event->Set() ? 0 : 3);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  ASSERT_EQ(WEXITSTATUS(status), 0);
}

TEST_F(WorkerThreadTest, StartedWithUpdateSetRunsAtOnceAndTracesItsSleep) {
  ScriptedWorker worker("TestAgent", "TestBuildFile", PeriodicBody(3725));
  worker.Start(true);
  ASSERT_TRUE(Eventually([&] { return !worker.Codes().empty(); }));
  EXPECT_EQ(worker.Codes()[0], CWorkerThread::kWakeUpdate);
  worker.Stop(5);
  EXPECT_EQ(worker.WaitForCompletion(0), 1);
  EXPECT_EQ(worker.ExitCode(), 7u);
  EXPECT_EQ(worker.Codes().back(), CWorkerThread::kWakeStop);

  std::string text = TraceText();
  EXPECT_EQ(Count(text, "(TestAgent): Thread beginning.\n"), 1) << text;
  EXPECT_NE(text.find(": Sleeping for 1:02:05 until "), std::string::npos) << text;
  EXPECT_NE(text.find(": Update event triggered (named event), Code=-2\n"), std::string::npos);
  EXPECT_NE(text.find(": Stop event received, Code=0\n"), std::string::npos);
  EXPECT_NE(text.find("Worker Thread (TestAgent): Stop: Setting stop event.\n"), std::string::npos);
  EXPECT_NE(text.find("(TestAgent): Stop: Thread stopped successfully.\n"), std::string::npos);
  EXPECT_NE(text.find("(TestAgent): Thread ending with code 7.\n"), std::string::npos);
}

TEST_F(WorkerThreadTest, NamedEventSetByAnotherProcessWakesWithMinusTwo) {
  ScriptedWorker worker("RemoteWake", "TestRemoteWake", PeriodicBody(3600));
  worker.Start(false);
  ASSERT_TRUE(Eventually([&] { return TraceText().find("Sleeping for 1:00:00") != std::string::npos; }));
  SetNamedEventFromAnotherProcess("TestRemoteWake");
  ASSERT_TRUE(Eventually([&] { return !worker.Codes().empty(); }));
  EXPECT_EQ(worker.Codes(), std::vector<int>{CWorkerThread::kWakeUpdate});
  // One set gives one run; the next sleep is a full period again.
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(worker.Codes().size(), 1u);
  EXPECT_EQ(Count(TraceText(), "Sleeping for 1:00:00"), 2);
  worker.Stop(5);
}

TEST_F(WorkerThreadTest, WaitWithoutUpdatesIgnoresTheUpdateEventAndPollsSilently) {
  std::atomic<bool> polled{false};
  ScriptedWorker worker("NoUpdates", "", [&](ScriptedWorker& self) -> platform::DWORD {
    // The update event is set from the start but not accepted.
    self.Record(self.WaitFor(1, false));
    auto before = std::chrono::steady_clock::now();
    for (int i = 0; i < 500; ++i) {
      int code = self.WaitFor(0, false);
      if (code != CWorkerThread::kWakeTimeout) self.Record(code);
    }
    EXPECT_LT(std::chrono::steady_clock::now() - before, 2s);
    self.Record(self.WaitFor(0, true));  // now it counts
    polled.store(true);
    while (self.WaitFor(0, false) != CWorkerThread::kWakeStop) platform::Sleep(1);
    self.Record(CWorkerThread::kWakeStop);
    return 0;
  });
  worker.Start(true);
  ASSERT_TRUE(Eventually([&] { return polled.load(); }));
  worker.Stop(5);
  EXPECT_EQ(worker.Codes(), (std::vector<int>{CWorkerThread::kWakeTimeout, CWorkerThread::kWakeUpdate,
                                              CWorkerThread::kWakeStop}));
  std::string text = TraceText();
  // One line for the 1-second wait, none for the 501 polls that found
  // nothing, one for the poll that found the stop event.
  EXPECT_EQ(Count(text, ", Code="), 2) << text;
  EXPECT_EQ(Count(text, "Update event triggered (timeout), Code=-1\n"), 1);
  EXPECT_EQ(Count(text, "Stop event received, Code=0\n"), 1);
}

TEST_F(WorkerThreadTest, StopOnANeverStartedObjectTracesNothing) {
  {
    ScriptedWorker worker("NeverStarted", "TestNever", PeriodicBody(60));
    EXPECT_EQ(worker.WaitForCompletion(1), 1);
    worker.Stop(1);
    EXPECT_EQ(worker.WaitForCompletion(1), 1);
  }
  EXPECT_EQ(TraceText().find("(NeverStarted)"), std::string::npos);
}

TEST_F(WorkerThreadTest, FinishedFlagAndRestarts) {
  std::atomic<int> runs{0};
  auto gate = platform::Event::Create(true, false);
  ScriptedWorker worker("OneShot", "", [&](ScriptedWorker&) -> platform::DWORD {
    platform::WaitForSingleObject(*gate, 10000);
    return static_cast<platform::DWORD>(runs.fetch_add(1) + 40);
  });
  worker.Start(false);
  // Cleared before the thread exists.
  EXPECT_EQ(worker.WaitForCompletion(0), 0);
  gate->Set();
  EXPECT_EQ(worker.WaitForCompletion(5), 1);
  EXPECT_EQ(worker.ExitCode(), 40u);
  // The body ended by itself; Start releases its handle and starts anew.
  worker.Start(false);
  EXPECT_EQ(worker.WaitForCompletion(5), 1);
  EXPECT_EQ(worker.ExitCode(), 41u);
  worker.Stop(5);
  EXPECT_EQ(Count(TraceText(), "(OneShot): Stop: Thread stopped successfully.\n"), 1);
}

TEST_F(WorkerThreadTest, EscapingExceptionKeepsThePreviousExitCode) {
  std::atomic<bool> fail{false};
  ScriptedWorker worker("Thrower", "", [&](ScriptedWorker&) -> platform::DWORD {
    if (fail.load()) throw std::runtime_error("broken");
    return 5;
  });
  worker.Start(false);
  ASSERT_EQ(worker.WaitForCompletion(5), 1);
  fail.store(true);
  worker.Start(false);
  ASSERT_EQ(worker.WaitForCompletion(5), 1);
  EXPECT_EQ(worker.ExitCode(), 5u);
  std::string text = TraceText();
  EXPECT_EQ(Count(text, "(Thrower): WorkerThreadRun threw uncaught exception.\n"), 1);
  EXPECT_EQ(Count(text, "(Thrower): Thread ending with code 5.\n"), 2);
}

TEST_F(WorkerThreadTest, UserEventsGiveTheirCodesAndTheTableNeverOverruns) {
  std::vector<std::unique_ptr<platform::Event>> events;
  ScriptedWorker worker("Users", "", PeriodicBody(30));
  for (int i = 0; i < 63; ++i) events.push_back(platform::Event::Create(false, false));
  for (int i = 0; i < 62; ++i) EXPECT_EQ(worker.AddUserEvent(events[static_cast<std::size_t>(i)].get()), i + 1);
  EXPECT_EQ(worker.AddUserEvent(events[62].get()), CWorkerThread::kUserEventRefused);
  EXPECT_EQ(worker.AddUserEvent(nullptr), CWorkerThread::kUserEventRefused);
  // Removing the first shifts the others down by one.
  worker.RemoveUserEvent(events[0].get());
  EXPECT_EQ(worker.AddUserEvent(events[62].get()), 62);

  worker.Start(false);
  events[4]->Set();  // was code 5, now 4
  ASSERT_TRUE(Eventually([&] { return worker.Codes().size() == 1; }));
  events[62]->Set();
  ASSERT_TRUE(Eventually([&] { return worker.Codes().size() == 2; }));
  worker.Stop(5);
  EXPECT_EQ(worker.Codes(), (std::vector<int>{4, 62, CWorkerThread::kWakeStop}));
  EXPECT_EQ(Count(TraceText(), "Update event triggered (by user event), Code="), 2);
}

// A waitable whose wait always fails.
class BrokenWaitable : public platform::Waitable {
 protected:
  bool TryTake() override { return false; }
  std::atomic<std::uint32_t>* Word() override { return nullptr; }
};

TEST_F(WorkerThreadTest, FailingWaitKeepsThePeriodInsteadOfSpinning) {
  BrokenWaitable broken;
  ScriptedWorker worker("Failing", "", PeriodicBody(1));
  ASSERT_EQ(worker.AddUserEvent(&broken), 1);
  auto before = std::chrono::steady_clock::now();
  worker.Start(false);
  std::this_thread::sleep_for(2500ms);
  worker.Stop(5);
  auto elapsed = std::chrono::steady_clock::now() - before;
  std::vector<int> codes = worker.Codes();
  ASSERT_FALSE(codes.empty());
  EXPECT_EQ(codes.back(), CWorkerThread::kWakeStop);
  // About one failed wait per second, and the stop still ends the last one early.
  EXPECT_GE(codes.size(), 2u);
  EXPECT_LE(codes.size(), 4u);
  for (std::size_t i = 0; i + 1 < codes.size(); ++i) EXPECT_EQ(codes[i], CWorkerThread::kWakeFailed);
  EXPECT_LT(elapsed, 4s);
}

// A thread cannot be ended safely from outside. One that ignores the stop
// is reported "TERMINATED", left to finish on its own, and keeps its events
// until it does.
TEST_F(WorkerThreadTest, ThreadThatOutlivesStopIsLeftToFinish) {
  auto gate = platform::Event::Create(true, false);
  ScriptedWorker worker("Stubborn", "TestStubborn", [&](ScriptedWorker& self) -> platform::DWORD {
    platform::WaitForSingleObject(*gate, 20000);
    self.Record(self.WaitFor(0, false));  // the stop event is still there, and set
    return 3;
  });
  worker.Start(false);
  auto before = std::chrono::steady_clock::now();
  worker.Stop(1);
  EXPECT_LT(std::chrono::steady_clock::now() - before, 5s);
  EXPECT_EQ(worker.WaitForCompletion(0), 1);
  EXPECT_FALSE(worker.WaitForDetachedThread(0));
  // No second thread while the first still runs.
  worker.Start(false);
  EXPECT_FALSE(worker.WaitForDetachedThread(0));

  gate->Set();
  EXPECT_TRUE(worker.WaitForDetachedThread(10000));
  EXPECT_EQ(worker.Codes(), std::vector<int>{CWorkerThread::kWakeStop});
  EXPECT_EQ(worker.ExitCode(), 3u);
  std::string text = TraceText();
  EXPECT_EQ(Count(text, "(Stubborn): Stop: Thread TERMINATED.\n"), 1) << text;
  EXPECT_EQ(Count(text, "(Stubborn): Start: the stopped thread has not ended yet.\n"), 1);
  EXPECT_EQ(Count(text, "(Stubborn): Thread beginning.\n"), 1);
  // Started again once it is gone.
  gate->Reset();
  worker.Start(false);
  gate->Set();
  EXPECT_EQ(worker.WaitForCompletion(5), 1);
}

TEST_F(WorkerThreadTest, WaitUntilAPastTimeDoesNotBlock) {
  std::atomic<bool> done{false};
  ScriptedWorker worker("Until", "", [&](ScriptedWorker& self) -> platform::DWORD {
    self.Record(self.WaitUntil(std::time(nullptr) - 100, true));
    self.Record(self.WaitUntil(std::time(nullptr) + 1, false));
    done.store(true);
    return 0;
  });
  worker.Start(false);
  ASSERT_TRUE(Eventually([&] { return done.load(); }));
  EXPECT_EQ(worker.Codes(), (std::vector<int>{CWorkerThread::kWakeTimeout, CWorkerThread::kWakeTimeout}));
}

}  // namespace
