#include "poolmgr/pool_manager.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <sched.h>

#include "platform/sync.h"
#include "base/eventually_testing.h"
#include "poolmgr/pool_results.h"

namespace {

using poolmgr_testing::Eventually;
using namespace std::chrono_literals;

// What the test threads report back.
struct Probe {
  struct JobRecord {
    int job;
    const void* thread;  // the thread object that ran it
    int slotIndex;
    platform::DWORD threadId;
    int policy;  // the thread's scheduling policy
  };

  std::atomic<int> created{0};
  std::atomic<int> destroyed{0};
  std::atomic<int> jobsRun{0};
  std::atomic<int> stopCalls{0};
  std::atomic<int> lastStopResult{-1};
  std::atomic<bool> failFactory{false};
  // Jobs that block wait for this.
  std::unique_ptr<platform::Event> release = platform::Event::Create(true, false);
  std::mutex lock;
  std::vector<JobRecord> records;

  std::vector<JobRecord> Records() {
    std::lock_guard<std::mutex> hold(lock);
    return records;
  }
  int JobsStarted() {
    std::lock_guard<std::mutex> hold(lock);
    return static_cast<int>(records.size());
  }
};

class TestParams : public QRThreadParams {
 public:
  TestParams() = default;
  TestParams(int jobNumber, bool blocks) : job(jobNumber), block(blocks) {}
  int Assign(const QRThreadParams& other) override {
    QRThreadParams::Assign(other);
    const auto& params = static_cast<const TestParams&>(other);
    job = params.job;
    block = params.block;
    ends = params.ends;
    return 0;
  }
  int job = 0;
  bool block = false;
  bool ends = false;  // the thread ends after this job
};

// The shape of the server's pool threads: a job loop that honours a stop flag.
class TestThread : public QRPoolThread {
 public:
  TestThread(Probe* probe, bool honoursStop, platform::DWORD stopWaitMs)
      : probe_(probe), honours_stop_(honoursStop) {
    m_Params = &params_;
    m_StopWaitMs = stopWaitMs;
    probe_->created.fetch_add(1);
  }
  ~TestThread() override { probe_->destroyed.fetch_add(1); }

 protected:
  void Run() override {
    while (!stop_.load()) {
      UpdateActivityTime();
      {
        std::lock_guard<std::mutex> hold(probe_->lock);
        probe_->records.push_back(
            {params_.job, this, m_Slot->m_SlotIndex, platform::GetCurrentThreadId(), ::sched_getscheduler(0)});
      }
      if (params_.block) {
        platform::Waitable* gates[] = {probe_->release.get(), stop_event_.get()};
        platform::WaitForMultipleObjects(gates, honours_stop_ ? platform::kInfinite : 30000);
      }
      probe_->jobsRun.fetch_add(1);
      if (stop_.load()) Kill();
      if (params_.ends) break;
      if (!Recycle(eThdIdle)) return;
    }
    (void)Recycle(eThdEnded);
  }

  int StopWorkingNow() override {
    probe_->stopCalls.fetch_add(1);
    if (honours_stop_) {
      stop_.store(true);
      stop_event_->Set();
    }
    int result = QRPoolThread::StopWorkingNow();
    probe_->lastStopResult.store(result);
    return result;
  }

 private:
  Probe* probe_;
  bool honours_stop_;
  TestParams params_;
  std::atomic<bool> stop_{false};
  std::unique_ptr<platform::Event> stop_event_ = platform::Event::Create(true, false);
};

class TestFactory : public QRPoolThreadFactory {
 public:
  explicit TestFactory(Probe* probe, bool honoursStop = true, platform::DWORD stopWaitMs = 20000)
      : probe_(probe), honours_stop_(honoursStop), stop_wait_ms_(stopWaitMs) {}
  QRPoolThread* CreatePoolThread() override {
    if (probe_->failFactory.load()) return nullptr;
    return new TestThread(probe_, honours_stop_, stop_wait_ms_);
  }

