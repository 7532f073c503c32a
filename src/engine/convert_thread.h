// The run's threads: the worker that runs a transcoder (created suspended, resumed by the caller)
// and a manual-reset event for waiting on the end of a run.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace qv {

// Worker priorities as the component names them. On Linux they become nice values of the worker
// (19, 10, 5, 0, -5, -10, -15); raising above normal needs privileges and is silently left at normal
// when the system refuses.
enum TThreadPriority { tpIdle, tpLowest, tpLower, tpNormal, tpHigher, tpHighest, tpTimeCritical };

// A manual-reset event (created signalled, like the run's events).
class TManualEvent {
 public:
  explicit TManualEvent(bool signalled = true) : State(signalled) {}
  void Set();
  void Reset();
  // True when signalled within `timeout`.
  bool WaitFor(std::chrono::milliseconds timeout) const;

 private:
  mutable std::mutex Lock;
  mutable std::condition_variable Cond;
  bool State;
};

// A thread that starts suspended: its body runs after the first Resume(). Suspend/Resume after that
// close and open a pause gate the body passes at its own safe points (Gate()).
class TConvertThread {
 public:
  TConvertThread(std::function<void()> body, TThreadPriority priority);
  ~TConvertThread();  // joins
  TConvertThread(const TConvertThread&) = delete;
  TConvertThread& operator=(const TConvertThread&) = delete;

  void Resume();
  void Suspend();
  bool Suspended() const;
  // Opens the gate for good (a stop must get through a pause).
  void Release();
  // Called by the body: waits while suspended and not released.
  void Gate();
  std::thread::id Id() const { return Thread.get_id(); }
  void Join();
  TThreadPriority Priority() const { return FPriority; }

 private:
  void Main();
  std::function<void()> Body;
  TThreadPriority FPriority;
  mutable std::mutex Lock;
  std::condition_variable Cond;
  bool FSuspended = true;
  bool Released = false;
  std::thread Thread;
};

}  // namespace qv
