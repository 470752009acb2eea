#include "platform/registry_read_cache.h"

#include <pthread.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <unordered_map>

#include "platform/shared_memory.h"

namespace platform::registry_cache {

namespace {

// Beyond these the cache starts over: the server reads a few dozen settings,
// and big values are rare and not worth holding.
constexpr std::size_t kMaxAnswers = 4096;
constexpr std::size_t kMaxCachedData = 4096;

// The counters every process of the machine maps: key changes, then one per
// group of value names. Each holds, in its high half, how many changes are
// under way and, in its low half, how many have ended: a change adds one to
// the high half as it starts and moves it to the low half as it ends.
constexpr std::size_t kNameCounters = 1023;
using Counter = std::atomic<std::uint64_t>;
static_assert(Counter::is_always_lock_free);

// Every process must pick the same counter for a name: FNV-1a, not a hash
// that a library may seed or change.
std::uint64_t NameHash(std::string_view name) {
  std::uint64_t hash = 14695981039346656037ull;
  for (unsigned char c : name) hash = (hash ^ c) * 1099511628211ull;
  return hash;
}

class Counters {
 public:
  static Counters& Instance() {
    static Counters* counters = new Counters;  // outlives static destructors
    return *counters;
  }

  // Null when the block cannot be mapped.
  Counter* Keys() { return Map(); }
  Counter* Name(std::string_view foldedName) {
    Counter* block = Map();
    return block == nullptr ? nullptr : block + 1 + NameHash(foldedName) % kNameCounters;
  }

 private:
  Counter* Map() {
    std::call_once(mapped_, [this] {
      // Mapping must not disturb the caller's last error.
      const DWORD saved = GetLastError();
      constexpr std::size_t kSize = (1 + kNameCounters) * sizeof(Counter);
      block_ = SharedMemory::Create("registry.changes", kSize);
      SetLastError(saved);
      if (block_ && block_->Size() >= kSize) counters_ = static_cast<Counter*>(block_->Data());
    });
    return counters_;
  }

  std::once_flag mapped_;
  std::unique_ptr<SharedMemory> block_;
  Counter* counters_ = nullptr;
};

constexpr std::uint64_t kUnderWay = std::uint64_t{1} << 32;

void Starts(Counter* counter) {
  if (counter != nullptr) counter->fetch_add(kUnderWay, std::memory_order_acq_rel);
}

void Ends(Counter* counter) {
  if (counter != nullptr) counter->fetch_add(1 - kUnderWay, std::memory_order_acq_rel);
}

// The counter's value when no change of it is under way.
bool Settled(const Counter* counter, std::uint64_t* value) {
  *value = counter->load(std::memory_order_acquire);
  return *value < kUnderWay;
}

class Answers {
 public:
  static Answers& Instance() {
    static Answers* answers = new Answers;  // outlives static destructors
    return *answers;
  }

  bool Find(const std::string& question, const Stamp& now, Answer* answer) {
    std::lock_guard hold(lock_);
    auto found = answers_.find(question);
    if (found == answers_.end() || !(found->second.stamp == now)) return false;
    *answer = found->second.answer;
    return true;
  }

  void Remember(const std::string& question, const Stamp& readUnder, Answer answer) {
    std::lock_guard hold(lock_);
    if (answers_.size() >= kMaxAnswers) answers_.clear();
    answers_.insert_or_assign(question, Stamped{readUnder, std::move(answer)});
  }

 private:
  Answers() {
    // Held across a fork, so that the child finds it free.
    ::pthread_atfork([] { Instance().lock_.lock(); }, [] { Instance().lock_.unlock(); },
                     [] { Instance().lock_.unlock(); });
  }

  struct Stamped {
    Stamp stamp;
    Answer answer;
  };
  std::mutex lock_;
  std::unordered_map<std::string, Stamped> answers_;
};

}  // namespace

bool KeyStamp(Stamp* stamp) {
  Counter* keys = Counters::Instance().Keys();
  if (keys == nullptr) return false;
  stamp->names = 0;
  return Settled(keys, &stamp->keys);
}

bool ValueStamp(std::string_view foldedName, Stamp* stamp) {
  Counter* keys = Counters::Instance().Keys();
  if (keys == nullptr) return false;
  return Settled(keys, &stamp->keys) && Settled(Counters::Instance().Name(foldedName), &stamp->names);
}

KeysChanging::KeysChanging() { Starts(Counters::Instance().Keys()); }
KeysChanging::~KeysChanging() { Ends(Counters::Instance().Keys()); }

ValueChanging::ValueChanging(std::string_view foldedName) : folded_name_(foldedName) {
  Starts(Counters::Instance().Name(folded_name_));
}
ValueChanging::~ValueChanging() { Ends(Counters::Instance().Name(folded_name_)); }

bool Find(const std::string& question, const Stamp& now, Answer* answer) {
  return Answers::Instance().Find(question, now, answer);
}

void Remember(const std::string& question, const Stamp& readUnder, const Stamp& current, Answer answer) {
  if (answer.data.size() > kMaxCachedData || !(current == readUnder)) return;
  Answers::Instance().Remember(question, readUnder, std::move(answer));
}

}  // namespace platform::registry_cache