 private:
  Probe* probe_;
  bool honours_stop_;
  platform::DWORD stop_wait_ms_;
};

struct Summary {
  int slots = 0, idle = 0, reserved = 0, working = 0, ended = 0, expired = 0;
  float average = 0;
  int result = 0;
};

Summary Summarize(QRPoolManager& pool) {
  Summary s;
  s.result = pool.GatherSummaryStats(s.slots, s.idle, s.reserved, s.working, s.ended, s.expired,
                                     s.average);
  return s;
}

struct CleanerStats {
  int ended = 0, expired = 0, deadbeats = 0;
  int result = 0;
};

CleanerStats Cleaner(QRPoolManager& pool) {
  CleanerStats s;
  s.result = pool.GatherCleanerStats(s.ended, s.expired, s.deadbeats);
  return s;
}

constexpr platform::DWORD kLongIdle = 600000;

class PoolManagerTest : public testing::Test {
 protected:
  // A pool on the test's factory, opened with `depth` slots.
  QRPoolManager& OpenedPool(int depth, platform::DWORD idleExpiryMs = kLongIdle,
                            platform::DWORD deadbeatSeconds = 180000, platform::DWORD lowWater = 5) {
    pools_.push_back(
        std::make_unique<QRPoolManager>(&factory_, deadbeatSeconds, idleExpiryMs, lowWater));
    EXPECT_EQ(pools_.back()->OpenPool(depth), 0);
    return *pools_.back();
  }

  Probe probe_;
  TestFactory factory_{&probe_};

