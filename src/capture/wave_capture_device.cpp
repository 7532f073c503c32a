// Opening and closing the wave input: device numbers, the capture format, the two buffers.
#include <alsa/asoundlib.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "capture/capture_timeline.h"
#include "capture/pause_flags.h"
#include "capture/wave_capture.h"
#include "capture/wave_capture_clock.h"
#include "capture/wave_capture_queue.h"
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
  void** hints = nullptr;
  if (snd_device_name_hint(-1, "pcm", &hints) < 0 || !hints) return names;
  for (void** hint = hints; *hint; ++hint) {
    char* name = snd_device_name_get_hint(*hint, "NAME");
    char* ioid = snd_device_name_get_hint(*hint, "IOID");
    // No IOID means the PCM does both directions.
    if (name && (!ioid || std::strcmp(ioid, "Output") != 0)) names.emplace_back(name);
    std::free(name);
    std::free(ioid);
  }
  snd_device_name_free_hint(hints);
  return names;
}

bool AddWaveBuffer(TWaveCaptureContext* state) {
  AVFormatContext* owner = state->Owner.load();
  if (!state->WaveIn) {
    ff::av_log(owner, AV_LOG_DEBUG, "WaveHandle is invalid.\n");
    return false;
  }
  const int current = state->CurrentBuffer.load();
  const int err = state->WaveIn->AddBuffer(state->HeaderRefs[current]);
  if (err < 0) {
    ff::av_log(owner, AV_LOG_ERROR, "%s\n", WaveErrorText(err).c_str());
    state->Stopped.store(1);
    if (state->DataReady) state->DataReady->Set();
    return false;
  }
  state->CurrentBuffer.store(1 - current);
  return true;
}

bool OpenWaveDevice(TWaveCaptureContext* state) {
  AVFormatContext* owner = state->Owner.load();
  const std::vector<std::string> devices = WaveCaptureDeviceNames();
  if (devices.empty()) {
    ff::av_log(owner, AV_LOG_ERROR, "No wave audio recording devices found.\n");
    return false;
  }

  TWaveFormat& format = state->WaveFormat;
  format.FormatTag = 1;
  format.Channels = static_cast<std::uint16_t>(state->Channels);
  format.SamplesPerSec = static_cast<std::uint32_t>(state->SampleRate);
  format.BitsPerSample = static_cast<std::uint16_t>(state->BitsPerSample);
  format.BlockAlign = static_cast<std::uint16_t>(state->BitsPerSample * state->Channels / 8);
  if (format.BlockAlign == 0) format.BlockAlign = 1;
  format.AvgBytesPerSec = static_cast<std::uint32_t>(static_cast<std::int64_t>(state->SampleRate) * format.BlockAlign);
  format.ExtraSize = 0;

  std::memset(state->Headers, 0, sizeof(state->Headers));
  state->HeaderRefs[0] = &state->Headers[0];
  state->HeaderRefs[1] = &state->Headers[1];

  const std::int64_t length = state->BufferSize - state->BufferSize % format.BlockAlign;
  for (int i = 0; i < 2; ++i) {
    if (length > 0) state->Buffers[i] = static_cast<std::uint8_t*>(ff::av_mallocz(static_cast<std::size_t>(length)));
    if (!state->Buffers[i]) {
      ff::av_log(owner, AV_LOG_ERROR, "Error allocating wave buffer memory.\n");
      return false;
    }
    state->Headers[i].Data = state->Buffers[i];
    state->Headers[i].BufferLength = static_cast<std::uint32_t>(length);
  }

  std::string pcm;
  if (state->DeviceId == -1) {
    pcm = "default";
  } else if (state->DeviceId >= 0 && static_cast<std::size_t>(state->DeviceId) < devices.size()) {
    pcm = devices[static_cast<std::size_t>(state->DeviceId)];
  } else {
    ff::av_log(owner, AV_LOG_ERROR, "%s\n", WaveErrorText(-ENODEV).c_str());
    return false;
  }

  int err = TWaveInDevice::Query(pcm, format);
  if (err < 0) {
    ff::av_log(owner, AV_LOG_ERROR, "%s\n", WaveErrorText(err).c_str());
    return false;
  }
  err = TWaveInDevice::Open(&state->WaveIn, pcm, format, WaveInCallback, state);
  if (err < 0) {
    ff::av_log(owner, AV_LOG_ERROR, "%s\n", WaveErrorText(err).c_str());
    return false;
  }
  for (TWaveHeader* header : state->HeaderRefs) {
    err = state->WaveIn->Prepare(header);
    if (err < 0) {
      ff::av_log(owner, AV_LOG_ERROR, "%s\n", WaveErrorText(err).c_str());
      return false;
    }
  }

  state->CurrentBuffer.store(0);
  state->LastBufferUs.store(WaveMonotonicUs());
  if (!AddWaveBuffer(state)) return false;
  err = state->WaveIn->Start();
  if (err < 0) {
    ff::av_log(owner, AV_LOG_ERROR, "%s\n", WaveErrorText(err).c_str());
    return false;
  }
  return AddWaveBuffer(state);
}

void CloseWaveDevice(TWaveCaptureContext* state) {
  AVFormatContext* owner = state->Owner.load();
  if (owner && state->Clock && state->Clock->CardFrames() > 0) {
    const TWaveClock& clock = *state->Clock;
    ff::av_log(owner, AV_LOG_INFO,
               "audio clock %+.0f ppm against the wall clock over %.1f s; frames inserted %lld, dropped %lld, "
               "silence for lost audio %lld\n",
               clock.DriftPpm(), static_cast<double>(clock.CardFrames()) / state->SampleRate,
               static_cast<long long>(clock.InsertedFrames()), static_cast<long long>(clock.DroppedFrames()),
               static_cast<long long>(clock.SilenceFrames()));
  }
  state->Owner.store(nullptr);
  state->Stopped.store(1);  // from now on the callback does nothing
  if (state->WaveIn) {
    state->WaveIn->Close();  // resets first: every buffer comes back
    state->WaveIn = nullptr;
  }
  delete state->QueueLock;
  state->QueueLock = nullptr;
  delete state->DataReady;
  state->DataReady = nullptr;
  for (std::uint8_t*& buffer : state->Buffers) {
    ff::av_free(buffer);
    buffer = nullptr;
  }
  DropWavePackets(state);
  delete state->Clock;
  state->Clock = nullptr;
  delete state->PausePointer;
  state->PausePointer = nullptr;
  LeaveCaptureTimeline(state);
}

}  // namespace qv
