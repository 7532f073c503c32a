#include "encoder/task_threads.h"

#include <chrono>
#include <exception>

#include "media/logger.h"
#include "media/main_thread.h"

namespace qv {

void TTerminateDeliveries::Deliver(const TTerminateEvent& handler, TObject* sender, const TTerminateInfo& info,
                                   bool /*waitForPrevious*/, bool inMainThread) {
  Reap(false);
  std::uint64_t ticket;
  {
    std::lock_guard<std::mutex> lock(State->Lock);
    ticket = ++State->Issued;
  }
  auto ended = std::make_shared<std::atomic<bool>>(false);
  std::lock_guard<std::mutex> lock(ThreadsLock);
  Threads.push_back({std::thread(&TTerminateDeliveries::Run, State, ticket, handler, sender, info, inMainThread, ended),
                     ended});
}

void TTerminateDeliveries::Run(std::shared_ptr<TState> state, std::uint64_t ticket, TTerminateEvent handler,
                               TObject* sender, TTerminateInfo info, bool inMainThread,
                               std::shared_ptr<std::atomic<bool>> ended) {
  {
    std::unique_lock<std::mutex> lock(state->Lock);
    state->Cond.wait(lock, [&] { return state->Done + 1 == ticket; });
  }
  try {
    auto call = [&] {
      bool cancelled;
      {
        std::lock_guard<std::mutex> lock(state->Lock);
        cancelled = state->Cancelled;
      }
      if (!cancelled && handler) handler(sender, info);
    };
    bool cancelled;
    {
      std::lock_guard<std::mutex> lock(state->Lock);
      cancelled = state->Cancelled;
    }
    // Checked again inside the call: Shutdown may cancel while it waits for the main thread.
    if (!cancelled) {
      if (inMainThread)
        CallInMainThread(call);
      else
        call();
    }
  } catch (const std::exception& e) {
    // The thread is the handler's last caller: the error can only be logged, and it must not keep
    // the events after it from being delivered.
    GetLogger()->Log(sender, llError, std::string("Error in terminate event: ") + e.what());
  } catch (...) {
    GetLogger()->Log(sender, llError, "Error in terminate event");
  }
  {
    std::lock_guard<std::mutex> lock(state->Lock);
    state->Done = ticket;
  }
  state->Cond.notify_all();
  ended->store(true);
}

bool TTerminateDeliveries::Delivered() const {
  std::lock_guard<std::mutex> lock(State->Lock);
  return State->Done == State->Issued;
}

void TTerminateDeliveries::WaitAll() {
  std::uint64_t target;
  {
    std::lock_guard<std::mutex> lock(State->Lock);
    target = State->Issued;
  }
  for (;;) {
    {
      std::unique_lock<std::mutex> lock(State->Lock);
      if (State->Done >= target) break;
      if (!IsMainThread()) {
        State->Cond.wait_for(lock, std::chrono::milliseconds(20));
        continue;
      }
    }
    WaitMainThreadCalls(std::chrono::milliseconds(10));
  }
  Reap(false);
}

void TTerminateDeliveries::Shutdown() {
  {
    std::lock_guard<std::mutex> lock(State->Lock);
    State->Cancelled = true;
  }
  WaitAll();
  Reap(true);
}

void TTerminateDeliveries::Reap(bool all) {
  std::list<TThreadEntry> finished;
  {
    std::lock_guard<std::mutex> lock(ThreadsLock);
    for (auto it = Threads.begin(); it != Threads.end();) {
      if (all || it->Ended->load()) {
        finished.splice(finished.end(), Threads, it++);
      } else {
        ++it;
      }
    }
  }
  for (auto& entry : finished)
    if (entry.Thread.joinable()) entry.Thread.join();
}

}  // namespace qv