 private:
  std::vector<std::unique_ptr<QRPoolManager>> pools_;  // closed before the factory goes
};

TEST_F(PoolManagerTest, ArgumentAndStateCodes) {
  QRPoolManager noFactory(nullptr, 180000, kLongIdle, 5);
  EXPECT_EQ(noFactory.OpenPool(3), poolmgr::kPoolNoFactory);
  TestParams params;
  EXPECT_EQ(noFactory.IssueThread(&params), poolmgr::kPoolNotOpen);

  QRPoolManager pool(&factory_, 180000, kLongIdle, 5);
  EXPECT_EQ(pool.StartPoolCleaner(1000), poolmgr::kPoolNotOpen);
  EXPECT_EQ(Summarize(pool).result, poolmgr::kPoolNotOpen);
  EXPECT_EQ(pool.IncreaseDepthTo(5), poolmgr::kPoolNotOpen);

  ASSERT_EQ(pool.OpenPool(2), 0);
  EXPECT_EQ(Cleaner(pool).result, poolmgr::kPoolCleanerNotRunning);
  EXPECT_EQ(pool.StopPoolCleaner(), poolmgr::kPoolCleanerNotRunning);
  EXPECT_EQ(pool.StartPoolCleaner(0), poolmgr::kPoolCleanerIntervalZero);
  EXPECT_EQ(pool.IncreaseDepthTo(2), poolmgr::kPoolDepthNotGreater);
  EXPECT_EQ(pool.IncreaseDepthBy(0), poolmgr::kPoolNotOpen);
  EXPECT_EQ(pool.IncreaseDepthBy(-1), poolmgr::kPoolNotOpen);

  // A second OpenPool changes nothing.
  ASSERT_EQ(pool.IssueThread(&params), 0);
  EXPECT_EQ(pool.OpenPool(7), poolmgr::kPoolAlreadyOpen);
  Summary s = Summarize(pool);
  EXPECT_EQ(s.slots, 2);
  ASSERT_TRUE(Eventually([&] { return Summarize(pool).idle == 1; }));
  EXPECT_EQ(probe_.created.load(), 1);

  EXPECT_EQ(pool.IncreaseDepthTo(4), 0);
  EXPECT_EQ(pool.IncreaseDepthBy(2), 0);
  EXPECT_EQ(Summarize(pool).slots, 6);

  EXPECT_EQ(pool.StartPoolCleaner(60000), 0);
  EXPECT_EQ(pool.StartPoolCleaner(60000), poolmgr::kPoolCleanerRunning);
  EXPECT_EQ(Cleaner(pool).result, 0);
  EXPECT_EQ(pool.StopPoolCleaner(), 0);
  EXPECT_EQ(Cleaner(pool).result, poolmgr::kPoolCleanerNotRunning);

  EXPECT_EQ(pool.ClosePoolEasy(), 0);
  EXPECT_EQ(pool.IssueThread(&params), poolmgr::kPoolNotOpen);
  EXPECT_EQ(probe_.destroyed.load(), 1);
  // Closed pools open again.
  EXPECT_EQ(pool.OpenPool(1), 0);
}

TEST_F(PoolManagerTest, DepthZeroAndFullPoolsRefuseAtOnce) {
  QRPoolManager& empty = OpenedPool(0);
  TestParams params(1, true);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(empty.IssueThread(&params), poolmgr::kPoolFull);
  EXPECT_EQ(probe_.created.load(), 0);

  QRPoolManager& pool = OpenedPool(2);
  ASSERT_EQ(pool.IssueThread(&params), 0);
  ASSERT_EQ(pool.IssueThread(&params), 0);
  ASSERT_TRUE(Eventually([&] { return probe_.JobsStarted() == 2; }));
  auto before = std::chrono::steady_clock::now();
  EXPECT_EQ(pool.IssueThread(&params), poolmgr::kPoolFull);
  EXPECT_LT(std::chrono::steady_clock::now() - before, 500ms);
  EXPECT_EQ(Summarize(pool).working, 2);

  probe_.release->Set();
  ASSERT_TRUE(Eventually([&] { return Summarize(pool).idle == 2; }));
  EXPECT_EQ(probe_.jobsRun.load(), 2);
}

TEST_F(PoolManagerTest, JobGoesToLowestIdleThreadWithoutCreatingOne) {
  QRPoolManager& pool = OpenedPool(4);
  TestParams blocking(0, true);
  for (int i = 0; i < 3; ++i) {
    blocking.job = i;
    ASSERT_EQ(pool.IssueThread(&blocking), 0);
  }
  ASSERT_TRUE(Eventually([&] { return probe_.JobsStarted() == 3; }));
  // By slot: job i went to slot i.
  std::vector<Probe::JobRecord> first(3);
  for (const Probe::JobRecord& record : probe_.Records()) {
    ASSERT_EQ(record.slotIndex, record.job);
    ASSERT_LT(record.slotIndex, 3);
    // Woken threads leave the processor to whoever woke them.
    EXPECT_EQ(record.policy, SCHED_BATCH);
    first[static_cast<std::size_t>(record.slotIndex)] = record;
  }
  probe_.release->Set();
  ASSERT_TRUE(Eventually([&] { return Summarize(pool).idle == 3; }));
  probe_.release->Reset();

  // Slot 0 is taken by a blocking job; the next job goes to slot 1.
  blocking.job = 10;
  ASSERT_EQ(pool.IssueThread(&blocking), 0);
  TestParams quick(11, false);
  ASSERT_EQ(pool.IssueThread(&quick), 0);
  ASSERT_TRUE(Eventually([&] { return probe_.JobsStarted() == 5; }));
  std::vector<Probe::JobRecord> records = probe_.Records();
  auto find = [&](int job) {
    for (const auto& r : records) {
      if (r.job == job) return r;
    }
    return Probe::JobRecord{-1, nullptr, -1, 0, -1};
  };
  EXPECT_EQ(find(10).slotIndex, 0);
  EXPECT_EQ(find(10).thread, first[0].thread);
  EXPECT_EQ(find(10).threadId, first[0].threadId);
  EXPECT_EQ(find(11).slotIndex, 1);
  EXPECT_EQ(find(11).threadId, first[1].threadId);
  EXPECT_EQ(probe_.created.load(), 3);
  probe_.release->Set();
  ASSERT_TRUE(Eventually([&] { return Summarize(pool).idle == 3; }));
  Summary s = Summarize(pool);
  EXPECT_FLOAT_EQ(s.average, 5.0f / 3.0f);
}

TEST_F(PoolManagerTest, FactoryFailureGivesTheSlotBack) {
  QRPoolManager& pool = OpenedPool(1);
  TestParams params(1, false);
  probe_.failFactory.store(true);
  EXPECT_EQ(pool.IssueThread(&params), poolmgr::kPoolNoThreadObject);
  EXPECT_EQ(pool.IssueThread(&params), poolmgr::kPoolNoThreadObject);
  probe_.failFactory.store(false);
  EXPECT_EQ(pool.IssueThread(&params), 0);
  ASSERT_TRUE(Eventually([&] { return probe_.jobsRun.load() == 1; }));
}

TEST_F(PoolManagerTest, ExpiredIdleThreadIsReapedAndItsSlotGetsAFreshThread) {
  QRPoolManager& pool = OpenedPool(2, /*idleExpiryMs=*/100);
  ASSERT_EQ(pool.StartPoolCleaner(50), 0);
  TestParams params(1, false);
  ASSERT_EQ(pool.IssueThread(&params), 0);
  ASSERT_TRUE(Eventually([&] { return Cleaner(pool).expired == 1; }));
  EXPECT_EQ(Cleaner(pool).ended, 0);
  ASSERT_TRUE(Eventually([&] { return probe_.destroyed.load() == 1; }));
  Summary s = Summarize(pool);
  EXPECT_EQ(s.idle + s.working + s.ended + s.expired, 0);

  params.job = 2;
  ASSERT_EQ(pool.IssueThread(&params), 0);
  ASSERT_TRUE(Eventually([&] { return probe_.jobsRun.load() == 2; }));
  std::vector<Probe::JobRecord> records = probe_.Records();
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[1].slotIndex, 0);
  EXPECT_EQ(probe_.created.load(), 2);
}

