// What a listener reports about the connections it takes: the performance
// counters implement it, and a listener without counters reports nothing.
#pragma once

class CConnectionCounters {
 public:
  virtual ~CConnectionCounters() = default;
  // A connection was accepted.
  virtual void ConnectionAccepted() = 0;
  // An accepted connection was closed unanswered because the pool was full.
  virtual void ConnectionRefused() = 0;
};
