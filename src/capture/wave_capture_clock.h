// Keeps the wave device's audio on the wall clock.
//
// The file's audio time line is the count of samples delivered, while the video follows the monotonic
// clock (the screen device paces its frames by it). A sound card's crystal is off by tens of ppm, which
// adds up to a noticeable lag over a long recording, and an overrun loses audio outright. So the clock
// compares the capture times of completed buffers with the samples counted, estimates how fast the card
// runs against the wall clock, and tells the device how many frames to insert or drop in each packet
// (a frame here and there, never more than one in kMaxStepDivisor) so that the delivered count follows
// wall time. Audio lost in an overrun comes back as silence of the same length, and so does audio lost
// where nobody reported it: a sound server drops what a stopped client did not read for longer than its
// own buffer holds, and its ALSA plugin goes on as if nothing was lost.
//
// Capture times arrive late by a varying amount (scheduling, the sound server's bursts) but never
// early, so the estimate compares the earliest-looking buffers of a window at the start with those of
// the most recent windows instead of trusting single readings.
#pragma once

#include <cstdint>

namespace qv {

struct TWaveAdjust {
  std::int64_t Silence = 0;  // frames of silence to put before the packet's audio
  std::int64_t Frames = 0;   // frames to insert (>0) or drop (<0), spread over the packet
};

class TWaveClock {
 public:
  static constexpr std::int64_t kWindowUs = 5000000;     // length of one minimum-finding window
  static constexpr std::int64_t kSettleUs = 10000000;    // no correction before this much audio
  static constexpr std::int64_t kToleranceUs = 10000;    // error allowed before frames are touched
  static constexpr std::int64_t kMaxStepDivisor = 200;   // at most one frame in this many changed
  static constexpr std::int64_t kLossWindowUs = 1000000;  // an unreported loss is judged over this
  static constexpr std::int64_t kLossUs = 40000;          // ... and taken for one beyond this
  // Sound can be lost without a report only by a reader away for longer than the PCM's ring holds
  // (half a second and more): a capture thread that was away this long arms the search for it for
  // kLossArmedUs of wall time, while the sound server's reports catch up. Otherwise a loaded machine,
  // whose sound server hands buffers over late for a second or more, would read as lost sound, and
  // silence put in for it would cut a sound in two and move the rest late.
  static constexpr std::int64_t kHeldOffUs = 500000;
  static constexpr std::int64_t kLossArmedUs = 10000000;
  // Where a reading's lateness is judged from: the last quarter second or two of readings (see
  // RecentMin).
  static constexpr std::int64_t kRecentUs = 500000;
  // Cap for one overrun's silence: a process stopped for minutes keeps its time line, an absurd
  // reading cannot fill the file.
  static constexpr std::int64_t kMaxSilenceUs = 600000000;

  explicit TWaveClock(int sampleRate) : Rate(sampleRate > 0 ? sampleRate : 1) {}

  // A completed buffer of `frames` frames whose last frame was read as captured at `endUs`, after
  // `lostFrames` frames were lost; the capture thread got it at `takenUs`. Returns when its last frame
  // was captured as the clock estimates it: readings come late by a varying amount (more so on a busy
  // machine), the estimate leaves that out. Deliver says what happens to the buffer next.
  std::int64_t Take(std::int64_t frames, std::int64_t endUs, std::int64_t lostFrames, std::int64_t takenUs);
  // Of the buffer just taken, `kept` frames go into packets (fewer when a pause cut it, none while
  // paused); the rest still counted for the estimate. Returns what to do to the packet made of them.
  TWaveAdjust Deliver(std::int64_t kept);
  // Take and Deliver of a buffer kept whole or dropped whole, taken as soon as it was captured.
  TWaveAdjust Account(std::int64_t frames, std::int64_t endUs, std::int64_t lostFrames, bool deliver) {
    Take(frames, endUs, lostFrames, endUs);
    return Deliver(deliver ? frames : 0);
  }

  // Wall time minus card time per second of card time, in ppm (positive: the card runs slow).
  double DriftPpm() const;
  std::int64_t CardFrames() const { return Card; }
  std::int64_t DeliveredFrames() const { return Delivered; }
  std::int64_t InsertedFrames() const { return Inserted; }
  std::int64_t DroppedFrames() const { return Dropped; }
  std::int64_t SilenceFrames() const { return Silence; }

 private:
  std::int64_t Rate;
  bool Anchored = false;
  std::int64_t AnchorUs = 0;
  std::int64_t Card = 0;           // frames since the anchor, lost and paused ones included
  std::int64_t DeliveredCard = 0;  // frames of card time that went into packets
  std::int64_t Delivered = 0;      // frames that went into packets after adjustment
  std::int64_t Inserted = 0;
  std::int64_t Dropped = 0;
  std::int64_t Silence = 0;
  // Earliest-looking offset (wall minus card time, us) of the first, the previous and the current
  // window, each with the card time at which it was seen: the drift is the slope between the first
  // window's point and the better of the recent ones.
  std::int64_t BaseMin = INT64_MAX;
  std::int64_t BaseAt = 0;
  std::int64_t PrevMin = INT64_MAX;
  std::int64_t PrevAt = 0;
  std::int64_t CurMin = INT64_MAX;
  std::int64_t CurAt = 0;
  std::int64_t CurWindow = 0;
  // Lowest offset of the current loss window, and the card time it began at.
  std::int64_t LossMin = INT64_MAX;
  std::int64_t LossFrom = 0;
  std::int64_t LastTakenUs = 0;
  std::int64_t LossArmedUntilUs = 0;  // wall time until which a loss is looked for
  // The buffer taken last, until it is delivered: its frames and the frames lost before it.
  std::int64_t TakenFrames = 0;
  std::int64_t TakenLost = 0;
  // Wall time per card time minus one; 0 until the estimate has settled.
  double Slope() const;
  // Frames lost without a report, judged at the end of each loss window (see the .cpp).
  std::int64_t UnreportedLoss(std::int64_t offset, std::int64_t cardUs, std::int64_t takenUs);
  // Lowest offset of the current and of the previous quarter second of card time: what a reading lies
  // above by its lateness. Recent readings only: a sound server's reported latency steps (as its
  // stream settles, or a client joins its sink), and an estimate held by older readings would cut a
  // pause at the wrong place.
  std::int64_t RecentMin = INT64_MAX;
  std::int64_t PrevRecentMin = INT64_MAX;
  std::int64_t RecentWindow = -1;
  std::int64_t FloorOffset(std::int64_t offset, std::int64_t cardUs);
};

// Copies `frames` frames of `blockAlign` bytes from `src` to `dst`, inserting (adjust > 0) or dropping
// (adjust < 0) |adjust| frames at evenly spread places; inserted frames repeat their neighbour.
// `dst` must hold frames + adjust frames. |adjust| must be below `frames`.
void CopyAdjustedFrames(std::uint8_t* dst, const std::uint8_t* src, std::int64_t frames, int blockAlign,
                        std::int64_t adjust);

}  // namespace qv
