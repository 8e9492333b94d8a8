// Worker threads with a waitable handle, the platform's priority levels, and the per-thread
// runtime initialization the platform requires (a counted no-op here).
#pragma once

#include <functional>
#include <memory>
#include <thread>

#include "runtime/hresult.h"
#include "runtime/message_queue.h"

namespace pelk {

// The platform's thread priorities.
enum ThreadPriorityLevel : int32_t {
  kThreadPriorityIdle = -15,
  kThreadPriorityLowest = -2,
  kThreadPriorityBelowNormal = -1,
  kThreadPriorityNormal = 0,
  kThreadPriorityAboveNormal = 1,
  kThreadPriorityHighest = 2,
};

// The nice value a platform priority is applied as (best effort: raising may be refused).
int NiceValueFor(int32_t priority);

// A started thread. Its handle is signalled when the routine returns. Destroying a Thread that
// was neither waited for nor detached waits for it, so a routine never outlives its owner by
// accident.
class Thread {
 public:
  // Starts routine on a new thread at the given platform priority; null if it cannot start.
  static std::unique_ptr<Thread> Start(std::function<void()> routine,
                                       int32_t priority = kThreadPriorityNormal);
  ~Thread();
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;

  const Event& Handle() const { return state_->done; }
  bool IsFinished() const { return state_->done.IsSet(); }
  int32_t Priority() const { return state_->priority; }
  // The nice value actually in force on the thread once it started (it may differ from the
  // requested one when raising was refused).
  int AppliedNice() const;

  // Blocks until the routine has returned.
  void Wait();
  // Waits while dispatching the calling thread's messages.
  void PumpingWaitFor();
  // Lets the thread run on its own; the handle stays valid.
  void Detach();

 private:
  struct State {
    Event done;
    Event started;
    int32_t priority = 0;
    int applied_nice = 0;
  };
  Thread() = default;

  std::shared_ptr<State> state_;
  std::thread thread_;
};

}  // namespace pelk

// Per-thread runtime initialization: S_OK the first time on a thread, S_FALSE when already
// initialized; every successful call is matched by CoUninitialize.
HRESULT CoInitialize(void* reserved);
HRESULT CoInitializeEx(void* reserved, uint32_t flags);
void CoUninitialize();
