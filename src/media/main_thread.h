// The main-thread call queue: a worker posts a call and waits until the main thread has run it.
// Usable without a toolkit: the main thread runs pending calls in RunMainThreadCalls(); a GUI shell
// installs a waker so its event loop runs them promptly.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>

namespace qv {

// The id the program reports for a thread (logger, interrupt registry): stable for the thread's life.
std::uint32_t CurrentThreadId();

// The thread that first called MarkMainThread (done at start-up of every program and test).
void MarkMainThread();
bool IsMainThread();

// On the main thread: runs `call` at once. Elsewhere: queues it, wakes the main thread and waits
// until it has run (exceptions thrown by the call are rethrown in the caller).
void CallInMainThread(const std::function<void()>& call);

// Runs every queued call; returns how many ran. Main thread only (elsewhere it runs nothing).
int RunMainThreadCalls();

// For a main thread that waits for a worker: sleeps until a call is queued or `timeout` passes, then
// runs the queued calls. A wait loop built on it never deadlocks with a worker that logs.
int WaitMainThreadCalls(std::chrono::milliseconds timeout);

// Called (from any thread) whenever a call is queued, so an event loop can wake up.
void SetMainThreadWaker(std::function<void()> waker);

// The toolkit's "process pending events once" step (the Qt shell installs one).
void SetMessagePump(std::function<void()> pump);

// Runs queued calls and the installed message pump once (the old message-pumping step).
void ProcessMessages();

}  // namespace qv