// The cleaner's next scan is ten minutes away: the slot of a thread that has
// ended or expired takes the next job all the same, with a fresh thread, and
// is counted as reaped.
TEST_F(PoolManagerTest, SlotsOfEndedAndExpiredThreadsTakeNewJobsWithoutWaitingForTheCleaner) {
  QRPoolManager& pool = OpenedPool(2, /*idleExpiryMs=*/50);
  ASSERT_EQ(pool.StartPoolCleaner(kLongIdle), 0);
  TestParams ending(1, true);
  ending.ends = true;
  TestParams expiring(2, true);
  ASSERT_EQ(pool.IssueThread(&ending), 0);
  ASSERT_EQ(pool.IssueThread(&expiring), 0);
  ASSERT_TRUE(Eventually([&] { return probe_.JobsStarted() == 2; }));
  probe_.release->Set();
  ASSERT_TRUE(Eventually([&] {
    Summary s = Summarize(pool);
    return s.ended == 1 && s.expired == 1;
  }));
  probe_.release->Reset();

  // A thread may still be on its way out just after it marked its slot.
  TestParams next(3, true);
  for (int job : {3, 4}) {
    next.job = job;
    ASSERT_TRUE(Eventually([&] { return pool.IssueThread(&next) == 0; }, 2s)) << "job " << job;
  }
  ASSERT_TRUE(Eventually([&] { return probe_.JobsStarted() == 4; }));
  EXPECT_EQ(pool.IssueThread(&next), poolmgr::kPoolFull);
  CleanerStats reaped = Cleaner(pool);
  EXPECT_EQ(reaped.ended, 1);
  EXPECT_EQ(reaped.expired, 1);
  EXPECT_EQ(probe_.created.load(), 4);
  EXPECT_EQ(probe_.destroyed.load(), 2);
  // On new threads, one in each slot.
  std::vector<Probe::JobRecord> records = probe_.Records();
  EXPECT_EQ(records[2].slotIndex + records[3].slotIndex, 1);
  for (int i : {2, 3}) {
    EXPECT_NE(records[i].threadId, records[0].threadId);
    EXPECT_NE(records[i].threadId, records[1].threadId);
  }
  probe_.release->Set();
  ASSERT_TRUE(Eventually([&] { return probe_.jobsRun.load() == 4; }));
}

