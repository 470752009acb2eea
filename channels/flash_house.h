// The flash (ticker) file of the corporate channel: a house whose new data
// is passed on at once to whoever builds the channel from it.
#pragma once

#include <functional>
#include <mutex>
#include <utility>

#include "channels/generic_house.h"

class CFlashHouse : public CGenericHouse {
 public:
  using CGenericHouse::CGenericHouse;
  ~CFlashHouse() override { StopInitialization(); }

  // Called after new data was stored; null for nobody. Once this returns,
  // the listener it replaced is no longer running.
  void SetNewDataListener(std::function<void()> listener) {
    std::lock_guard<std::mutex> hold(m_ListenerLock);
    m_Listener = std::move(listener);
  }

  void OnNewData() override {
    std::lock_guard<std::mutex> hold(m_ListenerLock);
    if (m_Listener) m_Listener();
  }

 private:
  std::mutex m_ListenerLock;
  std::function<void()> m_Listener;
};
