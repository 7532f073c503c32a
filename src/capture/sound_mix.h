// The arithmetic of several sound sources recorded into one stream: each source's volume and mute,
// their sum, a soft limiter on the sum, the level of each source (for meters) and a watch for a
// microphone that records nothing. Pure sample arithmetic, no device: the "wavemix" device
// (wave_mix.h) and the options window's meters (sound_meter.h) run it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qv {

// What a meter shows for one source; levels in dB below full scale.
struct TSoundLevel {
  std::string Label;  // "Microphone", "Desktop"
  double PeakDb = -90.0;
  double RmsDb = -90.0;
  bool Muted = false;
};

// Anything below this reads as silence on a meter.
constexpr double kSilentDb = -90.0;
// A source whose peak stays below this is taken for silent: a muted or unplugged microphone gives
// zeros or a faint hum, never speech.
constexpr double kQuietDb = -60.0;
// How long a watched source may stay silent before the user is told.
constexpr std::int64_t kSilenceNoticeUs = 10000000;

// "Microphone −18 dB, Desktop −30 dB" (peaks); a muted source reads "muted", silence "silent".
std::string SoundLevelsText(const std::vector<TSoundLevel>& levels);

// Peak and RMS of `count` 16-bit samples, each scaled by `gain`, in dB (kSilentDb at the least).
void MeasureLevel(const std::int16_t* samples, std::size_t count, double gain, double& peakDb, double& rmsDb);

struct TMixInput {
  std::string Label;
  int VolumePercent = 100;  // 0..200
  bool Muted = false;
  bool WatchSilence = false;  // told once when silent for kSilenceNoticeUs of the recording
};

// Sums the sources frame by frame. Threads: one caller (the reader of the device that owns it).
class TSoundMixer {
 public:
  TSoundMixer(std::vector<TMixInput> inputs, int sampleRate, int channels);

  // `in[i]` holds `frames` interleaved frames of input i; `out` receives as many.
  void Mix(const std::vector<const std::int16_t*>& in, std::int64_t frames, std::int16_t* out);

  // Each input's level in the last Mix, after its volume.
  const std::vector<TSoundLevel>& Levels() const { return Meter; }
  // The notices of inputs that just passed kSilenceNoticeUs of silence ("The microphone has been
  // silent for 10 s."), each input once per mixer.
  std::vector<std::string> TakeSilenceNotices();

  // How often the limiter acted: onsets, and frames it held down, of all frames mixed.
  std::int64_t LimiterOnsets() const { return Onsets; }
  std::int64_t LimitedFrames() const { return Limited; }
  std::int64_t MixedFrames() const { return Mixed; }

 private:
  void WatchSilence(std::size_t input, const std::int16_t* samples, std::int64_t frames);
  void Limit(float* sum, std::int64_t frames, std::int16_t* out);

  std::vector<TMixInput> Inputs;
  int Rate;
  int Channels;
  std::vector<TSoundLevel> Meter;
  std::vector<std::int64_t> SilentFrames;  // per input: frames of silence in a row
  std::vector<bool> SilenceTold;
  std::vector<std::string> Notices;
  std::vector<float> Sum;
  double Gain = 1.0;     // the limiter's gain now
  double Release;        // per frame, how much of the way back to 1 the gain goes
  bool Acting = false;
  std::int64_t Onsets = 0;
  std::int64_t Limited = 0;
  std::int64_t Mixed = 0;
};

}  // namespace qv
