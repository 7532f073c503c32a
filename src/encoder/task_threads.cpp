#include "encoder/task_threads.h"

#include <chrono>
#include <exception>
#include <system_error>

#include "media/logger.h"
#include "media/main_thread.h"

namespace qv {

namespace {

void LogDeliveryError(TObject* sender, const std::string& text) {
  GetLogger()->Log(sender, llError, LogSpeaker("encoder", sender) + text);
}

}  // namespace

TTerminateDelivery TTerminateDeliveries::Issue(TTerminateEvent handler, TObject* sender, const TTerminateInfo& info,
                                               bool inMainThread) {
  TTerminateDelivery delivery{0, std::move(handler), sender, info, inMainThread};
  std::lock_guard<std::mutex> lock(State->Lock);
  delivery.Ticket = ++State->Issued;
  return delivery;
}

void TTerminateDeliveries::Dispatch(TTerminateDelivery delivery) {
  Reap(false);
  {
    std::lock_guard<std::mutex> lock(ThreadsLock);
    TThreadEntry& entry = Threads.emplace_back();
    entry.Ended = std::make_shared<std::atomic<bool>>(false);
    try {
      entry.Thread = std::thread([state = State, delivery, ended = entry.Ended] {
        Run(state, delivery);
        ended->store(true);
      });
      return;
    } catch (const std::system_error& e) {
      Threads.pop_back();
      LogDeliveryError(delivery.Sender,
                       std::string("No thread for a terminate event (") + e.what() + "); it is handed over here");
    }
  }
  Run(State, delivery);
}

bool TTerminateDeliveries::Cancelled(TState& state) {
  std::lock_guard<std::mutex> lock(state.Lock);
  return state.Cancelled;
}

void TTerminateDeliveries::Run(const std::shared_ptr<TState>& state, const TTerminateDelivery& delivery) {
  WaitDone(*state, delivery.Ticket - 1);
  try {
    auto call = [&] {
      // Checked again inside the call: Shutdown may cancel while it waits for the main thread.
      if (!Cancelled(*state) && delivery.Handler) delivery.Handler(delivery.Sender, delivery.Info);
    };
    if (!Cancelled(*state)) {
      if (delivery.InMainThread)
        CallInMainThread(call);
      else
        call();
    }
  } catch (const std::exception& e) {
    // The thread is the handler's last caller: the error can only be logged, and it must not keep
    // the events after it from being delivered.
    LogDeliveryError(delivery.Sender, std::string("Error in terminate event: ") + e.what());
  } catch (...) {
    LogDeliveryError(delivery.Sender, "Error in terminate event");
  }
  {
    std::lock_guard<std::mutex> lock(state->Lock);
    state->Done = delivery.Ticket;
  }
  state->Cond.notify_all();
}

void TTerminateDeliveries::WaitDone(TState& state, std::uint64_t ticket) {
  for (;;) {
    {
      std::unique_lock<std::mutex> lock(state.Lock);
      if (state.Done >= ticket) return;
      if (!IsMainThread()) {
        state.Cond.wait_for(lock, std::chrono::milliseconds(20));
        continue;
      }
    }
    WaitMainThreadCalls(std::chrono::milliseconds(10));
  }
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
  WaitDone(*State, target);
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
