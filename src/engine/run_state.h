// Per-run records of the transcoder: one TInputStream per stream of every input, one TOutputStream
// per stream of every output slot, and the per-input-file loop state. Built when a run starts
// (stream_mapping.cpp), dropped when it ends (FreeRunRecords); each record owns the library objects
// it holds, so dropping it releases them.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "engine/encoder_speed.h"
#include "engine/engine_types.h"
#include "media/band_converter.h"
#include "media/changed_rows.h"
#include "media/ff_owners.h"
#include "media/ff_utils.h"

namespace qv {

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
  std::int64_t WallStart = 0;     // rate emulation: av_gettime_relative when the run started
  TFramePtr Decoded;              // reusable decode target
  TFramePtr HookPic;              // our own copy of a picture for the input and frame hooks
  // The last picture decoded before the cut: it is what shows at the cut when the next one comes
  // later (a recording holds an unchanged picture for many slots).
  TFramePtr BeforeCut;
  // The rows the picture being decoded changed against the one before, when its packet said so.
  bool HasChangedRows = false;
  std::vector<TRowBand> ChangedRows;
  TParserPtr Parser;              // stream copy: the packet-rewriting parser
};

// What the video path saw of the load since the last observation (follow_load.cpp).
struct TLoadWindow {
  int Slots = 0, Missed = 0;
  std::int64_t BusyUs = 0;
  std::int64_t Sent = 0, Received = 0;  // pictures handed to the encoder, packets it gave back
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
  std::vector<TBsfPtr> Bsfs;  // created from Info->Bsfs at set-up

  // video
  bool VideoResample = false;
  TScalerPtr ImgResampleCtx;
  TFramePtr ResamplePic;                 // picture in the encoder's size and pixel format
  int ResampleWidth = 0, ResampleHeight = 0, ResamplePixFmt = -1;
  // The size pictures are converted to: the encoder's, or with `edge_pad` the top-left part of it
  // they fill (the rest repeats their edge).
  int PictureWidth = 0, PictureHeight = 0;
  TBandConverter Bands;       // converts only the rows a picture changed into ResamplePic
  int ConvertedFrame = -1;    // the source's FrameCount of the picture ResamplePic holds
  std::vector<std::int64_t> ForcedKfPts;  // encoder time base
  size_t ForcedKfIndex = 0;
  AVCodecID OriginalCodecId = AV_CODEC_ID_NONE;  // join mode: for reopening the encoder
  TFilterGraphPtr Graph;                  // with a filter chain only
  AVFilterContext* FilterSrc = nullptr;
  AVFilterContext* FilterSink = nullptr;
  TFramePtr Filtered;
  // The last picture handed to the encoder, kept while a recording time is set or the source is a
  // device: when the time cuts the input off, the slots still owed up to it are filled with this
  // picture (FlushEncoders), and held slots at the end get it once more (CloseHeldSlots).
  TFramePtr LastPicture;
  // A source that marks its unchanged slots with empty packets: those slots hold the picture before
  // them instead of being coded again (HoldVideoSlot), and a key frame is forced once the encoder's
  // key-frame interval has passed in slots, as if every slot were coded.
  bool HoldsSlots = false;
  std::int64_t LastCodedSlot = -1;  // encoder time base: the slot of the last picture coded
  std::int64_t LastKeySlot = 0;     // the slot of the first picture or the last forced key frame
  std::int64_t HeldSlot = -1;       // the last held slot, not yet written as an empty chunk
  // With `follow_load`: the preset stepping, the encoder's settings as they were before it was
  // first opened (a faster preset reopens a copy of them), and the window being observed.
  std::unique_ptr<TEncoderSpeed> Speed;
  TCodecContextPtr EncSettings;
  TLoadWindow Load;

  // audio (the audio path gives them their meaning)
  bool AudioResample = false;
  TResamplerPtr Swr;
  int ResampleSampleFmt = -1, ResampleChannels = 0, ResampleSampleRate = 0;
  TAudioFifoPtr Fifo;
  std::shared_ptr<TAudioOutState> Audio;  // anything further the audio path needs

  TFilePtr LogFile;  // two-pass statistics (pass 1 writes it)
  std::string PassLogName;
  // Pass 2: the whole log text the encoder reads through its stats_in (unhooked before it closes).
  TAvMemPtr<std::uint8_t> StatsIn;
};

struct TInputFileState {
  int IstIndex = 0;  // first TInputStream of the file
  int NbStreams = 0;
  bool Eof = false;
  bool NoPacket = false;  // answered "try again" in this round
  std::int64_t RateEmuOrigin = AV_NOPTS_VALUE;  // rate emulation: the first timestamp dispatched (µs)
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

}  // namespace qv
