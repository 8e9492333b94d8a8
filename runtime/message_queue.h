/// @file
/// Per-thread message queues and the wait that keeps dispatching them.
///
/// Any thread may post a callable (a "message") to another thread's queue; the owning thread runs
/// it when it dispatches: in PumpingWait, or in DispatchPendingMessages. Hosts use this to bring
/// events raised on worker threads back to their own thread.
#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace pelk {

class MessageQueue;

/// A manual-reset signal, like a platform event or a thread handle: once set it stays set.
class Event {
 public:
  /// Sets the signal and wakes every thread waiting for it (PumpingWait included).
  void Set();
  /// True once set.
  bool IsSet() const { return set_.load(std::memory_order_acquire); }
  /// Blocks until set; with a time-out, false when it ran out first.
  void Wait() const;
  /// Blocks until set or until timeout; false when the time ran out first.
  bool WaitFor(std::chrono::milliseconds timeout) const;

 private:
  friend void PumpingWait(const Event& handle);
  void AddWatcher(MessageQueue* queue) const;
  void RemoveWatcher(MessageQueue* queue) const;

  std::atomic<bool> set_{false};
  mutable std::mutex mutex_;
  mutable std::condition_variable cv_;
  mutable std::vector<MessageQueue*> watchers_;
};

/// One thread's queue of messages. Post from any thread; only the owning thread runs them, in
/// the order posted, when it calls PumpingWait or DispatchPendingMessages.
class MessageQueue {
 public:
  /// A message: any callable, run on the owning thread.
  using Message = std::function<void()>;

  /// False when the message could not be queued (it is dropped).
  bool Post(Message message);
  /// A quit message: stops the dispatching step of PumpingWait (it is removed, not run).
  void PostQuit();
  /// Number of messages not yet dispatched.
  size_t Pending() const;

 private:
  friend class Event;
  friend void PumpingWait(const Event& handle);
  friend size_t DispatchPendingMessages();

  struct Entry {
    bool quit;
    Message message;
  };
  std::optional<Entry> Take();
  void WakeUp();

  mutable std::mutex mutex_;
  std::condition_variable cv_;
  std::deque<Entry> entries_;
  bool new_input_ = false;  ///< something was posted since the last wait began
};

/// The calling thread's queue, created on first use; hold the pointer to post to it later.
std::shared_ptr<MessageQueue> CurrentThreadQueue();

/// Waits for handle without blocking the calling thread's messages:
///  1. take pending messages one by one, running each, until none is left or a quit message is
///     taken (removed, not run);
///  2. wait until the handle is set or something new is posted;
///  3. on new input go back to 1; once the handle is set, return.
void PumpingWait(const Event& handle);

/// Runs the calling thread's pending messages (stopping at a quit message); returns how many ran.
size_t DispatchPendingMessages();

}  // namespace pelk
