// The transcoder's pending option state with its defaults. OpenInput/OpenOutput and each new stream
// consume the per-file and per-stream parts; the rest stays set for the whole run.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/engine_types.h"

namespace qv {

using TMatrix = std::array<std::uint16_t, 64>;

struct TPendingOptions {
  std::string FormatName;              // f
  int FrameWidth = 0, FrameHeight = 0;  // s
  double FrameAspectRatio = 0;         // aspect
  int FramePixFmt = -1;                // pix_fmt (AV_PIX_FMT_NONE)
  int AudioSampleFmt = -1;             // sample_fmt (AV_SAMPLE_FMT_NONE)
  std::int64_t ChannelLayout = 0;      // taken from inputs
  int MaxFrames[4] = {INT32_MAX, INT32_MAX, INT32_MAX, INT32_MAX};  // video, audio, data, subtitle
  AVRational FrameRate{0, 0};          // r (numerator 0: not set)
  double VideoQScale = 0;              // qscale
  std::unique_ptr<TMatrix> IntraMatrix, InterMatrix;
  std::string VideoRcOverride;         // rc_override
  bool VideoDisable = false;           // vn
  int VideoDiscard = 0;                // vdt
  std::string VideoCodecName;          // vcodec
  std::uint32_t VideoCodecTag = 0;     // vtag
  std::string VideoLanguage;           // vlang
  bool SameQuality = false;            // sameq
  bool DoDeinterlace = false;          // deinterlace
  int TopFieldFirst = -1;              // top
  int IntraDcPrecision = 8;            // dc
  bool LoopInput = false;              // loop_input
  int LoopOutput = -1;                 // loop_output
  bool QpHist = false;                 // qphist
  std::string VFilters;                // vfilters, vf
  bool IntraOnly = false;              // intra
  int AudioSampleRate = 44100;         // ar
  double AudioQScale = -99999.0;       // aq
  bool AudioDisable = false;           // an
  int AudioChannels = 2;               // ac
  std::string AudioCodecName;          // acodec
  std::uint32_t AudioCodecTag = 0;     // atag
  std::string AudioLanguage;           // alang
  bool SubtitleDisable = false;        // sn
  std::string SubtitleCodecName;       // scodec
  std::string SubtitleLanguage;        // slang
  std::uint32_t SubtitleCodecTag = 0;  // stag
  double MuxPreload = 0.5;             // muxpreload (s)
  double MuxMaxDelay = 0.7;            // muxdelay (s)
  std::int64_t RecordingTime = kNoLimitTime;  // t (µs)
  std::int64_t StartTime = 0;          // ss (µs)
  std::int64_t StopTime = kNoLimitTime;  // to (µs): becomes a recording time from the start it goes with
  std::int64_t RecordingTimestamp = 0;  // timestamp (s)
  std::int64_t InputTsOffset = 0;      // itsoffset (µs)
  TDictPtr Metadata;                   // metadata
  bool DoHexDump = false, DoPktDump = false, DoPsnr = false;  // hex, dump, psnr
  int DoPass = 0;                      // pass
  std::string PassLogFileName;         // passlogfile
  bool AudioStreamCopy = false, VideoStreamCopy = false, SubtitleStreamCopy = false;
  int VideoSyncMethod = -1;            // vsync
  int AudioSyncMethod = 0;             // async
  double AudioDriftThreshold = 0.1;    // adrift_threshold
  bool CopyTs = false, CopyTb = false, OptShortest = false;
  int VideoGlobalHeader = 0;           // vglobal
  std::string VStatsFileName;          // vstats, vstats_file
  int OptProgramId = 0;                // programid
  int CopyInitialNonKeyframes = 0;     // copyinkf
  bool RateEmu = false;                // re
  int VideoChannel = 0;                // vc
  std::string VideoStandard;           // tvstd
  int AudioVolume = 256;               // vol
  bool ExitOnError = false;            // xerror
  int Verbose = 1;                     // v
  int ThreadCount = 1;                 // threads
  std::int64_t LimitFileSize = 0;      // fs
  bool ForceFps = false;               // force_fps
  std::string ForcedKeyFrames;         // force_key_frames
  double DtsDeltaThreshold = 10.0;     // dts_delta_threshold
  bool InputSync = false;              // isync
  bool CrashSafe = false;              // crash_safe: outputs a kill leaves playable (recordings)
  // edge_pad: a picture the encoder takes only in whole colour blocks keeps its size, in a frame
  // rounded up to whole blocks whose extra columns and rows repeat its edge (recordings)
  bool EdgePad = false;
  // follow_load: an encoder with presets steps to a faster one when it falls behind the capture
  // and back when it has room (recordings)
  bool FollowLoad = false;
  int SwsFlags = 4;                    // sws_flags (SWS_BICUBIC)
  std::vector<TStreamMap> StreamMaps;            // map
  std::vector<TMetadataMap> MetadataMaps;        // map_meta_data
  bool MetadataGlobalAutocopy = true, MetadataStreamsAutocopy = true, MetadataChaptersAutocopy = true;
  std::vector<TChapterMap> ChapterMaps;          // map_chapters
  double TsScale[kMaxStreams] = {};              // itsscale for the next input
  std::vector<int> StreamIdMap;                  // streamid (-1 = not given)
  TBsfChain VideoBsfs, AudioBsfs, SubtitleBsfs;  // vbsf, absf, sbsf
  bool DoBenchmark = false;
  int BitBufferSize = 0x40000;
};

}  // namespace qv
