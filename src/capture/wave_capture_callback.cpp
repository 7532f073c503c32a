// WaveInCallback: what happens to each buffer the capture thread completes.
#include <algorithm>
#include <cstring>

#include "capture/capture_timeline.h"
#include "capture/pause_flags.h"
#include "capture/wave_capture.h"
#include "capture/wave_capture_clock.h"
#include "capture/wave_capture_queue.h"
#include "capture/wave_capture_thread.h"
#include "media/ff_api.h"

namespace qv {

namespace {

// Silence put before a start later than the origin is capped at this (a stalled sound server must
// not fill the file with silence in one go).
constexpr std::int64_t kWaveMaxPadUs = 2000000;

void StopCapture(TWaveCaptureContext* state) {
  state->Stopped.store(1);
  // Wake a reader waiting for data so it learns at once that nothing more will come.
  if (state->DataReady) state->DataReady->Set();
}

}  // namespace

void WaveInCallback(TWaveInDevice*, TWaveMessage message, void* instance, TWaveHeader* header, int code) {
  auto* state = static_cast<TWaveCaptureContext*>(instance);
  // Once stopped (tear-down included) nothing the device reports matters.
  if (state->Stopped.load()) return;
  AVFormatContext* owner = state->Owner.load();
  switch (message) {
    case TWaveMessage::Open:
      ff::av_log(owner, AV_LOG_INFO, "waveIn device opened.\n");
      return;
    case TWaveMessage::Close:
      ff::av_log(owner, AV_LOG_INFO, "waveIn device closed.\n");
      StopCapture(state);
      return;
    case TWaveMessage::Error:
      // The device is gone or broken: capture ends here, the reader gets "broken pipe".
      ff::av_log(owner, AV_LOG_ERROR, "%s\n", WaveErrorText(code).c_str());
      StopCapture(state);
      return;
    case TWaveMessage::Data:
      break;
  }

  state->LastBufferUs.store(WaveMonotonicUs());
  const int recorded = static_cast<int>(header->BytesRecorded);
  if (recorded == 0) {
    AddWaveBuffer(state);
    return;
  }
  // Once another device of the recording has started, the sound belongs to the recording even
  // before the engine first asks for it (it asks only after the first frame went through).
  if (!state->Started.load() && !CaptureTimelineStarted()) {
    ff::av_log(owner, AV_LOG_DEBUG, "not started, skip wave data %d bytes\n", recorded);
    AddWaveBuffer(state);
    return;
  }
  const int blockAlign = state->WaveFormat.BlockAlign;
  const std::int64_t frames = recorded / blockAlign;
  const bool paused = state->PausePointer && state->PausePointer->Paused();
  // The first sound delivered is placed on the recording's time line: what was captured before the
  // origin is cut off, a late start is padded with silence (see capture_timeline.h).
  std::int64_t lead = 0, pad = 0;
  if (!paused && !StartedOnCaptureTimeline(state)) {
    const std::int64_t rate = state->SampleRate;
    std::int64_t origin = 0;
    if (CaptureTimelineOrigin(origin) && header->CaptureEndUs <= origin) {
      AddWaveBuffer(state);
      return;
    }
    const std::int64_t offset = StartOnCaptureTimeline(state, header->CaptureEndUs - frames * 1000000 / rate);
    if (offset < 0) lead = std::min(frames - 1, -offset * rate / 1000000);
    else pad = std::min(offset, kWaveMaxPadUs) * rate / 1000000;
  }
  // Paused audio still tells the clock how fast the card runs.
  const TWaveAdjust adjust = state->Clock->Account(frames, header->CaptureEndUs, header->LostFrames, !paused);
  if (paused) {
    AddWaveBuffer(state);
    return;
  }

  const std::int64_t silenceBytes = (adjust.Silence + pad) * blockAlign;
  const std::int64_t kept = frames - lead;
  const std::int64_t change = lead ? 0 : adjust.Frames;  // the clock changes nothing this early
  const auto size = static_cast<int>(silenceBytes + (kept + change) * blockAlign);
  {
    std::lock_guard guard(*state->QueueLock);
    std::uint8_t* data = AppendWavePacket(state, size);
    if (!data) {
      StopCapture(state);
      return;  // the buffer is not handed back: capture is over
    }
    std::memset(data, state->BitsPerSample == 8 ? 0x80 : 0, static_cast<std::size_t>(silenceBytes));
    CopyAdjustedFrames(data + silenceBytes, header->Data + lead * blockAlign, kept, blockAlign, change);
    state->DataReady->Set();
  }
  AddWaveBuffer(state);
}

}  // namespace qv
