// Records the transcoder keeps per option, per opened input and per created output. The run-time
// parts (stream mapping, the loop, the audio and video paths) read these; they are filled by the
// option handlers and by OpenInput/OpenOutput.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "media/crash_safe_file.h"
#include "media/ff_api.h"
#include "media/ff_owners.h"
#include "media/input_device.h"
#include "media/logger.h"

namespace qv {

// Per-input timestamp scales and stream ids are indexed by stream; the old fixed limit stays.
constexpr int kMaxStreams = 20;
constexpr std::int64_t kNoWatch = INT64_MAX;    // WatchStart while nothing is watched
constexpr std::int64_t kNoLimitTime = INT64_MAX;  // recording time without limit
constexpr std::int64_t kNoCutStart = INT64_MIN;   // an input read from its own start

// The engine's own log lines, named "[transcoder @ 0x…]" after the engine that speaks, so a reader
// tells them from the libraries' lines and one run's lines from another's.
void EngineLog(const void* engine, TLogLevel level, const std::string& msg);

// `map`: output stream n takes input stream (File, Stream), timed by (SyncFile, SyncStream).
struct TStreamMap {
  int FileIndex = 0;
  int StreamIndex = 0;
  int SyncFileIndex = 0;
  int SyncStreamIndex = 0;
};

// One side of a `map_meta_data` entry: kind 'g' global, 's' stream, 'c' chapter, 'p' program.
struct TMetadataMapSide {
  int File = 0;
  char Kind = 'g';
  int Index = 0;
};

struct TMetadataMap {
  TMetadataMapSide Out;
  TMetadataMapSide In;
};

struct TChapterMap {
  int OutFile = 0;
  int InFile = 0;
};

// A bitstream-filter chain of one stream, by filter; the run creates the library contexts.
using TBsfChain = std::vector<const AVBitStreamFilter*>;

// A looped input's passes: each starts where the one before ended (µs, from the file's start). Only
// the thread that reads the input (the run's worker) touches it.
struct TInputLoop {
  std::int64_t OffsetUs = 0;  // added to the timestamps of this pass
  std::int64_t EndUs = 0;     // the latest packet end seen in this pass
  bool PassHadPackets = false;
};

// One opened input: a libavformat demuxer or one of the program's own devices.
class TInputFile {
 public:
  TInputFile() = default;
  ~TInputFile() { Close(); }
  TInputFile(const TInputFile&) = delete;
  TInputFile& operator=(const TInputFile&) = delete;

  std::string FileName;  // as given (UTF-8)
  std::string URL;       // as handed to the library
  TInputContextPtr Ctx;                   // libavformat input (nullptr for a device)
  std::unique_ptr<TDeviceInput> Device;   // the program's own device (nullptr for libavformat)
  bool LoopInput = false;                 // `loop_input` when the input was opened
  TInputLoop Loop;                        // where a looped input is (input_loop.*)
  std::int64_t InputTsOffset = 0;         // µs
  // With a start of its own (`ss` before the input): the run's time (µs) of that start. The seek
  // lands on the key frame before it; what decodes before it is left out, so the cut is exact.
  std::int64_t CutStartUs = kNoCutStart;
  double TsScale[kMaxStreams] = {};       // `itsscale`, 0 = none
  // Per stream: the decoder named by the pending codec name (nullptr = by codec id at run time) and
  // a decoder context prepared from the stream's parameters and the generic decoding options.
  std::vector<const AVCodec*> Decoders;
  std::vector<TCodecContextPtr> DecoderContexts;

  // The format context whichever way the input was opened.
  AVFormatContext* Context() const { return Ctx ? Ctx.get() : (Device ? Device->Context() : nullptr); }
  bool IsDevice() const { return Device != nullptr; }
  // The one way the run reads: packet size (>= 0) or a negative error code (AVERROR(EAGAIN) when a
  // non-blocking input has nothing yet, AVERROR_EOF at the end).
  int ReadPacket(AVPacket* pkt);
  void Close();
};

// One stream of an output as OpenOutput made it. The encoder context is prepared but not opened.
struct TOutputStreamInfo {
  AVStream* St = nullptr;
  AVMediaType Kind = AVMEDIA_TYPE_UNKNOWN;
  const AVCodec* Codec = nullptr;  // encoder by name or guessed; nullptr with stream copy
  bool StreamCopy = false;
  TCodecContextPtr Enc;            // nullptr with stream copy and in further join slots
  TBsfChain Bsfs;
  std::string ForcedKeyFrames;     // `force_key_frames` text of a video stream
};

// One output slot. In join mode further slots share the first slot's context (Owner false): the
// first slot owns it (OwnedCtx), every slot uses it through Ctx.
class TOutputFile {
 public:
  TOutputFile() = default;
  ~TOutputFile() { Close(); }
  TOutputFile(const TOutputFile&) = delete;
  TOutputFile& operator=(const TOutputFile&) = delete;

  std::string FileName;
  std::string URL;
  AVFormatContext* Ctx = nullptr;
  bool Owner = true;
  TOutputContextPtr OwnedCtx;  // owner slots only
  int LoopOutput = -1;  // `loop_output` when the output was opened
  std::vector<TOutputStreamInfo> Streams;
  // The file was not there before this output opened it: only then may a failed start remove it.
  bool Created = false;
  // With `crash_safe`: the file behind Ctx->pb (then AVFMT_FLAG_CUSTOM_IO). Owner slots only.
  std::unique_ptr<TCrashSafeFile> CrashSafe;

  // Frees the encoder contexts, then the context with its file (the library's or the program's
  // protocol), then the crash-safe file.
  void Close();
};

}  // namespace qv
