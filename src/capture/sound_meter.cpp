#include "capture/sound_meter.h"

#include <chrono>

#include "capture/wave_capture.h"
#include "media/ff_api.h"
#include "media/ff_owners.h"
#include "media/input_device.h"
#include "media/loader.h"

namespace qv {

namespace {

// 100 ms buffers of 44.1 kHz stereo: ten readings a second, as a meter wants.
constexpr char kMeterOptions[] = "r=44100;c=2;f=16;bufsize=17640";

}  // namespace

TSoundMeter::TSoundMeter(const std::string& source, const std::string& label) {
  Last.Label = label;
  Thread = std::thread([this, source] { Run(source); });
}

TSoundMeter::~TSoundMeter() {
  Stop.store(true);
  Thread.join();
}

void TSoundMeter::SetVolume(int percent, bool muted) {
  Volume.store(percent);
  Muted.store(muted);
}

TSoundLevel TSoundMeter::Level() const {
  std::lock_guard guard(Lock);
  TSoundLevel level = Last;
  level.Muted = Muted.load();
  return level;
}

std::string TSoundMeter::Problem() const {
  std::lock_guard guard(Lock);
  return Failure;
}

// Opened, read and closed on this thread alone, as the device host asks; reads do not block, so a
// closing window never waits for sound.
void TSoundMeter::Run(std::string source) {
  // The program binds the libraries at its start; without them there is nothing to measure with.
  if (!FFLoader().AllLoaded(kEncoderLibraries)) {
    std::lock_guard guard(Lock);
    Failure = "The FFmpeg libraries are not loaded.";
    return;
  }
  RegisterWaveCapture();
  const std::string options = kMeterOptions + (source.empty() ? std::string() : ";source=" + source);
  TDeviceInput input;
  TFormatParameters ap;
  if (input.Open(&WaveCaptureDevice, options, &ap) < 0) {
    std::lock_guard guard(Lock);
    Failure = input.ErrorText();
    return;
  }
  input.Context()->flags |= AVFMT_FLAG_NONBLOCK;
  TPacketPtr packet(ff::av_packet_alloc());
  while (packet && !Stop.load()) {
    if (input.ReadPacket(packet.get()) < 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      continue;
    }
    double peak = 0, rms = 0;
    MeasureLevel(reinterpret_cast<const std::int16_t*>(packet->data), std::size_t(packet->size / 2),
                 Volume.load() / 100.0, peak, rms);
    ff::av_packet_unref(packet.get());
    std::lock_guard guard(Lock);
    Last.PeakDb = peak;
    Last.RmsDb = rms;
  }
}

}  // namespace qv
