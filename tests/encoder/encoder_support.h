// Helpers for the encoder component's tests: clips made by the ffmpeg command line, a pump that
// runs queued main-thread calls until a condition holds, and a watchdog against hangs.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "engine/engine_test_support.h"
#include "media/main_thread.h"
#include "media/unicode_url.h"

namespace qv::test {

inline std::wstring W(const std::string& s) { return Utf8ToWide(s); }

// Runs queued main-thread calls until `done` or `timeout`; true when done.
inline bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout = std::chrono::seconds(60)) {
  auto end = std::chrono::steady_clock::now() + timeout;
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    WaitMainThreadCalls(std::chrono::milliseconds(5));
  }
  return true;
}

// Ends the test program with a message when a step does not finish in time (a deadlock would
// otherwise hang the whole test run until CTest's time-out).
class TWatchdog {
 public:
  TWatchdog(const std::string& what, std::chrono::seconds limit) : Thread([this, what, limit] {
      std::unique_lock<std::mutex> lock(Lock);
      if (!Cond.wait_for(lock, limit, [this] { return Done; })) {
        std::fprintf(stderr, "WATCHDOG: %s did not finish within %lld s\n", what.c_str(), (long long)limit.count());
        std::_Exit(3);
      }
    }) {}
  ~TWatchdog() {
    {
      std::lock_guard<std::mutex> lock(Lock);
      Done = true;
    }
    Cond.notify_all();
    Thread.join();
  }

 private:
  std::mutex Lock;
  std::condition_variable Cond;
  bool Done = false;
  std::thread Thread;
};

}  // namespace qv::test
