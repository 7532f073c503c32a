#include "capture/wave_capture_queue.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>
#include <utility>

#include "capture/capture_session.h"
#include "capture/wave_capture_thread.h"
#include "media/ff_api.h"

namespace qv {

void TWaveEvent::Set() {
  {
    std::lock_guard guard(Lock);
    Signalled = true;
  }
  Cond.notify_all();
}

void TWaveEvent::Reset() {
  std::lock_guard guard(Lock);
  Signalled = false;
}

bool TWaveEvent::Wait(int timeoutMs) {
  std::unique_lock guard(Lock);
  return Cond.wait_for(guard, std::chrono::milliseconds(timeoutMs), [this] { return Signalled; });
}

std::uint8_t* AppendWavePacket(TWaveCaptureContext& state, int size) {
  TWavePacket packet(ff::av_packet_alloc());
  if (!packet || ff::av_new_packet(packet.get(), size) < 0) {
    ff::av_log(state.LogContext(), AV_LOG_ERROR, "av_new_packet() error\n");
    return nullptr;
  }
  state.PacketQueue.push_back(std::move(packet));
  return state.PacketQueue.back()->data;
}

void FillWaveSilence(const TWaveCaptureContext& state, std::uint8_t* data, std::int64_t frames) {
  std::memset(data, state.BitsPerSample == 8 ? 0x80 : 0,
              static_cast<std::size_t>(frames * state.WaveFormat.BlockAlign));
}

void LoseWaveInput(TWaveCaptureContext& state, const std::string& reason) {
  {
    std::lock_guard guard(state.QueueLock);
    if (state.LostReason.empty()) state.LostReason = reason;
    state.Resuming = false;
  }
  state.Stopped.store(1);
  // Wake a reader waiting for data so it learns at once that only silence will come.
  state.DataReady.Set();
}

namespace {

constexpr int kWaitMs = 1000;  // the longest a blocking read waits before it says "try again"

// The oldest queued packet, moved into `pkt`; its size, or -1 when the queue is empty (and then the
// reason the input was lost, if it was). `back` tells the first sound of an input opened again.
int TakeQueued(TWaveCaptureContext& state, AVPacket* pkt, std::string& lost, bool& back) {
  std::lock_guard guard(state.QueueLock);
  state.DataReady.Reset();
  if (state.PacketQueue.empty()) {
    lost = state.LostReason;
    return -1;
  }
  ff::av_packet_move_ref(pkt, state.PacketQueue.front().get());
  state.PacketQueue.pop_front();
  state.HandedFrames += pkt->size / state.WaveFormat.BlockAlign;
  back = std::exchange(state.BackToTell, false);
  return pkt->size;
}

// A silence packet made while the input was lost counts only if it still is: once the input's sound
// is back (placed after what was handed out before), the packet goes.
bool CommitSilence(TWaveCaptureContext& state, AVPacket* pkt) {
  std::lock_guard guard(state.QueueLock);
  if (state.LostReason.empty()) {
    ff::av_packet_unref(pkt);
    return false;
  }
  state.HandedFrames += pkt->size / state.WaveFormat.BlockAlign;
  return true;
}

// A device that completes no buffer for kWaveStallUs is taken for lost. Time the reader itself could
// not run (the process stopped, the machine starved) does not count: the capture thread was held off
// as well, and is given its own time to catch up.
void NoteRead(TWaveCaptureContext& state) {
  const std::int64_t now = WaveMonotonicUs();
  if (state.LastReadUs != 0 && now - state.LastReadUs > 2 * kWaitMs * 1000) state.HeldOffUntilUs = now;
  state.LastReadUs = now;
}

bool Stalled(TWaveCaptureContext& state) {
  const std::int64_t now = WaveMonotonicUs();
  const std::int64_t silentUs = now - std::max(state.LastBufferUs.load(), state.HeldOffUntilUs);
  if (silentUs < kWaveStallUs) return false;
  LoseWaveInput(state, "no sound for " + std::to_string(silentUs / 1000000) + " s");
  return true;
}

void Tell(TWaveCaptureContext& state, const std::string& text) {
  ff::av_log(state.LogContext(), AV_LOG_WARNING, "%s\n", text.c_str());
  state.Session->PostNotice(text);
}

void TellBack(TWaveCaptureContext& state) {
  if (!state.LostTold) return;
  state.LostTold = false;  // a second loss is told again
  Tell(state, "The sound input is back.");
}

void TellLoss(TWaveCaptureContext& state, const std::string& reason) {
  if (state.LostTold) return;
  state.LostTold = true;
  Tell(state, "The sound input was lost (" + reason + "); the recording goes on with silence.");
}

// Frames of silence the wall clock owes since the last sound was queued, pauses left out, beyond
// the silence handed out. Without any sound, the time line starts at the recording's origin (or now).
std::int64_t OwedFrames(TWaveCaptureContext& state) {
  const std::int64_t now = WaveMonotonicUs();
  const std::int64_t paused = state.Session->PausedMicros();
  std::int64_t origin = now;
  const bool started = state.Session->Origin(origin);
  std::lock_guard guard(state.QueueLock);
  if (!state.HasAnchor) {
    state.HasAnchor = true;
    state.AnchorUs = origin;
    state.PausedAtAnchor = started ? 0 : paused;
  }
  const std::int64_t wallUs = now - state.AnchorUs - (paused - state.PausedAtAnchor);
  return wallUs * state.SampleRate / 1000000 - (state.HandedFrames - state.AnchorFrames);
}

// A lost input goes on as silence, one buffer's worth at a time, as fast as the wall clock makes
// it due: the sound keeps the time line whole and stays with the picture.
int Silence(TWaveCaptureContext& state, AVPacket* pkt, bool blocking) {
  const int blockAlign = state.WaveFormat.BlockAlign;
  const std::int64_t frames = state.BufferSize / blockAlign;
  const std::int64_t deadline = WaveMonotonicUs() + kWaitMs * 1000;
  for (std::int64_t owed = OwedFrames(state); owed < frames; owed = OwedFrames(state)) {
    // Not due yet (or paused): wait for it, but no longer than a read waits for sound.
    const std::int64_t dueUs = WaveMonotonicUs() + (frames - owed) * 1000000 / state.SampleRate + 1;
    if (!blocking || dueUs > deadline) {
      if (blocking) std::this_thread::sleep_for(std::chrono::microseconds(deadline - WaveMonotonicUs()));
      return AVERROR(EAGAIN);
    }
    std::this_thread::sleep_for(std::chrono::microseconds(dueUs - WaveMonotonicUs()));
  }
  const int size = static_cast<int>(frames * blockAlign);
  if (ff::av_new_packet(pkt, size) < 0) return AVERROR(ENOMEM);
  FillWaveSilence(state, pkt->data, frames);
  return size;
}

}  // namespace

int WaveCaptureReadPacket(AVFormatContext* ctx, AVPacket* pkt) {
  TWaveCaptureContext& state = *DeviceState<TWaveCapture>(ctx)->State;
  // From the first request on, completed buffers go into the queue.
  state.Started.store(1);
  NoteRead(state);
  const bool blocking = !(ctx->flags & AVFMT_FLAG_NONBLOCK);
  for (;;) {
    std::string lost;
    bool back = false;
    if (const int size = TakeQueued(state, pkt, lost, back); size >= 0) {
      if (back) TellBack(state);
      return size;
    }
    if (lost.empty() && Stalled(state)) continue;
    if (!lost.empty()) {
      TellLoss(state, lost);
      const int size = Silence(state, pkt, blocking);
      if (size > 0 && !CommitSilence(state, pkt)) continue;  // the sound came back meanwhile
      return size;
    }
    if (!blocking) {
      ff::av_log(state.LogContext(), AV_LOG_DEBUG, "non-block, need read again\n");
      return AVERROR(EAGAIN);
    }
    if (!state.DataReady.Wait(kWaitMs)) {
      ff::av_log(state.LogContext(), AV_LOG_DEBUG, "wait timeout, need read again\n");
      return AVERROR(EAGAIN);
    }
  }
}

}  // namespace qv
