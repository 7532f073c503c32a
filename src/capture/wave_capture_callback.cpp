// WaveInCallback: what happens to each buffer the capture thread completes.
#include <cstring>

#include "capture/pause_flags.h"
#include "capture/wave_capture.h"
#include "capture/wave_capture_clock.h"
#include "capture/wave_capture_queue.h"
#include "capture/wave_capture_thread.h"
#include "media/ff_api.h"

namespace qv {

namespace {

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
  if (!state->Started.load()) {
    ff::av_log(owner, AV_LOG_DEBUG, "not started, skip wave data %d bytes\n", recorded);
    AddWaveBuffer(state);
    return;
  }
  const int blockAlign = state->WaveFormat.BlockAlign;
  const std::int64_t frames = recorded / blockAlign;
  const bool paused = state->PausePointer && state->PausePointer->Paused();
  // Paused audio still tells the clock how fast the card runs.
  const TWaveAdjust adjust = state->Clock->Account(frames, header->CaptureEndUs, header->LostFrames, !paused);
  if (paused) {
    AddWaveBuffer(state);
    return;
  }

  const std::int64_t silenceBytes = adjust.Silence * blockAlign;
  const auto size = static_cast<int>(silenceBytes + (frames + adjust.Frames) * blockAlign);
  {
    std::lock_guard guard(*state->QueueLock);
    std::uint8_t* data = AppendWavePacket(state, size);
    if (!data) {
      StopCapture(state);
      return;  // the buffer is not handed back: capture is over
    }
    std::memset(data, state->BitsPerSample == 8 ? 0x80 : 0, static_cast<std::size_t>(silenceBytes));
    CopyAdjustedFrames(data + silenceBytes, header->Data, frames, blockAlign, adjust.Frames);
    state->DataReady->Set();
  }
  AddWaveBuffer(state);
}

}  // namespace qv
