// The main-thread call queue without any toolkit: calls posted by workers run on the main thread,
// the workers wait for them, exceptions come back, and the wait helpers behave.
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "media/main_thread.h"

namespace qv {
namespace {

using namespace std::chrono_literals;

class MainThreadTest : public ::testing::Test {
 protected:
  void SetUp() override { MarkMainThread(); }
  void TearDown() override {
    SetMainThreadWaker(nullptr);
    SetMessagePump(nullptr);
  }
};

TEST_F(MainThreadTest, ThreadIdentity) {
  EXPECT_TRUE(IsMainThread());
  EXPECT_EQ(CurrentThreadId(), std::uint32_t(::syscall(SYS_gettid)));
  std::uint32_t other = 0;
  bool otherIsMain = true;
  std::thread t([&] {
    MarkMainThread();  // only the first caller becomes the main thread
    other = CurrentThreadId();
    otherIsMain = IsMainThread();
  });
  t.join();
  EXPECT_NE(other, CurrentThreadId());
  EXPECT_NE(other, 0u);
  EXPECT_FALSE(otherIsMain);
  EXPECT_TRUE(IsMainThread());
}

TEST_F(MainThreadTest, OnTheMainThreadACallRunsAtOnce) {
  int ran = 0;
  CallInMainThread([&] { ++ran; });
  EXPECT_EQ(ran, 1);
  EXPECT_EQ(RunMainThreadCalls(), 0);
  EXPECT_THROW(CallInMainThread([] { throw std::runtime_error("direct"); }), std::runtime_error);
}

TEST_F(MainThreadTest, WorkersWaitUntilTheMainThreadRanTheirCalls) {
  constexpr int kWorkers = 4, kCalls = 100;
  std::atomic<int> wakes{0}, done{0};
  SetMainThreadWaker([&] { ++wakes; });
  std::vector<int> counts(kWorkers, 0);  // written only on the main thread
  std::atomic<int> wrongThread{0};
  std::vector<std::thread> workers;
  for (int w = 0; w < kWorkers; ++w)
    workers.emplace_back([&, w] {
      for (int i = 0; i < kCalls; ++i) {
        int before = -1;
        CallInMainThread([&] {
          if (!IsMainThread()) ++wrongThread;
          before = counts[w]++;
        });
        // The call has run by the time CallInMainThread returns.
        if (before != i) ++wrongThread;
      }
      ++done;
    });
  int ran = 0;
  while (done.load() < kWorkers) ran += WaitMainThreadCalls(50ms);
  for (auto& t : workers) t.join();
  ran += RunMainThreadCalls();
  EXPECT_EQ(ran, kWorkers * kCalls);
  EXPECT_EQ(wrongThread.load(), 0);
  for (int c : counts) EXPECT_EQ(c, kCalls);
  EXPECT_EQ(wakes.load(), kWorkers * kCalls);
}

TEST_F(MainThreadTest, ExceptionsAreRethrownInTheWorker) {
  std::string caught;
  std::atomic<bool> finished{false};
  std::thread t([&] {
    try {
      CallInMainThread([] { throw std::runtime_error("from the main thread"); });
    } catch (const std::runtime_error& e) {
      caught = e.what();
    }
    finished = true;
  });
  while (!finished.load()) WaitMainThreadCalls(20ms);
  t.join();
  EXPECT_EQ(caught, "from the main thread");
}

TEST_F(MainThreadTest, OnlyTheMainThreadRunsTheQueue) {
  std::atomic<bool> posted{false}, finished{false};
  SetMainThreadWaker([&] { posted = true; });  // called once the call is queued
  std::thread poster([&] {
    CallInMainThread([] {});
    finished = true;
  });
  while (!posted.load()) std::this_thread::sleep_for(1ms);
  int ranElsewhere = -1;
  std::thread other([&] { ranElsewhere = RunMainThreadCalls() + WaitMainThreadCalls(10ms); });
  other.join();
  EXPECT_EQ(ranElsewhere, 0);
  while (!finished.load()) ProcessMessages();
  poster.join();
}

TEST_F(MainThreadTest, WaitReturnsEarlyWhenACallArrivesAndTimesOutOtherwise) {
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(WaitMainThreadCalls(100ms), 0);
  EXPECT_GE(std::chrono::steady_clock::now() - start, 100ms);

  std::thread poster([] {
    std::this_thread::sleep_for(50ms);
    CallInMainThread([] {});
  });
  start = std::chrono::steady_clock::now();
  int ran = 0;
  while (ran == 0) ran = WaitMainThreadCalls(10s);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
  poster.join();
}

TEST_F(MainThreadTest, ProcessMessagesRunsThePump) {
  int pumped = 0;
  SetMessagePump([&] { ++pumped; });
  ProcessMessages();
  ProcessMessages();
  EXPECT_EQ(pumped, 2);
}

}  // namespace
}  // namespace qv
