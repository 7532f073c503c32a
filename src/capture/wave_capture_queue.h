// The wave device's packet queue: filled by the capture thread, emptied by the engine's worker.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "capture/wave_capture.h"

namespace qv {

// A manual-reset event: stays set until someone resets it.
class TWaveEvent {
 public:
  void Set();
  void Reset();
  // True when the event is set within `timeoutMs`.
  bool Wait(int timeoutMs);

 private:
  std::mutex Lock;
  std::condition_variable Cond;
  bool Signalled = false;
};

// Appends a packet of `size` bytes to the queue and returns its data for the caller to fill, or
// nullptr after logging the allocation that failed. Call with QueueLock held.
std::uint8_t* AppendWavePacket(TWaveCaptureContext* state, int size);
// Frees every queued packet. Call with QueueLock held (or once nothing else can touch the queue).
void DropWavePackets(TWaveCaptureContext* state);

}  // namespace qv
