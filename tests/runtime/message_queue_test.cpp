#include <gtest/gtest.h>

#include <atomic>

#include "runtime/message_queue.h"
#include "runtime/thread.h"

namespace pelk {
namespace {

TEST(MessageQueueTest, PumpingWaitRunsMessagesPostedWhileWaiting) {
  std::shared_ptr<MessageQueue> host = CurrentThreadQueue();
  const std::thread::id host_id = std::this_thread::get_id();
  std::atomic<bool> ran_on_host{false};
  Event posted;
  // The worker hands work to the host and waits until the host has run it: without message
  // dispatching in the host's wait, this would deadlock.
  auto worker = Thread::Start([&] {
    Event done;
    host->Post([&] {
      ran_on_host = std::this_thread::get_id() == host_id;
      done.Set();
    });
    done.Wait();
  });
  ASSERT_TRUE(worker);
  PumpingWait(worker->Handle());
  EXPECT_TRUE(worker->IsFinished());
  EXPECT_TRUE(ran_on_host);
  worker->Wait();
}

TEST(MessageQueueTest, PumpingWaitReturnsForAnAlreadySignalledHandle) {
  Event handle;
  handle.Set();
  PumpingWait(handle);
  EXPECT_TRUE(handle.IsSet());
}

TEST(MessageQueueTest, QuitMessageStopsDispatchingButNotTheWait) {
  std::shared_ptr<MessageQueue> queue = CurrentThreadQueue();
  int ran = 0;
  queue->Post([&] { ++ran; });
  queue->PostQuit();
  queue->Post([&] { ++ran; });  // left queued: the quit message stops the dispatching step
  Event handle;
  auto worker = Thread::Start([&] { handle.Set(); });
  PumpingWait(handle);
  EXPECT_EQ(ran, 1);
  EXPECT_EQ(queue->Pending(), 1u);
  EXPECT_EQ(DispatchPendingMessages(), 1u);
  EXPECT_EQ(ran, 2);
}

TEST(ThreadTest, HandleIsSignalledWhenTheRoutineReturns) {
  Event release;
  auto thread = Thread::Start([&] { release.Wait(); });
  ASSERT_TRUE(thread);
  EXPECT_FALSE(thread->Handle().WaitFor(std::chrono::milliseconds(0)));
  release.Set();
  thread->PumpingWaitFor();
  EXPECT_TRUE(thread->IsFinished());
}

TEST(ThreadTest, PriorityIsRecordedAndLoweringIsApplied) {
  auto low = Thread::Start([] {}, kThreadPriorityIdle);
  ASSERT_TRUE(low);
  EXPECT_EQ(low->Priority(), kThreadPriorityIdle);
  EXPECT_EQ(low->AppliedNice(), 19);  // lowering is always allowed
  EXPECT_EQ(NiceValueFor(kThreadPriorityLowest), 10);
  EXPECT_EQ(NiceValueFor(kThreadPriorityHighest), -10);
}

TEST(ThreadTest, RuntimeInitializationIsCountedPerThread) {
  auto thread = Thread::Start([] {
    EXPECT_EQ(CoInitialize(nullptr), S_OK);
    EXPECT_EQ(CoInitialize(nullptr), S_FALSE);
    CoUninitialize();
    CoUninitialize();
    EXPECT_EQ(CoInitialize(nullptr), S_OK);
    CoUninitialize();
  });
  thread->Wait();
}

}  // namespace
}  // namespace pelk
