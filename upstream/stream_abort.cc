#include "upstream/stream_abort.h"

#include <mutex>
#include <set>

namespace upstream {
namespace {

struct AbortState {
  std::mutex lock;
  bool aborted = false;
  std::set<platform::SOCKET> sockets;  // open stream sockets
  platform::SocketCancel cancel;
};

// Created on first use and never destroyed, so that streams on threads that
// outlive static destruction still find it.
AbortState& State() {
  static AbortState* state = new AbortState;
  return *state;
}

}  // namespace

const platform::SocketCancel& StreamCancel() { return State().cancel; }

void AbortAllStreams() {
  AbortState& state = State();
  std::lock_guard<std::mutex> hold(state.lock);
  state.aborted = true;
  state.cancel.Cancel();
  // Under the lock, so no socket is closed (and its number reused) meanwhile.
  for (platform::SOCKET socket : state.sockets) platform::Shutdown(socket, platform::SD_BOTH);
}

bool StreamsAborted() {
  AbortState& state = State();
  std::lock_guard<std::mutex> hold(state.lock);
  return state.aborted;
}

void ResumeStreams() {
  AbortState& state = State();
  std::lock_guard<std::mutex> hold(state.lock);
  state.aborted = false;
  state.cancel.Reset();
}

bool RegisterStreamSocket(platform::SOCKET socket) {
  AbortState& state = State();
  std::lock_guard<std::mutex> hold(state.lock);
  if (state.aborted) return false;
  state.sockets.insert(socket);
  return true;
}

void UnregisterStreamSocket(platform::SOCKET socket) {
  AbortState& state = State();
  std::lock_guard<std::mutex> hold(state.lock);
  state.sockets.erase(socket);
}

}  // namespace upstream
