#include "runtime/thread.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace pelk {

int NiceValueFor(int32_t priority) {
  switch (priority) {
    case kThreadPriorityHighest: return -10;
    case kThreadPriorityAboveNormal: return -5;
    case kThreadPriorityNormal: return 0;
    case kThreadPriorityBelowNormal: return 5;
    case kThreadPriorityLowest: return 10;
    case kThreadPriorityIdle: return 19;
    default: return 0;
  }
}

std::unique_ptr<Thread> Thread::Start(std::function<void()> routine, int32_t priority) {
  std::unique_ptr<Thread> thread(new Thread());
  thread->state_ = std::make_shared<State>();
  thread->state_->priority = priority;
  std::shared_ptr<State> state = thread->state_;
  try {
    thread->thread_ = std::thread([state, routine = std::move(routine)] {
      const auto tid = static_cast<id_t>(syscall(SYS_gettid));
      // Linux applies nice values per thread; a refused raise leaves the thread as it is.
      setpriority(PRIO_PROCESS, tid, NiceValueFor(state->priority));
      errno = 0;
      const int nice = getpriority(PRIO_PROCESS, tid);
      state->applied_nice = errno == 0 ? nice : 0;
      state->started.Set();
      routine();
      state->done.Set();
    });
  } catch (const std::system_error&) {
    return nullptr;
  }
  return thread;
}

Thread::~Thread() {
  if (!thread_.joinable()) return;
  // The last reference to a thread's owner may go on that very thread; it cannot wait for itself.
  if (thread_.get_id() == std::this_thread::get_id()) {
    thread_.detach();
  } else {
    thread_.join();
  }
}

int Thread::AppliedNice() const {
  state_->started.Wait();
  return state_->applied_nice;
}

void Thread::Wait() {
  if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

void Thread::PumpingWaitFor() {
  PumpingWait(state_->done);
  Wait();
}

void Thread::Detach() {
  if (thread_.joinable()) thread_.detach();
}

}  // namespace pelk

namespace {
thread_local int t_init_count = 0;
}  // namespace

HRESULT CoInitialize(void* reserved) { return CoInitializeEx(reserved, 0); }

HRESULT CoInitializeEx(void*, uint32_t) { return t_init_count++ == 0 ? S_OK : S_FALSE; }

void CoUninitialize() {
  if (t_init_count > 0) --t_init_count;
}
