// A live level meter of one sound source, for the options window while nothing is recorded: the
// source is captured as a recording would capture it (the wave device), on a thread of its own,
// and each 100 ms of sound leaves its peak and RMS after the chosen volume.
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <thread>

#include "capture/sound_mix.h"

namespace qv {

class TSoundMeter {
 public:
  // `source` by name (sound_sources.h); "" or "default" is ALSA's default.
  TSoundMeter(const std::string& source, const std::string& label);
  ~TSoundMeter();  // stops the capture; at most as long as closing a wave device takes
  TSoundMeter(const TSoundMeter&) = delete;
  TSoundMeter& operator=(const TSoundMeter&) = delete;

  // Volume 0..200 percent; a muted source reads as muted.
  void SetVolume(int percent, bool muted);
  TSoundLevel Level() const;
  // Why the source could not be opened, in the device's words; "" while it records.
  std::string Problem() const;

 private:
  void Run(std::string source);

  std::atomic<bool> Stop{false};
  std::atomic<int> Volume{100};
  std::atomic<bool> Muted{false};
  mutable std::mutex Lock;
  TSoundLevel Last;
  std::string Failure;
  std::thread Thread;
};

}  // namespace qv
