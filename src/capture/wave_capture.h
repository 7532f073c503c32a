// "wavecapture": PCM audio from an ALSA capture device, one packet per completed capture buffer.
//
// Two buffers take turns: while the device fills one, the other waits in its queue. A capture thread
// of the device's own (wave_capture_thread.h) hands each filled buffer to WaveInCallback, which copies
// it into the packet queue (or drops it before the first packet request, and leaves out what was
// captured while the recording's capture session was paused) and hands the buffer straight back. The engine's worker takes packets
// from the queue. When the sound input is lost mid-recording (the sound server died, the device went
// away, no buffer for a while), the reader goes on with silence paced on the wall clock, so the
// recording's time line stays whole, and tells the session once; meanwhile the same input is opened
// again every second, and once it delivers, its sound takes up at its place on the time line and the
// session is told that it is back.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "capture/sound_sources.h"
#include "capture/wave_capture_clock.h"
#include "media/ff_owners.h"
#include "media/input_device.h"

namespace qv {

class TCaptureSession;
class TWaveInDevice;
class TWaveReopen;

// The capture format, laid out as the wave format record the device is asked for.
struct TWaveFormat {
  std::uint16_t FormatTag;  // 1: PCM
  std::uint16_t Channels;
  std::uint32_t SamplesPerSec;
  std::uint32_t AvgBytesPerSec;
  std::uint16_t BlockAlign;
  std::uint16_t BitsPerSample;
  std::uint16_t ExtraSize;
};

// One capture buffer as the device sees it.
struct TWaveHeader {
  std::uint8_t* Data;
  std::uint32_t BufferLength;
  std::uint32_t BytesRecorded;
  std::uint32_t Prepared;
  // Filled by the device when the buffer completes, for keeping audio on the wall clock:
  std::int64_t CaptureEndUs;  // monotonic time at which the last recorded sample was captured
  std::int64_t LostFrames;    // frames the device lost (overrun) just before this buffer's audio
};

// A manual-reset event: stays set until someone resets it.
class TWaveEvent {
 public:
  void Set();
  void Reset();
  // True when the event is set within `timeoutMs`.
  bool Wait(int timeoutMs);

 private:
  std::mutex Lock;
  std::condition_variable Cond;
  bool Signalled = false;
};

using TWavePacket = TPacketPtr;

// What the reader and the capture thread share. The host's device object and the capture device's
// callback own it together, so a capture thread that outlives the close (stuck inside ALSA after
// the sound server died, or waiting on a log handler) never touches freed memory.
//
// Threads: the options, format, buffers' addresses and Session are fixed once the open is done. The
// capture thread owns Clock, the loss to tell, the pause's cut and CurrentBuffer, and a buffer's bytes
// while the device holds it (the reopening thread sets them up again before a new device starts).
// PacketQueue, LostReason, Resuming, HandedFrames and the anchor fields sit behind QueueLock. LostTold
// and the stall watch's times belong to the reader.
struct TWaveCaptureContext {
  TWaveCaptureContext();
  // What the device logs with: lines read "[wavecapture @ 0x...]".
  void* LogContext() { return &LogClass; }

  const AVClass* LogClass;
  std::int32_t DeviceId = -1;
  std::string Source;  // a sound source by name (sound_sources.h); "" leaves it to DeviceId
  std::int32_t SampleRate = 44100;
  std::int32_t Channels = 2;
  std::int32_t BitsPerSample = 16;
  AVSampleFormat SampleFormat = AV_SAMPLE_FMT_S16;
  AVCodecID CodecId = AV_CODEC_ID_PCM_S16LE;
  std::int32_t BufferSize = 4096;
  std::int32_t FrameSize = 4096;
  TWaveFormat WaveFormat{};
  TWaveHeader Headers[2]{};
  std::vector<std::uint8_t> Buffers[2];
  std::atomic<std::int32_t> CurrentBuffer{0};
  std::atomic<std::int32_t> Started{0};  // the reader has asked for a packet
  std::atomic<std::int32_t> Stopped{0};  // capture is over (closing, or the input was lost)
  std::atomic<std::int32_t> Closing{0};  // the close began: no more reopening
  // Which opening of the device reports count: one left behind after a loss is ignored.
  std::atomic<std::int32_t> Generation{0};
  std::shared_ptr<TCaptureSession> Session;  // pauses and the time line shared with the picture
  std::optional<TWaveClock> Clock;  // keeps the delivered sample count on the wall clock
  std::int64_t LossToTell = 0;      // frames of lost sound found and not logged yet
  // The latest pause, by its start on the session's clock, and the card frame its cut begins at.
  std::int64_t PauseFromUs = INT64_MIN;
  std::int64_t PauseCard = 0;
  std::int64_t LossFoundUs = 0;     // when some were last found
  // Monotonic time of the last buffer the device completed. A device that stops completing buffers
  // without reporting an error (a sound server that died can leave ALSA's client waiting forever)
  // is given up after kWaveStallUs.
  std::atomic<std::int64_t> LastBufferUs{0};

