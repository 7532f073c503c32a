// The transcoder's audio path: from a block of decoded samples to encoded packets. Resampling and
// channel conversion (libswresample), sample-format conversion, timestamp synchronisation (dropping,
// inserting silence, drift compensation), the FIFO that cuts the stream into encoder frames, and the
// end-of-input flush. Its files:
//   audio_path_setup.cpp   buffer sizing, resampler and converter state, per-stream set-up/teardown
//   audio_path_sync.cpp    the sync decision and its application to a block
//   audio_path_encode.cpp  FIFO cutting, frame-based and PCM-like encoding, packets
//   audio_path_flush.cpp   the last frame and the encoder drain
//   audio_path_volume.cpp  the volume applied to decoded samples
//   audio_path.cpp         the TCustomFFmpeg entry points (DoAudioOut, FlushAudio, ...)
// The functions below do not need a running engine, so they can be driven directly.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "engine/run_state.h"
#include "media/logger.h"

namespace qv {

// Buffers shared by every audio stream of an engine, grown and never shrunk while it lives.
struct TAudioBuffers {
  TAvMemPtr<std::uint8_t> Buf;  // intermediate samples in the encoder's format (resampler/converter output)
  unsigned BufSize = 0;
  std::int64_t OutSize = 0;     // room an encoded block may take (the PCM-like size check)
  TAvMemPtr<std::uint8_t> Silence;  // decoded samples with inserted silence in front
  std::size_t SilenceSize = 0;
};

// What the audio path keeps per output stream beyond the fields of TOutputStream.
struct TAudioOutState {
  TResamplerPtr Convert;          // sample-format converter (no resampling)
  int ConvertIn = -1, ConvertOut = -1;  // the format pair it was built for
  TFramePtr EncFrame;             // one encoder frame, refilled from the FIFO
};

// The engine's side of one audio call.
struct TAudioEnv {
  int SyncMethod = 0;           // async
  double DriftThreshold = 0.1;  // adrift_threshold, seconds
  int Verbose = 1;
  bool ExitOnError = false;
  const void* LogSender = nullptr;
  TAudioBuffers* Buffers = nullptr;
  std::int64_t* AudioBytes = nullptr;  // encoded audio byte counter
  // Writes one finished packet (pts/dts already in the output stream's time base).
  std::function<void(AVPacket* pkt)> Write;
  void Log(TLogLevel level, const std::string& msg) const { EngineLog(LogSender, level, msg); }
};

// ---- sizing (audio_path_setup.cpp) ----
struct TAudioSizes {
  std::int64_t BufSize = 0;  // intermediate buffer, bytes
  std::int64_t OutSize = 0;  // encoded output room, bytes
};
// `allocated`: bytes of decoded samples the call must hold (the block, plus inserted silence).
// Raises "Buffer sizes too large in do_audio_out" when either size exceeds 2147483647.
TAudioSizes AudioBufferSizes(std::int64_t allocated, int isize, int decChannels, int decRate, int encRate, int osize,
                             int encChannels, int frameSize, int codedBps);

// ---- set-up and teardown (audio_path_setup.cpp) ----
// An encoded audio stream at the start of a run: FIFO, resample-needed flag, the decoder's format.
void SetupAudioOutput(TOutputStream& ost, const TInputStream& ist, int syncMethod);
// Per block: the resampler follows the decoded format (rebuilt when it changes, dropped when the
// formats match and no drift compensation is asked for); without resampling a sample-format
// converter is kept for a differing format pair.
void UpdateAudioResampler(const TAudioEnv& env, TOutputStream& ost, const TInputStream& ist, const AVFrame* decoded);
void UpdateAudioConverter(TOutputStream& ost, const AVFrame* decoded);

// ---- synchronisation (audio_path_sync.cpp) ----
struct TAudioSyncStep {
  enum TKind { kNone, kDrop, kInsert, kCompensate };
  TKind Kind = kNone;
  std::int64_t InputSamples = 0;  // drop/insert: samples at the decoder rate
  int Compensation = 0;           // compensate: samples over one second of output
};
// A block of decoded samples: one plane per channel (planar formats) or one interleaved plane.
struct TAudioBlock {
  std::vector<std::uint8_t*> Planes;
  int Samples = 0;  // per channel
  int Format = -1;
  int Channels = 0;
  int Rate = 0;
  int SampleBytes = 0;
  bool Planar = false;
  std::int64_t Bytes() const { return std::int64_t(Samples) * SampleBytes * Channels; }
  // Views the samples of a decoded frame (no copy).
  static TAudioBlock Of(const AVFrame* frame);
};
// delta: samples (at the encoder rate) the output is behind (>0) or ahead (<0) of the input clock.
TAudioSyncStep DecideAudioSync(int method, double delta, bool isStart, int encRate, int decRate, double driftThreshold);

// Applies the sync method to the block before conversion: method 0 sets the output clock from the
// input clock; otherwise samples may be dropped from or silence put in front of the block (held in
// env.Buffers->Silence), or the resampler told to compensate. False when no samples remain.
bool SyncAudioBlock(TAudioEnv& env, TOutputStream& ost, TInputStream& ist, TAudioBlock& block, double syncIpts);

// ---- the block (audio_path_encode.cpp) ----
// One decoded block to the encoder of `ost`. syncIpts: the sync input stream's pts minus the start
// time, seconds. Raises FFmpegException on the failures that end a run.
void AudioOut(TAudioEnv& env, TOutputStream& ost, TInputStream& ist, const AVFrame* decoded, double syncIpts);
// Encodes samples of the encoder's format: through the FIFO (frame-based) or whole (PCM-like).
void EncodeAudioSamples(TAudioEnv& env, TOutputStream& ost, std::uint8_t* const* planes, int samples);
// The stream's reusable encoder frame, writable, `samples` long.
AVFrame* WritableAudioFrame(TOutputStream& ost, int samples);
// Sends one frame (nullptr: end of stream) and writes every packet the encoder gives back.
void EncodeAudioFrame(TAudioEnv& env, TOutputStream& ost, AVFrame* frame);

// ---- end of input (audio_path_flush.cpp) ----
// The samples the resampler's filter still holds, into the encoder (through the FIFO).
void DrainAudioResampler(TAudioEnv& env, TOutputStream& ost);
void AudioFlush(TAudioEnv& env, TOutputStream& ost);

// ---- volume (audio_path_volume.cpp) ----
// 256 leaves samples alone; 16-bit samples become (s * volume + 128) >> 8, clipped. Other sample
// formats are scaled by the same factor in their own range.
void ApplyAudioVolume(std::uint8_t* data, int bytes, int sampleFormat, int volume);
// Every plane of a decoded frame (made writable first).
void ApplyAudioVolume(AVFrame* frame, int volume);

// Library name of a sample format, "none" for an unknown one.
std::string SampleFormatName(int format);

}  // namespace qv
