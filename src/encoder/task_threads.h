// The short-lived threads that hand a task's terminate event to the owner's handler, so a worker
// never waits for the main thread to finish with its end. Every delivery waits for the one issued
// before it, so handlers see the events in the order the tasks ended and the final event (task index
// -1) always comes after the last task's event, even when several tasks end at the same moment.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <thread>

#include "encoder/encoder_records.h"

namespace qv {

class TTerminateDeliveries {
 public:
  TTerminateDeliveries() = default;
  ~TTerminateDeliveries() { Shutdown(); }
  TTerminateDeliveries(const TTerminateDeliveries&) = delete;
  TTerminateDeliveries& operator=(const TTerminateDeliveries&) = delete;

  // Starts one delivery thread with its own copy of `info`. With `inMainThread` the handler runs
  // through the main-thread call queue. `waitForPrevious` is the final event's flag: it is always
  // honoured, and per-task deliveries keep their order too (see above).
  void Deliver(const TTerminateEvent& handler, TObject* sender, const TTerminateInfo& info, bool waitForPrevious,
               bool inMainThread);

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
  static void Run(std::shared_ptr<TState> state, std::uint64_t ticket, TTerminateEvent handler, TObject* sender,
                  TTerminateInfo info, bool inMainThread, std::shared_ptr<std::atomic<bool>> ended);
  void Reap(bool all);

  std::shared_ptr<TState> State = std::make_shared<TState>();
  std::mutex ThreadsLock;
  std::list<TThreadEntry> Threads;
};

}  // namespace qv
