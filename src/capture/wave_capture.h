// "wavecapture": PCM audio from an ALSA capture device, one packet per completed capture buffer.
//
// Two buffers take turns: while the device fills one, the other waits in its queue. A capture thread
// of the device's own (wave_capture_thread.h) hands each filled buffer to WaveInCallback, which copies
// it into the packet queue (or drops it before the first packet request and while the caller's pause
// flag is set) and hands the buffer straight back. The engine's worker takes packets from the queue.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "media/input_device.h"

namespace qv {

class TPauseFlagRef;
class TWaveInDevice;
class TWaveEvent;
class TWaveClock;

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

struct TWavePacketNode {
  AVPacket* Packet;
  TWavePacketNode* Next;
};

// The device's private state. The host hands it over zero-filled; every member is trivially
// destructible so that memory can simply be freed after close, and everything with a life of its
// own (lock, event, device, pause flag) sits behind a pointer that tear-down releases.
struct TWaveCaptureContext {
  std::int32_t DeviceId;
  std::int32_t SampleRate;
  std::int32_t Channels;
  std::int32_t BitsPerSample;
  AVSampleFormat SampleFormat;
  AVCodecID CodecId;
  std::int32_t BufferSize;
  std::int32_t FrameSize;
  TWaveFormat WaveFormat;
  TWaveInDevice* WaveIn;
  TWaveHeader Headers[2];
  TWaveHeader* HeaderRefs[2];
  std::uint8_t* Buffers[2];
  std::atomic<std::int32_t> CurrentBuffer;
  std::atomic<std::int32_t> Started;
  std::atomic<std::int32_t> Stopped;
  TPauseFlagRef* PausePointer;  // none: never drop
  std::mutex* QueueLock;
  TWaveEvent* DataReady;
  TWavePacketNode* PacketQueue;
  std::atomic<AVFormatContext*> Owner;
  TWaveClock* Clock;  // keeps the delivered sample count on the wall clock
  // Monotonic time of the last buffer the device completed. A device that stops completing buffers
  // without reporting an error (a sound server that died can leave ALSA's client waiting forever)
  // is given up after kStallUs, so the reader learns that audio has ended.
  std::atomic<std::int64_t> LastBufferUs;
};

constexpr std::int64_t kWaveStallUs = 5000000;

// The device record and its registration with the program's own registry (once, however often).
extern const TInputDevice WaveCaptureDevice;
void RegisterWaveCapture();

int WaveCaptureReadHeader(AVFormatContext* ctx, TFormatParameters* ap);
int WaveCaptureReadPacket(AVFormatContext* ctx, AVPacket* pkt);
int WaveCaptureReadClose(AVFormatContext* ctx);

bool OpenWaveDevice(TWaveCaptureContext* state);
bool AddWaveBuffer(TWaveCaptureContext* state);
void CloseWaveDevice(TWaveCaptureContext* state);

// What the capture thread reports, in the order a device reports it.
enum class TWaveMessage { Open, Data, Error, Close };
// Runs on the capture thread. `code` is the ALSA error of an Error report.
void WaveInCallback(TWaveInDevice* device, TWaveMessage message, void* instance, TWaveHeader* header, int code);

// ALSA's text for an error code (negative errno or ALSA code).
std::string WaveErrorText(int code);

// The capture PCMs that device numbers index: ALSA's "pcm" hints that are not output-only, in hint
// order. -1 stands for "default".
std::vector<std::string> WaveCaptureDeviceNames();

}  // namespace qv