TEST_F(PoolManagerTest, DeadbeatsAreCountedUnlessTheThresholdIsTheMaximum) {
  QRPoolManager& eager = OpenedPool(1, kLongIdle, /*deadbeatSeconds=*/0);
  QRPoolManager& never = OpenedPool(1, kLongIdle, 0xFFFFFFFF);
  for (QRPoolManager* pool : {&eager, &never}) {
    ASSERT_EQ(pool->StartPoolCleaner(100), 0);
    TestParams params(1, true);
    ASSERT_EQ(pool->IssueThread(&params), 0);
  }
  // Activity more than a whole second old is stuck for a threshold of 0.
  ASSERT_TRUE(Eventually([&] { return Cleaner(eager).deadbeats >= 2; }));
  EXPECT_EQ(Cleaner(never).deadbeats, 0);
  // Stuck threads are only counted.
  EXPECT_EQ(Summarize(eager).working, 1);
  probe_.release->Set();
  ASSERT_TRUE(Eventually([&] { return probe_.jobsRun.load() == 2; }));
}

TEST_F(PoolManagerTest, NotifyEventIsSetWhileFewThreadsAreBusyAndResetByNewJobs) {
  QRPoolManager& pool = OpenedPool(3, kLongIdle, 180000, /*lowWater=*/1);
  ASSERT_EQ(pool.StartPoolCleaner(30), 0);
  std::unique_ptr<platform::Event> notify;
  ASSERT_TRUE(Eventually([&] {
    notify = platform::Event::OpenNamed(QRPoolManager::kNotifyEventName);
    return notify != nullptr;
  }));
  // No thread is busy: fewer than the low-water mark.
  ASSERT_TRUE(Eventually([&] { return notify->IsSet(); }));
  // Once one thread is busy no scan sets it again, and the jobs issued after
  // the last notify pass the low-water mark.
  TestParams blocking(1, true);
  ASSERT_EQ(pool.IssueThread(&blocking), 0);
  ASSERT_TRUE(Eventually([&] { return probe_.JobsStarted() == 1; }));
  ASSERT_EQ(pool.IssueThread(&blocking), 0);
  ASSERT_EQ(pool.IssueThread(&blocking), 0);
  EXPECT_FALSE(notify->IsSet());
  probe_.release->Set();
}

TEST_F(PoolManagerTest, ClosingStopsWorkingThreadsThroughStopWorkingNow) {
  {
    QRPoolManager pool(&factory_, 180000, kLongIdle, 5);
    ASSERT_EQ(pool.OpenPool(4), 0);
    ASSERT_EQ(pool.StartPoolCleaner(60000), 0);
    TestParams blocking(0, true);
    for (int i = 0; i < 3; ++i) ASSERT_EQ(pool.IssueThread(&blocking), 0);
    ASSERT_TRUE(Eventually([&] { return probe_.JobsStarted() == 3; }));
    TestParams quick(9, false);
    ASSERT_EQ(pool.IssueThread(&quick), 0);
    ASSERT_TRUE(Eventually([&] { return Summarize(pool).idle == 1; }));
    EXPECT_EQ(pool.ClosePoolEasy(), 0);
    EXPECT_EQ(probe_.stopCalls.load(), 3);  // the idle one is killed instead
    EXPECT_EQ(probe_.lastStopResult.load(), 0);
    EXPECT_EQ(probe_.destroyed.load(), 4);
  }
  EXPECT_EQ(probe_.destroyed.load(), 4);
}

