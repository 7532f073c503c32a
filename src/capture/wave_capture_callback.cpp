// WaveInCallback: what happens to each buffer the capture thread completes.
#include <algorithm>
#include <cstring>
#include <vector>

#include "capture/capture_session.h"
#include "capture/wave_capture.h"
#include "capture/wave_capture_queue.h"
#include "capture/wave_capture_thread.h"
#include "media/ff_api.h"

namespace qv {

namespace {

// Silence put before a start later than the origin is capped at this (a stalled sound server must
// not fill the file with silence in one go).
constexpr std::int64_t kWaveMaxPadUs = 2000000;
constexpr std::int64_t kLossToldAfterUs = 2000000;

// Where the first sound delivered goes on the recording's time line: `lead` frames captured before
// the origin are cut off, a late start gets `pad` frames of silence before it (see capture_session.h).
// False when the whole buffer lies before the origin.
bool PlaceFirstSound(TWaveCaptureContext& state, const TWaveHeader& header, std::int64_t frames, std::int64_t& lead,
                     std::int64_t& pad) {
  const std::int64_t rate = state.SampleRate;
  std::int64_t origin = 0;
  if (state.Session->Origin(origin) && header.CaptureEndUs <= origin) return false;
  const std::int64_t offset = state.Session->Start(&state, header.CaptureEndUs - frames * 1000000 / rate);
  if (offset < 0) lead = std::min(frames - 1, -offset * rate / 1000000);
  else pad = std::min(offset, kWaveMaxPadUs) * rate / 1000000;
  return true;
}

// The first sound of an input opened again after a loss goes where its capture began on the time
// line: what the reader handed out meanwhile was silence up to about now, so a few of its frames are
// usually cut (`lead`), or silence fills a gap the reader has not covered yet (`silence`). False
// while the whole buffer lies before what was handed out. Call with QueueLock held.
bool PlaceResumedSound(TWaveCaptureContext& state, const TWaveHeader& header, std::int64_t frames, std::int64_t paused,
                       std::int64_t& lead, std::int64_t& silence) {
  const std::int64_t rate = state.SampleRate;
  const int blockAlign = state.WaveFormat.BlockAlign;
  std::int64_t origin = 0;
  state.Session->Origin(origin);
  std::int64_t placed = state.HandedFrames;
  for (const TWavePacket& queued : state.PacketQueue) placed += queued->size / blockAlign;
  const std::int64_t startUs = header.CaptureEndUs - frames * 1000000 / rate;
  const std::int64_t gap = (startUs - origin - paused) * rate / 1000000 - placed;
  if (gap <= -frames) return false;
  lead = gap < 0 ? -gap : 0;
  silence = gap > 0 ? std::min(gap, kWaveMaxPadUs * rate / 1000000) : 0;
  state.Resuming = false;
  state.LostReason.clear();
  state.BackToTell = true;
  return true;
}

// The packet made of `header`: `silence` frames of silence, then the buffer's frames from `lead` on
// with the clock's `change` spread over them. False when no packet could be made.
bool QueuePacket(TWaveCaptureContext& state, const TWaveHeader& header, std::int64_t lead, std::int64_t silence,
                 std::int64_t change) {
  const int blockAlign = state.WaveFormat.BlockAlign;
  const std::int64_t frames = header.BytesRecorded / blockAlign;
  const std::int64_t paused = state.Session->PausedMicros();
  std::lock_guard guard(state.QueueLock);
  if (state.Resuming) {
    change = 0;
    if (!PlaceResumedSound(state, header, frames, paused, lead, silence)) return true;
  }
  const std::int64_t kept = frames - lead;
  // Silence for a long stall goes in packets of a second or less, so no one packet grows huge.
  const std::int64_t chunk = state.SampleRate;
  for (; silence > chunk; silence -= chunk) {
    std::uint8_t* data = AppendWavePacket(state, static_cast<int>(chunk * blockAlign));
    if (!data) return false;
    FillWaveSilence(state, data, chunk);
    state.AnchorFrames += chunk;
  }
  const std::int64_t silenceBytes = silence * blockAlign;
  const auto size = static_cast<int>(silenceBytes + (kept + change) * blockAlign);
  std::uint8_t* data = AppendWavePacket(state, size);
  if (!data) return false;
  state.HasAnchor = true;
  state.AnchorUs = WaveMonotonicUs();
  state.AnchorFrames += size / blockAlign;
  state.PausedAtAnchor = paused;
  FillWaveSilence(state, data, silence);
  CopyAdjustedFrames(data + silenceBytes, header.Data + lead * blockAlign, kept, blockAlign, change);
  state.DataReady.Set();
  return true;
}

// Sound lost in one stall is often found in steps (the sound server's reports catch up over a few
// seconds), so the log says it once, when no more has been found for kLossToldAfterUs.
void NoteLostSound(TWaveCaptureContext& state, std::int64_t frames) {
  const std::int64_t now = WaveMonotonicUs();
  if (frames > 0) {
    state.LossToTell += frames;
    state.LossFoundUs = now;
    return;
  }
  if (state.LossToTell == 0 || now - state.LossFoundUs < kLossToldAfterUs) return;
  ff::av_log(state.LogContext(), AV_LOG_WARNING,
             "%.2f s of sound was lost (not read in time: the program was stopped or starved); silence stands in "
             "for it\n",
             static_cast<double>(state.LossToTell) / state.SampleRate);
  state.LossToTell = 0;
}

// Leaves out of `header` the frames captured while the recording was paused. A pause's start is
// placed by when the clock says each frame was captured, not by when the buffer came (a buffer is a
// tenth of a second, and on a busy machine it comes late), and from there exactly the pause's length
// is left out, so the sound after it keeps its place even when the estimate moved meanwhile. The
// header's end becomes that of its last frame kept. Returns the frames kept, moved together at the
// start of its data.
std::int64_t LeaveOutPauses(TWaveCaptureContext& state, TWaveHeader& header) {
  const int blockAlign = state.WaveFormat.BlockAlign;
  const std::int64_t rate = state.SampleRate;
  const std::int64_t frames = header.BytesRecorded / blockAlign;
  const std::int64_t startUs = header.CaptureEndUs - frames * 1000000 / rate;
  const std::int64_t firstCard = state.Clock->CardFrames() - frames;
  // A pause ends where its start was placed plus its length, which may lie a little after the end
  // estimated now: pauses that ended up to a second ago are looked at.
  const std::vector<TCaptureSession::TSpan> pauses = state.Session->PausesSince(startUs - 1000000);
  if (pauses.empty()) return frames;
  std::uint8_t* data = header.Data;
  std::int64_t kept = 0, next = 0, keptEnd = 0;
  auto keep = [&](std::int64_t to) {
    if (to <= next) return;
    std::memmove(data + kept * blockAlign, data + next * blockAlign,
                 static_cast<std::size_t>((to - next) * blockAlign));
    kept += to - next;
    keptEnd = to;
  };
  for (const TCaptureSession::TSpan& pause : pauses) {
    if (pause.FromUs != state.PauseFromUs) {
      state.PauseFromUs = pause.FromUs;
      state.PauseCard = firstCard + ((pause.FromUs - startUs) * rate + 999999) / 1000000;
    }
    const std::int64_t from = state.PauseCard - firstCard;
    const std::int64_t to = pause.ToUs == INT64_MAX ? frames : from + (pause.ToUs - pause.FromUs) * rate / 1000000;
    keep(std::clamp<std::int64_t>(from, 0, frames));
    next = std::max(next, std::clamp<std::int64_t>(to, 0, frames));
  }
  keep(frames);
  header.BytesRecorded = static_cast<std::uint32_t>(kept * blockAlign);
  header.CaptureEndUs = startUs + keptEnd * 1000000 / rate;
  return kept;
}

// Keeps a completed buffer's audio, or the part of it captured outside pauses.
void TakeBuffer(TWaveCaptureContext& state, const TWaveHeader& completed) {
  const int recorded = static_cast<int>(completed.BytesRecorded);
  if (recorded == 0) return;
  // Once another device of the recording has started, the sound belongs to the recording even
  // before the engine first asks for it (it asks only after the first frame went through).
  if (!state.Started.load() && !state.Session->Started()) {
    ff::av_log(state.LogContext(), AV_LOG_DEBUG, "not started, skip wave data %d bytes\n", recorded);
    return;
  }
  const std::int64_t frames = recorded / state.WaveFormat.BlockAlign;
  TWaveHeader header = completed;
  // Paused audio still tells the clock how fast the card runs.
  header.CaptureEndUs = state.Clock->Take(frames, completed.CaptureEndUs, completed.LostFrames, WaveMonotonicUs());
  std::int64_t kept = LeaveOutPauses(state, header);
  std::int64_t lead = 0, pad = 0;
  if (kept > 0 && !state.Session->MemberStarted(&state) && !PlaceFirstSound(state, header, kept, lead, pad)) kept = 0;
  const TWaveAdjust adjust = state.Clock->Deliver(kept);
  if (kept == 0) return;
  NoteLostSound(state, adjust.Silence);
  const std::int64_t change = lead ? 0 : adjust.Frames;  // the clock changes nothing this early
  if (!QueuePacket(state, header, lead, adjust.Silence + pad, change))
    LoseWaveInput(state, "no memory for the sound");
}

}  // namespace

void WaveInCallback(TWaveCaptureContext& state, TWaveInDevice& device, TWaveMessage message, TWaveHeader* header,
                    int code) {
  // Once stopped (tear-down included) nothing the device reports matters.
  if (state.Stopped.load()) return;
  switch (message) {
    case TWaveMessage::Open:
      ff::av_log(state.LogContext(), AV_LOG_INFO, "waveIn device opened.\n");
      return;
    case TWaveMessage::Close:
      ff::av_log(state.LogContext(), AV_LOG_INFO, "waveIn device closed.\n");
      return;
    case TWaveMessage::Error:
      // The device is gone or broken: capture ends here, the reader goes on with silence.
      LoseWaveInput(state, "ALSA: " + WaveErrorText(code));
      return;
    case TWaveMessage::Data:
      break;
  }
  state.LastBufferUs.store(WaveMonotonicUs());
  TakeBuffer(state, *header);
  if (!state.Stopped.load()) AddWaveBuffer(state, device);
}

}  // namespace qv
