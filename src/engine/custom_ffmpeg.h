// TCustomFFmpeg: the transcoder, configured by named options in the manner of a transcoding command
// line. This header declares the whole class; its parts live one concern per file:
//   options.cpp        SetOption dispatch table and the simple handlers
//   option_values.cpp  value parsers (integers, floats, times, tags, maps, matrices, ...)
//   option_setters.cpp typed setters for the encoder component, ResetOptions, preview flags
//   presets.cpp        built-in presets and preset files
//   targets.cpp        vcd/svcd/dvd/dv target profiles
//   codec_lookup.cpp   codec lookup by name
//   open_input.cpp     OpenInput
//   open_output.cpp    OpenOutput, PrepareJoin, CloseAll of the files
//   new_streams.cpp    the output streams OpenOutput creates
//   watch.cpp          the time-out/cancel watch around blocking library calls
// The run (stream mapping, loop, packet dispatch, audio and video paths) adds its own files.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engine/engine_types.h"
#include "engine/ffmpeg_exception.h"
#include "engine/pending_options.h"
#include "media/logger.h"
#include "media/option_store.h"

namespace qv {

// What the engine needs of a previewer window; the capture layer supplies one.
class IPreviewer {
 public:
  virtual ~IPreviewer() = default;
};

constexpr int kMaxFiles = 512;

class TCustomFFmpeg {
 public:
  // maxFiles: how many inputs and how many outputs this engine may hold (1..512).
  explicit TCustomFFmpeg(int maxFiles = 20);
  ~TCustomFFmpeg();
  TCustomFFmpeg(const TCustomFFmpeg&) = delete;
  TCustomFFmpeg& operator=(const TCustomFFmpeg&) = delete;

  // ---- options ----
  // name without its dash, lower-cased by the caller. Raises FFmpegException on a bad value.
  void SetOption(const std::string& name, const std::string& value);
  void ResetOptions();
  bool RaiseOnBadOption = true;

  // Typed setters used by the encoder component (same effect as the option of the same meaning).
  void SetForceFormat(const std::string& name);
  void SetRecordingTime(std::int64_t us);  // AV_NOPTS_VALUE leaves it unchanged
  void SetStartTime(std::int64_t us);
  void SetProgramId(int id);               // only >= 0
  void SetAudioVolume(int volume);         // only >= 0
  void SetAudioSampleRate(int rate);       // only > 0
  void SetAudioChannels(int channels);     // only > 0
  void SetAudioSyncMethod(int method);
  void SetVideoSyncMethod(int method);
  void SetMuxDelay(double seconds);        // only > 0
  void SetMuxPreload(double seconds);      // only > 0
  void SetAudioCodec(const std::string& name);
  void SetVideoCodec(const std::string& name);
  void SetSubtitleCodec(const std::string& name);
  void SetFrameSize(const std::string& text);
  void SetFrameRate(const std::string& text);
  void SetFrameAspectRatio(const std::string& text);
  void SetVideoFilters(const std::string& text);
  void SetAudioTag(const std::string& text);
  void SetVideoTag(const std::string& text);
  void SetSubtitleTag(const std::string& text);
  void SetMetadata(const std::string& key, const std::string& value);
  void SetVerbosity(int level);
  void SetPreset(char kind, const std::string& name);  // kind 'a', 'v', 's' or 'f'
  void SetGenericNumber(const std::string& name, double value);

  // Bit 0 preview window, bit 1 preview bitmap; runs under the engine-wide preview lock.
  void SetPreviewFlags(int flags);
  int PreviewFlags() const { return FPreviewFlags; }

  // The pending state (read by the component and by tests).
  const TPendingOptions& Options() const { return Opt; }
  TOptionStore& GenericOptions() { return Store; }

  // ---- codec lookup ----
  // Looks `name` up as encoder or decoder of `type`. Empty name: codec nullptr, true. On failure
  // LastError holds the reason and false is returned. `strict` is the codec context's strictness.
  bool FindCodec(const std::string& name, AVMediaType type, bool encoder, int strict, const AVCodec*& codec);

  // ---- opening ----
  // True when the input was opened and counted; false with LastError. Raises only for
  // "avformat_alloc_context failed" and "Unknown input format: "%s"".
  bool OpenInput(const std::string& fileName);
  bool OpenInput(const std::wstring& fileName);
  // The index of the new output, or -1 with LastError.
  int OpenOutput(const std::string& fileName, bool join = false);
  int OpenOutput(const std::wstring& fileName, bool join = false);
  // After a successful OpenOutput with join set: one output slot per further input.
  void PrepareJoin();
  // `newvideo`, `newaudio`, `newsubtitle`: one more stream in the last output.
  void AddStreamToLastOutput(AVMediaType kind);
  // Closes every input and output file and frees the per-file records.
  void CloseFiles();

