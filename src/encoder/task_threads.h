// The short-lived threads that hand a task's terminate event to the owner's handler, so a worker
// never waits for the main thread to finish with its end. Every delivery waits for the one issued
// before it, so handlers see the events in the order the tasks ended and the final event (task index
// -1) always comes after the last task's event, even when several tasks end at the same moment.
//
// Threads: Issue is called by whichever thread ends a task (worker, terminator or main), under the
// owner's lock; Dispatch by the same thread after it let go of that lock. State is shared with the
// delivery threads under State->Lock; Threads under ThreadsLock.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <thread>

#include "encoder/encoder_records.h"

namespace qv {

// One terminate event with its place in the order.
struct TTerminateDelivery {
  std::uint64_t Ticket = 0;
  TTerminateEvent Handler;
  TObject* Sender = nullptr;
  TTerminateInfo Info;
  bool InMainThread = false;  // the handler runs through the main-thread call queue
};

class TTerminateDeliveries {
 public:
  TTerminateDeliveries() = default;
  ~TTerminateDeliveries() { Shutdown(); }
  TTerminateDeliveries(const TTerminateDeliveries&) = delete;
  TTerminateDeliveries& operator=(const TTerminateDeliveries&) = delete;

  // Gives the event its place in the order. The owner calls it under the lock that orders its tasks'
  // ends, and Dispatch once it has let go of that lock.
  TTerminateDelivery Issue(TTerminateEvent handler, TObject* sender, const TTerminateInfo& info, bool inMainThread);

  // Hands the event to its handler on a thread of its own. When no thread can be started it is
  // handed over in the calling thread, once the events before it are done: an event that never
  // comes would keep every later one, and the owner's teardown, waiting for ever.
  void Dispatch(TTerminateDelivery delivery);

  // True when every delivery issued so far has been handed to its handler (or skipped).
  bool Delivered() const;

  // Blocks until every delivery issued so far is done; on the main thread it keeps running queued
  // main-thread calls meanwhile, so a marshalled handler can finish.
  void WaitAll();

  // From now on handlers are no longer called; waits for the threads (used by the owner's
  // destructor, after which the handlers' objects may be gone).
  void Shutdown();

 private:
  struct TState {
    mutable std::mutex Lock;
    std::condition_variable Cond;
    std::uint64_t Issued = 0;
    std::uint64_t Done = 0;
    bool Cancelled = false;
  };
  struct TThreadEntry {
    std::thread Thread;
    std::shared_ptr<std::atomic<bool>> Ended;
  };
  static void Run(const std::shared_ptr<TState>& state, const TTerminateDelivery& delivery);
  static void WaitDone(TState& state, std::uint64_t ticket);
  static bool Cancelled(TState& state);
  void Reap(bool all);

  std::shared_ptr<TState> State = std::make_shared<TState>();
  std::mutex ThreadsLock;
  std::list<TThreadEntry> Threads;
};

}  // namespace qv
