// Whether a recording's video keeps to the bit rate asked for. Some content the codec cannot squeeze
// that far (full motion at a low rate, even at its coarsest quantiser); then the user should hear it
// once, while recording, rather than find a file several times the planned size.
//
// Pure arithmetic over the progress the run reports, so it is checked on its own. One owner: the
// recording, on the main thread.
#pragma once

#include <cstdint>
#include <string>

namespace qv {

class TBitrateWatch {
 public:
  TBitrateWatch() = default;  // watches nothing
  // Both in bit/s; `soundRate` is the sound's fixed share of the file (0 without sound).
  TBitrateWatch(int videoTarget, int soundRate) : Target(videoTarget), Sound(soundRate) {}

  // Fed with each progress report: recorded time (pauses left out) and the file's size. Returns the
  // notice the first time a stretch of the recording ran more than a fifth above the target, else "".
  std::string Judge(std::int64_t recordedUs, std::int64_t fileBytes);

 private:
  int Target = 0;
  int Sound = 0;
  std::int64_t StretchFromUs = -1;
  std::int64_t StretchFromBytes = 0;
  bool Told = false;
};

// "360 kbit/s", "1.3 Mbit/s": whole kilobits below a megabit, tenths of a megabit from there on.
std::string BitRateText(std::int64_t bitsPerSecond);

}  // namespace qv