  int InputCount() const { return int(Inputs.size()); }
  int OutputCount() const { return int(Outputs.size()); }
  TInputFile& Input(int i) { return *Inputs[size_t(i)]; }
  TOutputFile& Output(int i) { return *Outputs[size_t(i)]; }
  bool JoinMode = false;

  // `vhook`: the video path installs the frame-hook loader here; false with `error` on failure.
  std::function<bool(const std::string& text, std::string& error)> FrameHookAdder;

  // Fired between opening an input and probing its streams.
  std::function<void(AVFormatContext*)> OnBeforeFindStreamInfo;

  const std::string& LastError() const { return FLastError; }

  // ---- run control shared with the watch ----
  std::atomic<bool> StopRequested{false};
  int IoTimeout = 10000;  // ms; 0 never times out
  std::atomic<std::int64_t> WatchStart{kNoWatch};  // µs; kNoWatch = not watching, 0 = cancelled
  std::int64_t TotalDuration = -1;                 // µs
  std::int64_t ProgressIntervalUs = 500000;
  std::int64_t ShortProgressIntervalUs = 100000;

  // Interrupt checks (the registry calls them with the instance they were registered for).
  bool StopCheck(void* instance);
  bool TimeoutCheck(void* instance);
  static bool StopCheckThunk(void* object, void* instance);
  static bool TimeoutCheckThunk(void* object, void* instance);

  // The engine-wide lock around the preview flags.
  static std::mutex& PreviewLock();

 private:
  // options.cpp
  void DoNothing(const std::string& name, const std::string& value);
  void SetBoolFlag(const std::string& name, const std::string& value);
  void SetIntField(const std::string& name, const std::string& value);
  void SetFloatField(const std::string& name, const std::string& value);
  void SetBitRate(const std::string& name, const std::string& value);
  void SetGeneric(const std::string& name, const std::string& value);
  void SetCodecName(const std::string& name, const std::string& value);
  void SetCodecTag(const std::string& name, const std::string& value);
  void SetBitstreamFilter(const std::string& name, const std::string& value);
  void ListPixelFormats();
  void ListSampleFormats();
  // option_values.cpp
  void ParseMap(const std::string& value);
  void ParseMetadataMap(const std::string& value);
  void ParseChapterMap(const std::string& value);
  void ParseTsScale(const std::string& value);
  void ParseMetadata(const std::string& value);
  void ParseStreamId(const std::string& name, const std::string& value);
  void ParseMatrix(const std::string& value, std::unique_ptr<TMatrix>& matrix);
  // presets.cpp
  void ApplyPreset(char kind, const std::string& value);
  // targets.cpp
  void ApplyTarget(const std::string& value);
  // open_input.cpp / open_output.cpp / new_streams.cpp
  bool OpenInputFile(const std::string& fileName, const std::string& url);
  int OpenOutputFile(const std::string& fileName, const std::string& url, bool join);
  void NewVideoStream(TOutputFile& out);
  void NewAudioStream(TOutputFile& out);
  void NewSubtitleStream(TOutputFile& out);
  TOutputStreamInfo& AddOutputStream(TOutputFile& out, AVMediaType kind);
  // codec_lookup.cpp
  int CodecStrictness(AVMediaType type) const;

  void Log(TLogLevel level, const std::string& msg) const;

  TPendingOptions Opt;
  TOptionStore Store;
  int MaxFiles;
  std::vector<std::unique_ptr<TInputFile>> Inputs;
  std::vector<std::unique_ptr<TOutputFile>> Outputs;
  std::string FLastError;
  int FPreviewFlags = 0;
  std::unique_ptr<IPreviewer> Previewer;
};

// Runs a blocking library call under the time-out/cancel watch of `engine` for the calling thread.
class TIoWatch {
 public:
  explicit TIoWatch(TCustomFFmpeg& engine);
  ~TIoWatch();
  TIoWatch(const TIoWatch&) = delete;
  TIoWatch& operator=(const TIoWatch&) = delete;
  // Starts the clock again (the next blocking step of the same watch).
  void Restart();

 private:
  TCustomFFmpeg& Engine;
};

// The engine's conversion of a file name into the library's text form; an over-long name raises.
std::string LibraryURL(const std::string& fileName);

}  // namespace qv
