// What the administration console's API works on: the data objects and the
// proxy agent of the running server. The administration web server starts
// before they exist and stops after them, so each is filled in when its
// start step has made it and cleared before it goes; a call that needs one
// that is not there is answered 503. A call holds the lock shared while it
// uses them; filling in and clearing take it exclusively, so an object
// never goes while a call uses it.
#pragma once

#include <atomic>
#include <chrono>

#include "poolmgr/read_write_lock.h"

class CCorporateData;
class CFlashHouse;
class CGenericHouse;
class CProxyAgent;

struct CConsoleContext {
  // Made when the service starts: the uptime counts from here.
  const std::chrono::steady_clock::time_point started = std::chrono::steady_clock::now();
  CReadWriteLock lock;
  std::atomic<CCorporateData*> corporate{nullptr};
  std::atomic<CFlashHouse*> flash{nullptr};
  std::atomic<CGenericHouse*> redirection{nullptr};
  std::atomic<CProxyAgent*> proxy{nullptr};

  template <typename T>
  void Set(std::atomic<T*>& slot, T* object) {
    CExclusiveLock hold(lock);
    slot.store(object);
  }
};