// A thread cannot be ended safely from outside. One that ignores the stop is
// reported (8451), left running, and keeps its objects until it ends, even
// after the pool itself is gone.
TEST_F(PoolManagerTest, ThreadThatIgnoresTheStopIsLeftToFinishOnItsOwn) {
  TestFactory stubborn(&probe_, /*honoursStop=*/false, /*stopWaitMs=*/200);
  {
    QRPoolManager pool(&stubborn, 180000, kLongIdle, 5);
    ASSERT_EQ(pool.OpenPool(1), 0);
    TestParams blocking(1, true);
    ASSERT_EQ(pool.IssueThread(&blocking), 0);
    ASSERT_TRUE(Eventually([&] { return probe_.JobsStarted() == 1; }));
    auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(pool.ClosePoolEasy(), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - before, 5s);
    EXPECT_EQ(probe_.lastStopResult.load(), poolmgr::kPoolThreadTerminated);
  }
  EXPECT_EQ(probe_.destroyed.load(), 0);
  probe_.release->Set();
  // The thread finishes its job, leaves Run at its next Recycle and frees
  // its own slot and object.
  ASSERT_TRUE(Eventually([&] { return probe_.destroyed.load() == 1; }));
  EXPECT_EQ(probe_.jobsRun.load(), 1);
}

// Jobs raced against idle expiry, thread ends and reaping, by the cleaner
// and by the jobs that take the slots: every accepted job runs once, and
// every thread object is reaped (counted and deleted) once.
TEST_F(PoolManagerTest, NoAcceptedJobIsLostWhileThreadsEndExpireAndAreReaped) {
  QRPoolManager& pool = OpenedPool(4, /*idleExpiryMs=*/1);
  ASSERT_EQ(pool.StartPoolCleaner(1), 0);
  std::atomic<int> accepted{0};
  std::vector<std::thread> issuers;
  for (int t = 0; t < 4; ++t) {
    issuers.emplace_back([&, t] {
      for (int i = 0; i < 150; ++i) {
        TestParams params(t * 1000 + i, false);
        params.ends = i % 3 == 0;
        int result = pool.IssueThread(&params);
        if (result == 0) accepted.fetch_add(1);
        else EXPECT_EQ(result, poolmgr::kPoolFull);
        if (i % 8 == 0) std::this_thread::sleep_for(1ms);
      }
    });
  }
  for (auto& issuer : issuers) issuer.join();
  EXPECT_GT(accepted.load(), 0);
  ASSERT_TRUE(Eventually([&] { return probe_.jobsRun.load() == accepted.load(); }))
      << probe_.jobsRun.load() << " of " << accepted.load();
  std::vector<int> jobs;
  for (const Probe::JobRecord& record : probe_.Records()) jobs.push_back(record.job);
  std::sort(jobs.begin(), jobs.end());
  EXPECT_EQ(std::adjacent_find(jobs.begin(), jobs.end()), jobs.end());
  // Left alone, every thread ends or expires and is reaped.
  ASSERT_TRUE(Eventually([&] {
    CleanerStats reaped = Cleaner(pool);
    return reaped.ended + reaped.expired >= probe_.created.load();
  }));
  CleanerStats reaped = Cleaner(pool);
  EXPECT_EQ(reaped.ended + reaped.expired, probe_.created.load());
  EXPECT_GT(reaped.ended, 0);
  // The cleaner counts a reaped thread before it deletes the object.
  EXPECT_TRUE(Eventually([&] { return probe_.destroyed.load() == probe_.created.load(); }))
      << probe_.destroyed.load() << " of " << probe_.created.load();
  ASSERT_EQ(pool.ClosePoolEasy(), 0);
}

}  // namespace
