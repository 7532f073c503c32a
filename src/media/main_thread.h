// The main-thread call queue: a worker posts a call and waits until the main thread has run it.
// Usable without a toolkit: the main thread runs pending calls in RunMainThreadCalls(); a GUI shell
// installs a waker so its event loop runs them promptly.
#pragma once

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

// Runs every queued call; returns how many ran. Main thread only.
int RunMainThreadCalls();

// Called (from any thread) whenever a call is queued, so an event loop can wake up.
void SetMainThreadWaker(std::function<void()> waker);

// Runs queued calls and the installed message pump once (the old message-pumping step).
void ProcessMessages();

}  // namespace qv
