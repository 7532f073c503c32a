// "wavemix": several sound sources recorded as one. It owns a wave capture (wave_capture.h) per
// source, each opened through the device host as a recording's sound device would be, so each keeps
// its own clock on the recording's time line (its count of samples follows the wall clock), its own
// loss and reopening; sample k of every source is then the same moment, and the device sums them
// (sound_mix.h) into the one stream the engine records.
//
// A source that stalls holds the mix back until its capture gives it up (then its silence, paced
// on the wall clock, stands in for it), so nothing of the other source is dropped; a source lost
// is silence in the mix while the others go on.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "capture/sound_mix.h"
#include "media/input_device.h"

namespace qv {

class TCaptureSession;

// Threads: everything belongs to the thread that reads the device (the engine's worker).
class TWaveMix final : public TDeviceState {
 public:
  TWaveMix();
  ~TWaveMix() override;
  TWaveMix(const TWaveMix&) = delete;
  TWaveMix& operator=(const TWaveMix&) = delete;

  void* LogContext() { return &LogClass; }

  struct TSource {
    std::unique_ptr<TDeviceInput> Capture;
    std::vector<std::int16_t> Pending;  // samples read and not mixed yet, from Offset on
    std::size_t Offset = 0;
    int Channels = 2;
    std::int64_t Frames() const;
  };

  const AVClass* LogClass;
  int SampleRate = 44100;
  int Channels = 2;
  std::vector<TSource> Sources;
  std::unique_ptr<TSoundMixer> Mixer;
  std::shared_ptr<TCaptureSession> Session;
  std::vector<const std::int16_t*> Heads;  // reused by each mix
};

extern const TInputDevice WaveMixDevice;
// Registers "wavemix" and the "wavecapture" it is made of.
void RegisterWaveMix();

}  // namespace qv
