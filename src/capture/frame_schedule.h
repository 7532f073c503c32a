// The frame pacing the screen devices share: fixed slots on the monotonic clock, the first slot
// placed on the recording's common time line, paused time left out, and a stalled reader handed the
// latest slot that is due (see docs/design.md, "Capture timeline and A/V sync").
#pragma once

#include <cstdint>

extern "C" {
#include <libavutil/rational.h>
}

namespace qv {

class TCaptureSession;

// Threads: owned by the thread that reads the device; nothing here is shared.
class TFrameSchedule {
 public:
  // `period` is seconds per frame (positive); `member` is the device as the session knows it.
  void Setup(AVRational period, TCaptureSession* session, const void* member);
  bool Started() const { return HasStarted; }
  // Waits for the next slot (the first call fixes the schedule) and returns its time stamp in
  // microseconds on the recording's time line.
  std::int64_t WaitNextSlot();
  std::int64_t PeriodMicros() const { return ToMicros(1000000); }
  // Whether a pause ended before the slot WaitNextSlot last returned.
  bool ResumedFromPause() const { return Resumed; }

 private:
  void Start(std::int64_t now);
  void SkipPause();
  std::int64_t NextSlot();
  std::int64_t ToMicros(std::int64_t frameTime) const;
  std::int64_t ToFrameTime(std::int64_t micros) const;

  AVRational Period{1, 15};
  TCaptureSession* Session = nullptr;
  const void* Member = nullptr;
  bool HasStarted = false;
  bool Resumed = false;
  std::int64_t NextFrameTime = 0;   // due time of the next frame in microseconds / Period
  std::int64_t FirstFrameTime = 0;  // NextFrameTime of the first frame
  std::int64_t PausedTotal = 0;     // microseconds taken out of the time line for pauses
  std::int64_t PauseSeen = 0;       // the session's pause clock at the previous request
  std::int64_t TimelineShift = 0;   // microseconds the first frame sits after the recording's origin
};

}  // namespace qv
