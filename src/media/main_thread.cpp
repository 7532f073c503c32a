#include "media/main_thread.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>

namespace qv {

namespace {

// One posted call; the poster waits on Done.
struct TPendingCall {
  std::function<void()> Call;
  std::exception_ptr Error;
  bool Done = false;
};

struct TQueue {
  std::mutex Lock;
  std::condition_variable Finished;  // a call has run (posters wait on it)
  std::condition_variable Posted;    // a call was queued (the main thread may wait on it)
  std::deque<std::shared_ptr<TPendingCall>> Calls;
  std::function<void()> Waker;
  std::function<void()> Pump;
};

// Never destroyed: workers may still post while static objects of other units are torn down.
TQueue& Queue() {
  static TQueue* queue = new TQueue;
  return *queue;
}

std::atomic<std::uint32_t> gMainThreadId{0};

}  // namespace

std::uint32_t CurrentThreadId() {
  // The kernel's thread id: what ps, gdb and /proc show, and unique among live threads.
  thread_local const std::uint32_t id = std::uint32_t(::syscall(SYS_gettid));
  return id;
}

void MarkMainThread() {
  std::uint32_t expected = 0;
  gMainThreadId.compare_exchange_strong(expected, CurrentThreadId());
}

bool IsMainThread() { return gMainThreadId.load() == CurrentThreadId(); }

void CallInMainThread(const std::function<void()>& call) {
  // Without a marked main thread nobody would ever run the queue, so the caller runs the call itself.
  if (gMainThreadId.load() == 0 || IsMainThread()) {
    call();
    return;
  }
  auto pending = std::make_shared<TPendingCall>();
  pending->Call = call;
  TQueue& q = Queue();
  std::function<void()> waker;
  {
    std::lock_guard<std::mutex> lock(q.Lock);
    q.Calls.push_back(pending);
    waker = q.Waker;
  }
  q.Posted.notify_all();
  if (waker) waker();
  {
    std::unique_lock<std::mutex> lock(q.Lock);
    q.Finished.wait(lock, [&] { return pending->Done; });
  }
  if (pending->Error) std::rethrow_exception(pending->Error);
}

int RunMainThreadCalls() {
  if (!IsMainThread()) return 0;
  TQueue& q = Queue();
  std::deque<std::shared_ptr<TPendingCall>> calls;
  {
    std::lock_guard<std::mutex> lock(q.Lock);
    calls.swap(q.Calls);
  }
  for (auto& pending : calls) {
    try {
      pending->Call();
    } catch (...) {
      pending->Error = std::current_exception();
    }
    {
      std::lock_guard<std::mutex> lock(q.Lock);
      pending->Done = true;
    }
    q.Finished.notify_all();
  }
  return int(calls.size());
}

int WaitMainThreadCalls(std::chrono::milliseconds timeout) {
  if (!IsMainThread()) return 0;
  TQueue& q = Queue();
  {
    std::unique_lock<std::mutex> lock(q.Lock);
    q.Posted.wait_for(lock, timeout, [&] { return !q.Calls.empty(); });
  }
  return RunMainThreadCalls();
}

void SetMainThreadWaker(std::function<void()> waker) {
  TQueue& q = Queue();
  std::lock_guard<std::mutex> lock(q.Lock);
  q.Waker = std::move(waker);
}

void SetMessagePump(std::function<void()> pump) {
  TQueue& q = Queue();
  std::lock_guard<std::mutex> lock(q.Lock);
  q.Pump = std::move(pump);
}

void ProcessMessages() {
  RunMainThreadCalls();
  std::function<void()> pump;
  {
    TQueue& q = Queue();
    std::lock_guard<std::mutex> lock(q.Lock);
    pump = q.Pump;
  }
  if (pump && IsMainThread()) pump();
}

}  // namespace qv
