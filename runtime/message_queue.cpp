#include "runtime/message_queue.h"

#include <algorithm>

namespace pelk {

void Event::Set() {
  // Everything happens under the lock: a waiter may destroy the event as soon as it can see it
  // set, and it can only return once it has taken the lock (Wait) or removed its watcher.
  std::lock_guard lock(mutex_);
  set_.store(true, std::memory_order_release);
  cv_.notify_all();
  for (MessageQueue* queue : watchers_) queue->WakeUp();
}

void Event::Wait() const {
  std::unique_lock lock(mutex_);
  cv_.wait(lock, [this] { return IsSet(); });
}

bool Event::WaitFor(std::chrono::milliseconds timeout) const {
  std::unique_lock lock(mutex_);
  return cv_.wait_for(lock, timeout, [this] { return IsSet(); });
}

void Event::AddWatcher(MessageQueue* queue) const {
  std::lock_guard lock(mutex_);
  watchers_.push_back(queue);
}

void Event::RemoveWatcher(MessageQueue* queue) const {
  std::lock_guard lock(mutex_);
  auto it = std::find(watchers_.begin(), watchers_.end(), queue);
  if (it != watchers_.end()) watchers_.erase(it);
}

bool MessageQueue::Post(Message message) {
  if (!message) return false;
  {
    std::lock_guard lock(mutex_);
    entries_.push_back(Entry{false, std::move(message)});
    new_input_ = true;
  }
  cv_.notify_all();
  return true;
}

void MessageQueue::PostQuit() {
  {
    std::lock_guard lock(mutex_);
    entries_.push_back(Entry{true, nullptr});
    new_input_ = true;
  }
  cv_.notify_all();
}

size_t MessageQueue::Pending() const {
  std::lock_guard lock(mutex_);
  return entries_.size();
}

std::optional<MessageQueue::Entry> MessageQueue::Take() {
  std::lock_guard lock(mutex_);
  if (entries_.empty()) return std::nullopt;
  Entry e = std::move(entries_.front());
  entries_.pop_front();
  return e;
}

void MessageQueue::WakeUp() {
  // Taking the lock orders the wake-up after a waiter's predicate check: none is lost.
  { std::lock_guard lock(mutex_); }
  cv_.notify_all();
}

std::shared_ptr<MessageQueue> CurrentThreadQueue() {
  thread_local std::shared_ptr<MessageQueue> queue = std::make_shared<MessageQueue>();
  return queue;
}

size_t DispatchPendingMessages() {
  std::shared_ptr<MessageQueue> queue = CurrentThreadQueue();
  size_t ran = 0;
  while (auto entry = queue->Take()) {
    if (entry->quit) break;
    entry->message();
    ++ran;
  }
  return ran;
}

void PumpingWait(const Event& handle) {
  std::shared_ptr<MessageQueue> queue = CurrentThreadQueue();
  handle.AddWatcher(queue.get());
  for (;;) {
    {
      std::lock_guard lock(queue->mutex_);
      queue->new_input_ = false;
    }
    DispatchPendingMessages();
    std::unique_lock lock(queue->mutex_);
    queue->cv_.wait(lock, [&] { return handle.IsSet() || queue->new_input_; });
    if (handle.IsSet()) break;
  }
  handle.RemoveWatcher(queue.get());
}

}  // namespace pelk
