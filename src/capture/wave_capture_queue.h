// The wave device's packet queue: filled by the capture thread, emptied by the engine's worker, and
// fed with silence paced on the wall clock once the input is lost.
#pragma once

#include <cstdint>

#include "capture/wave_capture.h"

namespace qv {

// Appends a packet of `size` bytes to the queue and returns its data for the caller to fill, or
// nullptr after logging the allocation that failed. Call with QueueLock held.
std::uint8_t* AppendWavePacket(TWaveCaptureContext& state, int size);

// Writes `frames` frames of silence at `data`.
void FillWaveSilence(const TWaveCaptureContext& state, std::uint8_t* data, std::int64_t frames);

}  // namespace qv
