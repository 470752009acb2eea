// CStatisticCounter: a request counter kept in memory and published to its
// registry value by a background thread about once a second, so that
// counting a request costs no registry write on the request's thread. The
// value counts from zero for each counter, and the last count is published
// when the counter ends.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>

#include "platform/sync.h"

class CStatisticCounter {
 public:
  // How often changed counts are published.
  static constexpr std::chrono::milliseconds kPublishInterval{1000};

  // `publish` writes a count to the registry; it runs on the publishing
  // thread, or on the thread that ends the counter.
  explicit CStatisticCounter(std::function<void(std::uint32_t)> publish);
  ~CStatisticCounter();
  CStatisticCounter(const CStatisticCounter&) = delete;
  CStatisticCounter& operator=(const CStatisticCounter&) = delete;

  // Adds one; the new count.
  std::uint32_t Increment() { return m_Count.fetch_add(1, std::memory_order_relaxed) + 1; }
  std::uint32_t Value() const { return m_Count.load(std::memory_order_relaxed); }

  // Writes the count now if it changed since it was last written.
  void Publish();

 private:
  // Publishing is serialised so that counts reach the registry in order.
  static platform::Lock& PublishLock();

  std::function<void(std::uint32_t)> m_Publish;
  std::atomic<std::uint32_t> m_Count{0};
  std::uint32_t m_Published GUARDED_BY(PublishLock()) = 0;
};
