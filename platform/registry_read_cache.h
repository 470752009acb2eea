// Internal to the registry store: what this process has read lately, kept
// until some process of the machine writes what could change it.
//
// Reading the database costs a read transaction (file locks and all) per
// call, and the server reads the same few settings on every request while it
// writes request counters just as often. So a remembered answer carries the
// stamp it was read under: the machine's count of key changes (keys created
// or deleted) and, for a value, the count of writes to values of that name
// (names share counters by hash, which only costs a needless read). Only an
// answer read while no such change was under way is remembered, and it is
// used only while the counts still stand. All processes map the counters, so
// a write anywhere is seen by the next read everywhere.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/types.h"

namespace platform::registry_cache {

struct Stamp {
  std::uint64_t keys = 0;
  std::uint64_t names = 0;
  bool operator==(const Stamp&) const = default;
};

// The counters a key lookup, or a read of the value named `foldedName`,
// depends on. False when nothing may be remembered now: the counters cannot
// be mapped, or a change they count is under way (a read may then see it
// committed or not, and another thread may already have seen it).
bool KeyStamp(Stamp* stamp);
bool ValueStamp(std::string_view foldedName, Stamp* stamp);

// Held across a write: from its start until it is committed, remembered
// answers it may change are neither used nor taken.
class KeysChanging {
 public:
  KeysChanging();
  ~KeysChanging();
  KeysChanging(const KeysChanging&) = delete;
  KeysChanging& operator=(const KeysChanging&) = delete;
};

class ValueChanging {
 public:
  explicit ValueChanging(std::string_view foldedName);
  ~ValueChanging();
  ValueChanging(const ValueChanging&) = delete;
  ValueChanging& operator=(const ValueChanging&) = delete;

 private:
  std::string_view folded_name_;
};

// One remembered answer: a call's result and, when it found something, what.
struct Answer {
  LONG result = 0;
  DWORD type = 0;
  std::int64_t id = 0;   // the key found, for key lookups
  std::string data;      // value bytes, for value reads
};

// `question` names what was asked (handle's key, path, value name, kind).
// Find gives an answer remembered under `now` only.
bool Find(const std::string& question, const Stamp& now, Answer* answer);
// Remembers an answer read under `readUnder`, unless the counters have moved
// since (`current` reads them again).
void Remember(const std::string& question, const Stamp& readUnder, const Stamp& current, Answer answer);

}  // namespace platform::registry_cache
