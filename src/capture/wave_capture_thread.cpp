#include "capture/wave_capture_thread.h"

#include <alsa/asoundlib.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <thread>

namespace qv {

namespace {

// Latency of the PCM's own ring buffer: long enough that a capture thread kept off the CPU for a
// while (two cores shared by a whole desktop) does not overrun, short enough to stay responsive.
constexpr unsigned kPcmLatencyUs = 500000;
// How long the capture thread waits for audio before it looks at its quit flag again.
constexpr int kPollMs = 100;

snd_pcm_format_t PcmFormatOf(const TWaveFormat& format) {
  return format.BitsPerSample == 8 ? SND_PCM_FORMAT_U8 : SND_PCM_FORMAT_S16_LE;
}

int OpenConfigured(snd_pcm_t** pcm, const std::string& name, const TWaveFormat& format) {
  *pcm = nullptr;
  int err = snd_pcm_open(pcm, name.c_str(), SND_PCM_STREAM_CAPTURE, SND_PCM_NONBLOCK);
  if (err < 0) {
    *pcm = nullptr;
    return err;
  }
  // No resampling by ALSA: the format is taken as it is or refused.
  err = snd_pcm_set_params(*pcm, PcmFormatOf(format), SND_PCM_ACCESS_RW_INTERLEAVED, format.Channels,
                           format.SamplesPerSec, 0, kPcmLatencyUs);
  if (err < 0) {
    snd_pcm_close(*pcm);
    *pcm = nullptr;
  }
  return err;
}

// A sound server hands audio over in small pieces (every 10 to 20 ms is common) and each wakes the
// PCM's poll: rather than read piece by piece, sleep for the time the rest of the buffer takes to
// arrive (no longer than a poll waits, so a quit is still seen in time). The PCM's own ring is far
// longer than that, so nothing is lost.
void SleepForFrames(snd_pcm_uframes_t frames, unsigned rate) {
  std::this_thread::sleep_for(
      std::chrono::microseconds(std::min<std::int64_t>(std::int64_t(frames) * 1000000 / rate, kPollMs * 1000)));
}

}  // namespace

std::int64_t WaveMonotonicUs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<std::int64_t>(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

int TWaveInDevice::Query(const std::string& pcmName, const TWaveFormat& format) {
  snd_pcm_t* pcm = nullptr;
  const int err = OpenConfigured(&pcm, pcmName, format);
  if (pcm) snd_pcm_close(pcm);
  return err;
}

int TWaveInDevice::Open(std::shared_ptr<TWaveInDevice>& device, const std::string& pcmName, const TWaveFormat& format,
                        TWaveInProc proc) {
  device.reset();
  snd_pcm_t* pcm = nullptr;
  const int err = OpenConfigured(&pcm, pcmName, format);
  if (err < 0) return err;
  auto dev = std::make_shared<TWaveInDevice>();
  dev->Pcm = pcm;  // closed by the destructor from here on
  dev->Format = format;
  dev->Proc = std::move(proc);
  try {
    dev->Thread = std::thread([dev] { dev->Run(); });
  } catch (...) {
    return -EAGAIN;
  }
  device = std::move(dev);
  return 0;
}

// Runs where the last holder lets go: after Close, or on a capture thread that was left behind.
TWaveInDevice::~TWaveInDevice() {
  if (Thread.joinable()) {
    if (Thread.get_id() == std::this_thread::get_id()) Thread.detach();
    else Thread.join();
  }
  if (Pcm) snd_pcm_close(Pcm);
}

int TWaveInDevice::Prepare(TWaveHeader* header) {
  if (!header || !header->Data || header->BufferLength == 0 || header->BufferLength % Format.BlockAlign != 0)
    return -EINVAL;
  std::lock_guard guard(Lock);
  if (Scratch.size() < header->BufferLength) Scratch.resize(header->BufferLength);
  header->Prepared = 1;
  return 0;
}

int TWaveInDevice::AddBuffer(TWaveHeader* header) {
  if (!header || !header->Prepared) return -EINVAL;
  {
    std::lock_guard guard(Lock);
    if (Quit || Failed) return -EBADFD;
    header->BytesRecorded = 0;
    Pending.push_back(header);
  }
  Wake.notify_all();
  return 0;
}

int TWaveInDevice::Start() {
  const int err = snd_pcm_start(Pcm);
  // A PCM that started itself already is fine.
  if (err < 0 && snd_pcm_state(Pcm) != SND_PCM_STATE_RUNNING) return err;
  {
    std::lock_guard guard(Lock);
    Running = true;
  }
  Wake.notify_all();
  return 0;
}

bool TWaveInDevice::Reset() {
  bool stuck = false;
  {
    std::unique_lock guard(Lock);
    Quit = true;
    Wake.notify_all();
    if (!Abandoned && Thread.joinable() && Thread.get_id() != std::this_thread::get_id()) {
      stuck = !Wake.wait_for(guard, std::chrono::milliseconds(kQuitWaitMs), [this] { return Finished; });
      if (stuck) Abandoned = true;
    }
  }
  if (stuck || Abandoned) {
    // The thread still owns the callback: the buffers are not reported back from here.
    if (Thread.joinable()) Thread.detach();
    return false;
  }
  if (Thread.joinable() && Thread.get_id() != std::this_thread::get_id()) Thread.join();
  if (Pcm) snd_pcm_drop(Pcm);
  std::deque<TWaveHeader*> back;
  {
    std::lock_guard guard(Lock);
    back.swap(Pending);
  }
  for (TWaveHeader* header : back) Report(TWaveMessage::Data, header, 0);
  return true;
}

bool TWaveInDevice::Close() {
  // A thread left behind may hold the PCM's locks (closing it here would hang as well) and still
  // be inside the callback: both stay with it.
  if (!Reset()) return false;
  snd_pcm_close(Pcm);
  Pcm = nullptr;
  TWaveInProc proc;
  {
    std::lock_guard guard(Lock);
    proc.swap(Proc);
  }
  if (proc) proc(*this, TWaveMessage::Close, nullptr, 0);
  return true;
}

void TWaveInDevice::Report(TWaveMessage message, TWaveHeader* header, int code) {
  if (Proc) Proc(*this, message, header, code);
}

void TWaveInDevice::Run() {
  Report(TWaveMessage::Open, nullptr, 0);
  Capture();
  TWaveInProc leftBehind;
  {
    std::lock_guard guard(Lock);
    Finished = true;
    // Nobody will close a device that was left behind: the callback (and what it holds) goes here.
    if (Abandoned) leftBehind.swap(Proc);
  }
  Wake.notify_all();
}

void TWaveInDevice::Capture() {
  for (;;) {
    TWaveHeader* header = nullptr;
    {
      std::unique_lock guard(Lock);
      Wake.wait(guard, [this] { return Quit || (Running && !Pending.empty()); });
      if (Quit) return;
      header = Pending.front();
    }
    const int result = Fill(header);
    if (result == 1) return;  // asked to quit: the buffer stays queued and Reset hands it back
    if (result < 0) {
      {
        std::lock_guard guard(Lock);
        Failed = true;
        if (Quit) return;
      }
      Report(TWaveMessage::Error, nullptr, result);
      return;
    }
    {
      std::lock_guard guard(Lock);
      if (Quit) return;
      Pending.pop_front();
    }
    Report(TWaveMessage::Data, header, 0);
  }
}

int TWaveInDevice::Fill(TWaveHeader* header) {
  const unsigned blockAlign = Format.BlockAlign;
  const snd_pcm_uframes_t total = header->BufferLength / blockAlign;
  snd_pcm_uframes_t done = 0;
  std::uint8_t* data = Scratch.data();
  while (done < total) {
    {
      std::lock_guard guard(Lock);
      if (Quit) return 1;
    }
    const int ready = snd_pcm_wait(Pcm, kPollMs);
    if (ready == 0) continue;  // nothing yet: look at the quit flag again
    // Read even when the wait reported an error: the read tells an overrun (which a sound server
    // that drops our stream also looks like) from a device that is really gone.
    snd_pcm_sframes_t got = snd_pcm_readi(Pcm, data + done * blockAlign, total - done);
    if (got == -EAGAIN || got == 0) {
      if (ready < 0) return ready;
      continue;
    }
    if (got == -EPIPE || got == -ESTRPIPE) {
      // Overrun: audio was lost. Start again and let the wall clock tell how much.
      const int err = snd_pcm_recover(Pcm, static_cast<int>(got), 1);
      if (err < 0) return err;
      snd_pcm_start(Pcm);
      Overran = true;
      continue;
    }
    if (got < 0) return static_cast<int>(got);
    done += static_cast<snd_pcm_uframes_t>(got);
    if (done < total) SleepForFrames(total - done, Format.SamplesPerSec);
  }
  // The last frame of this buffer was captured `delay` frames before the newest one the PCM holds.
  snd_pcm_sframes_t delay = 0;
  if (snd_pcm_delay(Pcm, &delay) < 0 || delay < 0) delay = 0;
  const std::int64_t rate = Format.SamplesPerSec;
  const std::int64_t endUs = WaveMonotonicUs() - static_cast<std::int64_t>(delay) * 1000000 / rate;
  std::int64_t lost = 0;
  if (Overran && LastEndUs != 0) {
    const std::int64_t beginUs = endUs - static_cast<std::int64_t>(total) * 1000000 / rate;
    if (beginUs > LastEndUs) lost = (beginUs - LastEndUs) * rate / 1000000;
  }
  Overran = false;
  LastEndUs = endUs;

  std::lock_guard guard(Lock);
  if (Quit) return 1;
  std::memcpy(header->Data, data, done * blockAlign);
  header->BytesRecorded = static_cast<std::uint32_t>(done * blockAlign);
  header->CaptureEndUs = endUs;
  header->LostFrames = lost;
  return 0;
}

}  // namespace qv
