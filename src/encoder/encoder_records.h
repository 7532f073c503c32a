// The encoder component's option records and the records its events carry, with the event types.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

extern "C" {
#include <libavutil/avutil.h>
#include <libavutil/samplefmt.h>
}

#include "media/bitmap.h"

namespace qv {

// Every Sender of the component's events derives from this.
class TObject {
 public:
  virtual ~TObject() = default;
};

class TFFmpeg;

// The library's "no time stamp" value: a time field holding it is not passed on.
constexpr std::int64_t kNoTimestamp = AV_NOPTS_VALUE;

// Metadata of an output.
struct TStreamInfo {
  // A date-time in days since 1899-12-30 (local time): 0 the moment of SetOutputFile, > 0 that
  // moment, negative none.
  double Timestamp = -1.0;
  int Year = -1;
  int Track = -1;
  std::string Title;
  std::string Author;
  std::string Copyright;
  std::string Comment;
  std::string Album;
  std::string Genre;
};

struct TInputOptions {
  std::wstring FileName;                 // filled with the name given to the call when empty
  std::string FileFormat;                // forced input format ("screencapture", "wavecapture", ...)
  std::int64_t StartTime = kNoTimestamp;  // µs
  int ProgramId = -1;                    // passed on when >= 0
  std::string ExtOptions;                // name=value lines, see ext_options.h

  void Reset() { *this = TInputOptions(); }
};

struct TOutputOptions {
  std::wstring FileName;
  std::string Text;  // free for the caller; not read by the component
  std::string FileFormat;
  int PacketSize = -1;
  int MuxRate = -1;
  float MuxMaxDelay = -1.0f;  // seconds
  float MuxPreload = -1.0f;   // seconds
  std::string AudioCodec;
  std::string AudioPreset;
  bool DisableAudio = false;
  int AudioVolume = -1;  // 256 = unity
  int AudioChannels = -1;
  int AudioSampleRate = -1;
  int AudioBitrate = -1;  // bit/s
  int AudioBitrateTolerance = -1;
  std::string AudioLanguage;
  int AudioSync = 0;
  std::string AudioTag;
  std::string VideoCodec;
  std::string VideoPreset;
  bool DisableVideo = false;
  std::string FrameRate;
  std::string FrameSize;
  std::string AspectRatio;
  int GopSize = -1;
  int VideoBitrate = -1;  // bit/s
  int VideoMaxRate = -1;
  int VideoMinRate = -1;
  int VideoBitrateTolerance = -1;
  int VideoBufferSize = -1;
  int VideoSync = -1;
  std::string VideoTag;
  std::string VideoFilters;
  std::string VideoLanguage;
  std::string SubtitleCodec;
  std::string SubtitlePreset;
  bool DisableSubtitle = false;
  std::string SubtitleLanguage;
  bool InputSync = false;
  bool CopyTimestamps = false;
  std::int64_t StartTime = kNoTimestamp;      // µs
  std::int64_t RecordingTime = kNoTimestamp;  // µs
  TStreamInfo Info;
  int Target = 0;             // 0 none, 1 vcd, 2 svcd, 3 dvd
  int TargetNorm = 0;         // 0 auto, 1 pal, 2 ntsc
  int TargetDefaultNorm = 1;  // with auto and no deciding input: 1 pal, else ntsc
  bool AudioHook = false;
  bool VideoInputHook = false;
  bool VideoOutputHook = false;
  int HookBitmapBits = 24;  // 8, 15, 16, 24 or 32
  bool Join = false;
  std::string ExtOptions;
  int Reserved1 = 0;  // free for the caller; not read by the component
  int Reserved2 = 0;

  void Reset() { *this = TOutputOptions(); }
};

struct TTerminateInfo {
  int TaskIndex = 0;  // -1 for the final event
  bool Completed = false;
  bool Failed = false;
  std::string ErrorMessage;  // the failure, saying which step or input ("Input #1 failed: ...")
  // The failure in words that stand alone in a sentence for the user ("The recorded window was
  // closed."): a failed input's own reason, else the same as ErrorMessage.
  std::string Reason;
  // The input whose read failed mid-run, -1 otherwise. The run was flushed and its files finished:
  // what was recorded up to the failure is kept.
  int FailedInput = -1;
};

struct TProgressInfo {
  int TaskIndex = 0;
  int InputIndex = 0;  // -1 in the last report of a task
  int FrameNumber = 0;
  int FPS = 0;
  float Quality = 0;
  float Bitrate = 0;  // kbit/s
  std::int64_t TotalSize = 0;       // bytes
  std::int64_t CurrentTime = 0;     // µs
  std::int64_t TotalDuration = -1;  // µs, -1 unknown
};
using PProgressInfo = TProgressInfo*;

struct TPreviewInfo {
  int TaskIndex = 0;
  const TBitmap* Bitmap = nullptr;  // owned by the task
  int FrameNumber = 0;              // 1-based
  std::int64_t PTS = 0;
};

struct THookInfo {
  int TaskIndex = 0;
  TBitmap* Bitmap = nullptr;  // owned by the task; holds the frame
  int FrameNumber = 0;
  std::int64_t PTS = 0;
  bool Update = true;     // set false when the frame was left unchanged
  bool StopHook = false;  // set true to receive no more calls for this task
};
using PHookInfo = THookInfo*;

using TAudioHookEvent = std::function<void(TObject* Sender, int ATaskIndex, const std::int64_t APTS,
                                           std::uint8_t* ASample, int ASize, int ASampleRate, int AChannels,
                                           AVSampleFormat ASampleFormat)>;
// Sender is the task whose input is being opened; AFormatContext its AVFormatContext.
using TBeforeFindStreamInfoEvent = std::function<void(TFFmpeg* Sender, void* AFormatContext)>;
using TVideoHookEvent = std::function<void(TObject* Sender, PHookInfo AHookInfo)>;
using TPreviewBitmapEvent = std::function<void(TObject* Sender, const TPreviewInfo& APreviewInfo)>;
using TProgressEvent = std::function<void(TObject* Sender, PProgressInfo AProgressInfo)>;
using TTerminateEvent = std::function<void(TObject* Sender, const TTerminateInfo& ATerminateInfo)>;

}  // namespace qv
