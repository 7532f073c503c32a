// Opening and closing the wave input: device numbers, the capture format, the two buffers.
#include <alsa/asoundlib.h>

#include <cerrno>

#include "capture/capture_session.h"
#include "capture/sound_sources.h"
#include "capture/wave_capture.h"
#include "capture/wave_capture_reopen.h"
#include "capture/wave_capture_thread.h"
#include "media/ff_api.h"

namespace qv {

std::string WaveErrorText(int code) {
  // ALSA's texts are short; keep them to the 256 characters the old interface allowed.
  std::string text = snd_strerror(code);
  if (text.size() > 255) text.resize(255);
  return text;
}

std::vector<std::string> WaveCaptureDeviceNames() {
  std::vector<std::string> names;
  for (TSoundSource& pcm : AlsaCapturePcms()) names.push_back(std::move(pcm.Name));
  return names;
}

bool AddWaveBuffer(TWaveCaptureContext& state, TWaveInDevice& device) {
  const int current = state.CurrentBuffer.load();
  const int err = device.AddBuffer(&state.Headers[current]);
  if (err < 0) {
    // Refused after a close began is no loss; otherwise the device is gone.
    if (!state.Stopped.load()) LoseWaveInput(state, "ALSA: " + WaveErrorText(err));
    return false;
  }
  state.CurrentBuffer.store(1 - current);
  return true;
}

namespace {

void SetFormat(TWaveCaptureContext& state) {
  TWaveFormat& format = state.WaveFormat;
  format.FormatTag = 1;
  format.Channels = static_cast<std::uint16_t>(state.Channels);
  format.SamplesPerSec = static_cast<std::uint32_t>(state.SampleRate);
  format.BitsPerSample = static_cast<std::uint16_t>(state.BitsPerSample);
  format.BlockAlign = static_cast<std::uint16_t>(state.BitsPerSample * state.Channels / 8);
  format.AvgBytesPerSec = static_cast<std::uint32_t>(static_cast<std::int64_t>(state.SampleRate) * format.BlockAlign);
  format.ExtraSize = 0;
}

void SetBuffers(TWaveCaptureContext& state) {
  const std::uint32_t length = static_cast<std::uint32_t>(state.BufferSize - state.BufferSize % state.WaveFormat.BlockAlign);
  for (int i = 0; i < 2; ++i) {
    state.Buffers[i].assign(length, 0);
    state.Headers[i] = TWaveHeader{};
    state.Headers[i].Data = state.Buffers[i].data();
    state.Headers[i].BufferLength = length;
  }
}

// The PCM a named source or a device number stands for; "" (and why) when there is none.
TSoundSourcePcm PcmOf(const TWaveCaptureContext& state, std::string& reason) {
  if (!state.Source.empty()) return SoundSourcePcm(state.Source);
  const std::vector<std::string> devices = WaveCaptureDeviceNames();
  if (devices.empty()) reason = "no capture device is configured";
  else if (state.DeviceId == -1) return {kDefaultSoundSource};
  else if (state.DeviceId >= 0 && static_cast<std::size_t>(state.DeviceId) < devices.size())
    return {devices[static_cast<std::size_t>(state.DeviceId)]};
  else reason = WaveErrorText(-ENODEV);
  return {};
}

// A source of the sound server that is removed goes silent with a notice, as a lost input does.
void WatchSource(TWaveCapture& capture) {
  std::shared_ptr<TWaveCaptureContext> shared = capture.State;
  capture.SourceWatch = std::make_unique<TSoundSourceWatch>(shared->Source, [shared] {
    LoseWaveInput(*shared, "the sound source \"" + shared->Source + "\" was removed");
  });
}

// Buffers queued, capture running, the second buffer queued behind the first.
int StartCapture(TWaveCaptureContext& state, TWaveInDevice& device) {
  for (TWaveHeader& header : state.Headers)
    if (const int err = device.Prepare(&header); err < 0) return err;
  state.CurrentBuffer.store(0);
  state.LastBufferUs.store(WaveMonotonicUs());
  if (!AddWaveBuffer(state, device)) return -EBADFD;
  if (const int err = device.Start(); err < 0) return err;
  return AddWaveBuffer(state, device) ? 0 : -EBADFD;
}

void LogClockSummary(TWaveCaptureContext& state) {
  const TWaveClock& clock = *state.Clock;
  if (clock.CardFrames() <= 0) return;
  ff::av_log(state.LogContext(), AV_LOG_INFO,
             "audio clock %+.0f ppm against the wall clock over %.1f s; frames inserted %lld, dropped %lld, "
             "silence for lost audio %lld\n",
             clock.DriftPpm(), static_cast<double>(clock.CardFrames()) / state.SampleRate,
             static_cast<long long>(clock.InsertedFrames()), static_cast<long long>(clock.DroppedFrames()),
             static_cast<long long>(clock.SilenceFrames()));
}

// Opens the input's PCM as a new generation of the device, whose reports alone count from now on,
// and starts capture.
std::string StartDevice(TWaveCapture& capture) {
  TWaveCaptureContext& state = *capture.State;
  std::string reason;
  const TSoundSourcePcm source = PcmOf(state, reason);
  const std::string& pcm = source.Pcm;
  if (pcm.empty()) return reason;
  int err = TWaveInDevice::Query(pcm, state.WaveFormat);
  if (err < 0) return WaveErrorText(err);
  // The capture thread shares the state: it may outlive the close (see wave_capture_thread.h).
  std::shared_ptr<TWaveCaptureContext> shared = capture.State;
  const int generation = ++state.Generation;
  err = TWaveInDevice::Open(capture.WaveIn, pcm, state.WaveFormat,
                            [shared, generation](TWaveInDevice& device, TWaveMessage message, TWaveHeader* header,
                                                 int code) {
                              if (shared->Generation.load() == generation)
                                WaveInCallback(*shared, device, message, header, code);
                            });
  if (err >= 0) err = StartCapture(state, *capture.WaveIn);
  if (err < 0) return WaveErrorText(err);
  if (source.ServerSource) WatchSource(capture);
  return "";
}

}  // namespace

std::string OpenWaveDevice(TWaveCapture& capture) {
  TWaveCaptureContext& state = *capture.State;
  SetFormat(state);
  SetBuffers(state);
  const std::string reason = StartDevice(capture);
  if (reason.empty()) capture.Reopen = std::make_unique<TWaveReopen>(capture);
  return reason;
}

std::string ReopenWaveDevice(TWaveCapture& capture) {
  TWaveCaptureContext& state = *capture.State;
  capture.SourceWatch.reset();
  ++state.Generation;  // whatever the lost device still reports is ignored
  if (std::shared_ptr<TWaveInDevice> lost = std::move(capture.WaveIn)) lost->Close();
  // A new device starts on a clock of its own: the gap is placed by the time line, not measured.
  state.Clock.emplace(state.SampleRate);
  state.PauseFromUs = INT64_MIN;  // a pause's cut counted on the old clock's frames
  {
    std::lock_guard guard(state.QueueLock);
    state.Resuming = true;
  }
  state.Stopped.store(0);
  const std::string reason = StartDevice(capture);
  if (reason.empty()) return reason;
  state.Stopped.store(1);
  if (std::shared_ptr<TWaveInDevice> failed = std::move(capture.WaveIn)) failed->Close();
  std::lock_guard guard(state.QueueLock);
  state.Resuming = false;
  return reason;
}

void CloseWaveDevice(TWaveCapture& capture) {
  TWaveCaptureContext& state = *capture.State;
  state.Closing.store(1);
  capture.Reopen.reset();  // first, so nothing opens the device again behind the close
  state.Stopped.store(1);  // from now on the callback does nothing
  capture.SourceWatch.reset();
  if (std::shared_ptr<TWaveInDevice> device = std::move(capture.WaveIn)) {
    // Resets first: every buffer comes back. The clock is the capture thread's until it has ended.
    if (device->Close()) LogClockSummary(state);
  }
  if (state.Session) state.Session->Leave(&state);
}

}  // namespace qv
