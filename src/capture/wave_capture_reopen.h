// The wave device's second chance: a sound server restarts on updates, crashes and device changes,
// and a lost input often comes back a moment later. Once the input is lost, a thread of this object
// opens the same input again every second until it delivers or the device closes.
#pragma once

#include <condition_variable>
#include <mutex>
#include <thread>

namespace qv {

class TWaveCapture;

// Threads: its own thread owns the capture's device and source watch while it reopens; the close
// destroys this object before it touches them. Quit sits behind Lock.
class TWaveReopen {
 public:
  explicit TWaveReopen(TWaveCapture& capture);
  ~TWaveReopen();  // stops the thread; waits for an open under way
  TWaveReopen(const TWaveReopen&) = delete;
  TWaveReopen& operator=(const TWaveReopen&) = delete;

  static constexpr int kRetryMs = 1000;

 private:
  void Run();

  TWaveCapture& Capture;
  std::mutex Lock;
  std::condition_variable Wake;
  bool Quit = false;
  std::thread Thread;
};

}  // namespace qv
