// Signals turned into bytes on a pipe, so that a program's main loop sees them among its other
// descriptors (poll, a QSocketNotifier) and acts on them outside the signal handler. All three
// programs turn INT, TERM and HUP into "finish the file" this way: a user's Ctrl-C or kill, a
// closed terminal and the end of a desktop session all stop a recording or conversion cleanly.
//
// A handler rather than blocked signals read from a signalfd: a blocked mask is inherited by every
// thread and every child process (the player the tray program starts would not die on SIGTERM).
//
// Threads: made and read on the main thread; the handler may run on any thread and only writes
// to the pipe. One TSignalPipe at a time per process (the handler has one pipe to write to).
#pragma once

#include <signal.h>

#include <cstdint>
#include <initializer_list>
#include <utility>
#include <vector>

namespace qv {

class TSignalPipe {
 public:
  // Routes INT, TERM, HUP and the `extra` signals to the pipe until destruction, which restores the
  // earlier handlers. Throws std::logic_error when another TSignalPipe exists, std::runtime_error
  // when no pipe can be made.
  explicit TSignalPipe(std::initializer_list<int> extra = {});
  ~TSignalPipe();
  TSignalPipe(const TSignalPipe&) = delete;
  TSignalPipe& operator=(const TSignalPipe&) = delete;

  // Readable while a signal waits to be taken.
  int Fd() const { return ReadFd; }
  // The next signal that arrived, or 0 when none is waiting. Never blocks.
  int Take();
  // True while a signal waits to be taken; leaves it waiting.
  bool Pending() const;

 private:
  int ReadFd = -1;
  int WriteFd = -1;
  std::vector<std::pair<int, struct sigaction>> Saved;
};

// While it lives, a signal waiting in `pipe` makes the media libraries give up a blocking call of
// the thread that made this object (an input that is being opened or read), through that thread's
// interrupt checks (interrupt.h). The signal stays waiting for the program's loop.
class TSignalInterrupt {
 public:
  explicit TSignalInterrupt(const TSignalPipe& pipe);
  ~TSignalInterrupt();
  TSignalInterrupt(const TSignalInterrupt&) = delete;
  TSignalInterrupt& operator=(const TSignalInterrupt&) = delete;

 private:
  static bool Check(void* object, void* instance);
  const TSignalPipe& Signals;
  std::uint32_t Thread;
};

}  // namespace qv
