// Per-run records of the transcoder: one TInputStream per stream of every input, one TOutputStream
// per stream of every output slot, and the per-input-file loop state. Built when a run starts
// (stream_mapping.cpp), freed when it ends (FreeRunRecords).
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "engine/engine_types.h"
#include "media/ff_utils.h"

struct SwsContext;
struct SwrContext;
struct AVAudioFifo;
struct AVFilterGraph;
struct AVFilterContext;
struct AVBSFContext;
struct AVCodecParserContext;

namespace qv {

struct TFrameDeleter {
  void operator()(AVFrame* f) const;
};
using TFramePtr = std::unique_ptr<AVFrame, TFrameDeleter>;

struct TPacketDeleter {
  void operator()(AVPacket* p) const;
};
using TPacketPtr = std::unique_ptr<AVPacket, TPacketDeleter>;

TFramePtr NewFrame();    // raises "av_mallocz fail" when out of memory
TPacketPtr NewPacket();  // raises "av_mallocz fail" when out of memory

struct TInputStream {
  int FileIndex = 0;
  int StreamIndex = 0;  // index within its file
  AVStream* St = nullptr;
  const AVCodec* Dec = nullptr;   // decoder by name, else by codec id (may stay nullptr)
  AVCodecContext* DecCtx = nullptr;  // owned by the input file's DecoderContexts
  bool DecoderOpen = false;
  bool Discard = true;            // not used by any output yet
  bool DecodingNeeded = false;
  std::int64_t NextPts = AV_NOPTS_VALUE;  // µs
  std::int64_t Pts = 0;                   // µs, the current pts of the stream
  TPtsCorrection PtsCorr;
  bool IsStart = true;            // audio sync: no correction applied yet
  bool IsPastRecordingTime = false;
  bool Finished = false;          // join mode: flushed at the end of its segment
  bool ShowedMultiPacketWarning = false;
  int FrameCount = 0;             // decoded pictures (the input hook's frame number)
  std::int64_t WallStart = 0;     // rate emulation: av_gettime when the run started
  TFramePtr Decoded;              // reusable decode target
  TFramePtr HookPic;              // our own copy of a picture for deinterlacing and the input hooks
  AVCodecParserContext* Parser = nullptr;  // stream copy: the packet-rewriting parser (owned)
};

// Audio-path state the audio path keeps for itself (defined in the audio path's own files).
struct TAudioOutState;

struct TOutputStream {
  int FileIndex = 0;      // output slot
  int Index = 0;          // stream index within the file
  int SourceIndex = -1;   // TInputStream feeding it
  int SyncIndex = -1;     // TInputStream timing it
  AVStream* St = nullptr;
  TOutputStreamInfo* Info = nullptr;  // the stream as OpenOutput made it
  AVCodecContext* Enc = nullptr;      // encoder context (Info->Enc; nullptr with stream copy)
  const AVCodec* Codec = nullptr;
  bool EncodingNeeded = false;
  bool EncoderOpen = false;
  int FrameNumber = 0;
  std::int64_t SyncOpts = 0;  // next output pts in encoder time-base units (audio: samples)
  bool Flushed = false;   // the encoder has been drained
  int LastQuality = -1;   // lambda of the last encoded picture (from the encoder's statistics)
  std::uint64_t Error[4] = {};  // summed squared errors per plane (PSNR)
  double MuxTime = 0;     // stream copy: end of the last written packet (s), for choosing the input
  std::vector<AVBSFContext*> Bsfs;  // created from Info->Bsfs at set-up (owned)

  // video
  bool VideoResample = false;
  SwsContext* ImgResampleCtx = nullptr;  // owned
  TFramePtr ResamplePic;                 // picture in the encoder's size and pixel format
  int ResampleWidth = 0, ResampleHeight = 0, ResamplePixFmt = -1;
  std::vector<std::int64_t> ForcedKfPts;  // encoder time base
  size_t ForcedKfIndex = 0;
  AVCodecID OriginalCodecId = AV_CODEC_ID_NONE;  // join mode: for reopening the encoder
  AVFilterGraph* Graph = nullptr;         // owned; with a filter chain only
  AVFilterContext* FilterSrc = nullptr;
  AVFilterContext* FilterSink = nullptr;
  TFramePtr Filtered;
  // The last picture handed to the encoder, kept while a recording time is set or the source is a
  // device: when the time cuts the input off, the slots still owed up to it are filled with this
  // picture (FlushEncoders), and held slots at the end get it once more (CloseHeldSlots).
  TFramePtr LastPicture;
  // A source that marks its unchanged slots with empty packets: those slots hold the picture before
  // them instead of being coded again (HoldVideoSlot), and a key frame is forced every 2 s.
  bool HoldsSlots = false;
  std::int64_t LastCodedSlot = -1;  // encoder time base: the slot of the last picture coded
  std::int64_t LastKeySlot = 0;     // the slot of the first picture or the last forced key frame
  std::int64_t HeldSlot = -1;       // the last held slot, not yet written as an empty chunk

  // audio (the audio path owns the meaning; the teardown frees the library objects)
  bool AudioResample = false;
  SwrContext* Swr = nullptr;
  int ResampleSampleFmt = -1, ResampleChannels = 0, ResampleSampleRate = 0;
  AVAudioFifo* Fifo = nullptr;
  std::shared_ptr<TAudioOutState> Audio;  // anything further the audio path needs

  FILE* LogFile = nullptr;  // two-pass statistics (pass 1 writes it)
  std::string PassLogName;
  char* StatsIn = nullptr;  // pass 2: the whole log text handed to the encoder (av_malloc'ed)
};

struct TInputFileState {
  int IstIndex = 0;  // first TInputStream of the file
  int NbStreams = 0;
  bool Eof = false;
  bool NoPacket = false;  // answered "try again" in this round
};

// One loaded frame-hook library instance ("Configure"/"Process"/"Release" of a shared object).
struct TFrameHook {
  using TConfigure = int (*)(void** ctx, int argc, char* argv[]);
  using TProcess = void (*)(void* ctx, std::uint8_t* data[4], int linesize[4], int pixFmt, int width, int height,
                            std::int64_t pts);
  using TRelease = void (*)(void* ctx);
  TConfigure Configure = nullptr;
  TProcess Process = nullptr;
  TRelease Release = nullptr;
  void* Ctx = nullptr;
};

// Frees the library objects of the records (not the codecs: those close through the open lists).
void FreeOutputStream(TOutputStream& ost);
void FreeInputStream(TInputStream& ist);

}  // namespace qv