  std::mutex QueueLock;
  TWaveEvent DataReady;
  std::deque<TWavePacket> PacketQueue;
  std::string LostReason;  // why the input was lost, "" while it is not
  // Where silence for a lost input is paced from: the monotonic time the last sound was queued, the
  // frames queued by then, and the session's pause clock then. Anchored at the last sound rather
  // than at an estimate of when it was captured, the silence takes up exactly where the sound ended.
  bool HasAnchor = false;
  std::int64_t AnchorUs = 0;
  std::int64_t AnchorFrames = 0;
  std::int64_t PausedAtAnchor = 0;

  // The input was opened again after a loss: its first sound still has to find its place on the
  // time line (after the silence handed out meanwhile), and the reader then says it is back.
  bool Resuming = false;
  bool BackToTell = false;

  std::int64_t HandedFrames = 0;  // frames handed to the reader so far, silence included
  bool LostTold = false;          // the loss was logged and posted to the session
  std::int64_t LastReadUs = 0;    // when the reader last looked for a stall
  std::int64_t HeldOffUntilUs = 0;  // when the reader last came back from not running
};

// The state the host owns for one opened input. Its destruction closes the capture device.
class TWaveCapture final : public TDeviceState {
 public:
  TWaveCapture();
  ~TWaveCapture() override;
  TWaveCapture(const TWaveCapture&) = delete;
  TWaveCapture& operator=(const TWaveCapture&) = delete;

  std::shared_ptr<TWaveCaptureContext> State;
  std::shared_ptr<TWaveInDevice> WaveIn;
  // For a source of the sound server, which may go away. Its thread touches the shared state only
  // through LoseWaveInput; the close ends that thread before it lets go of the device.
  std::unique_ptr<TSoundSourceWatch> SourceWatch;
  // Opens the input again, every second, once it is lost; ended first by the close.
  std::unique_ptr<TWaveReopen> Reopen;
};

constexpr std::int64_t kWaveStallUs = 5000000;
// The longest "bufsize": ten seconds of audio.
constexpr std::int64_t kWaveMaxBufferUs = 10000000;

// The device record and its registration with the program's own registry (once, however often).
extern const TInputDevice WaveCaptureDevice;
void RegisterWaveCapture();

int WaveCaptureReadHeader(AVFormatContext* ctx, TFormatParameters* ap);
int WaveCaptureReadPacket(AVFormatContext* ctx, AVPacket* pkt);

// Opens the PCM and starts capture: "" or ALSA's reason for the failure.
std::string OpenWaveDevice(TWaveCapture& capture);
// Hands the next buffer to the device; false (and capture lost) when the device refuses it.
bool AddWaveBuffer(TWaveCaptureContext& state, TWaveInDevice& device);
// After a loss: lets go of the lost device and opens the same input again; "" or why it could not.
std::string ReopenWaveDevice(TWaveCapture& capture);
// Stops capture and lets go of the device; harmless to call again.
void CloseWaveDevice(TWaveCapture& capture);
// The input is lost, for `reason` (ALSA's text, or what went wrong): capture stops and the reader
// goes on with silence until the input is opened again.
void LoseWaveInput(TWaveCaptureContext& state, const std::string& reason);

// What the capture thread reports, in the order a device reports it.
enum class TWaveMessage { Open, Data, Error, Close };
// Runs on the capture thread. `code` is the ALSA error of an Error report.
void WaveInCallback(TWaveCaptureContext& state, TWaveInDevice& device, TWaveMessage message, TWaveHeader* header,
                    int code);

// ALSA's text for an error code (negative errno or ALSA code).
std::string WaveErrorText(int code);

// The capture PCMs that device numbers index: ALSA's "pcm" hints that are not output-only, in hint
// order. -1 stands for "default".
std::vector<std::string> WaveCaptureDeviceNames();

}  // namespace qv
