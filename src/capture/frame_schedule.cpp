#include "capture/frame_schedule.h"

#include <chrono>
#include <thread>

#include "capture/capture_session.h"
#include "media/ff_api.h"

namespace qv {

void TFrameSchedule::Setup(AVRational period, TCaptureSession* session, const void* member) {
  Period = period;
  Session = session;
  Member = member;
}

std::int64_t TFrameSchedule::ToMicros(std::int64_t frameTime) const {
  return ff::av_rescale_rnd(frameTime, Period.num, Period.den, AV_ROUND_NEAR_INF);
}

std::int64_t TFrameSchedule::ToFrameTime(std::int64_t micros) const {
  return ff::av_rescale_rnd(micros, Period.den, Period.num, AV_ROUND_NEAR_INF);
}

// The first request fixes the schedule and places it on the recording's time line: when the sound
// started first, the first frame sits that much later, so picture and sound begin together.
void TFrameSchedule::Start(std::int64_t now) {
  NextFrameTime = ToFrameTime(now);
  FirstFrameTime = NextFrameTime + 1000000;
  PauseSeen = Session->PausedMicros();
  const std::int64_t shift = Session->Start(Member, ToMicros(FirstFrameTime));
  TimelineShift = shift > 0 ? shift : 0;
  HasStarted = true;
}

// The time of a pause, as the session tells it, is left out of the frames as the sound device
// leaves it out of the sound: the schedule moves on by the pause instead of owing frames for it.
void TFrameSchedule::SkipPause() {
  const std::int64_t clock = Session->PausedMicros();
  const std::int64_t paused = clock - PauseSeen;
  PauseSeen = clock;
  if (paused <= 0) return;
  NextFrameTime += ToFrameTime(paused);
  PausedTotal += paused;
  Resumed = true;
}

// A reader more than a period late (it stalled) gets the latest slot that is due: the slots it
// missed come out as one gap in the stamps, which the engine fills with the last picture, so the
// video keeps its wall-clock length.
std::int64_t TFrameSchedule::NextSlot() {
  NextFrameTime += 1000000;
  std::int64_t now = ff::av_gettime_relative();
  std::int64_t delay = ToMicros(NextFrameTime) - now;
  // Slept to the microsecond: the kernel wakes us at most its timer slack late, never early, and
  // spinning the last millisecond away would cost a still screen most of what it costs at all.
  while (delay > 0) {
    std::this_thread::sleep_for(std::chrono::microseconds(delay));
    now = ff::av_gettime_relative();
    delay = ToMicros(NextFrameTime) - now;
  }
  const std::int64_t late = ToFrameTime(now) - NextFrameTime;
  if (late >= 1000000) NextFrameTime += late / 1000000 * 1000000;
  return NextFrameTime;
}

std::int64_t TFrameSchedule::WaitNextSlot() {
  Resumed = false;
  if (!HasStarted) Start(ff::av_gettime_relative());
  else SkipPause();
  const std::int64_t slot = NextSlot();
  // The slot's time on the capture clock, pauses left out, placed on the recording's time line.
  return ToMicros(slot - FirstFrameTime) - PausedTotal + TimelineShift;
}

}  // namespace qv
