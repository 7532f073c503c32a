// TCustomFFmpeg: the transcoder, configured by named options in the manner of a transcoding command
// line. This header declares the whole class; its parts live one concern per file:
//   options.cpp        SetOption dispatch table and the simple handlers
//   option_values.cpp  value parsers (integers, floats, times, tags, maps, matrices, ...)
//   option_setters.cpp typed setters for the encoder component, ResetOptions, preview flags
//   presets.cpp        built-in presets and preset files
//   targets.cpp        vcd/svcd/dvd/dv target profiles
//   codec_lookup.cpp   codec lookup by name
//   open_input.cpp     OpenInput
//   open_output.cpp    OpenOutput, PrepareJoin, CloseAll of the files, crash-safe commits
//   new_streams.cpp    the output streams OpenOutput creates
//   watch.cpp          the time-out/cancel watch around blocking library calls
// The run (stream mapping, loop, packet dispatch, audio and video paths) adds its own files.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/engine_types.h"
#include "engine/ffmpeg_exception.h"
#include "engine/pending_options.h"
#include "engine/convert_thread.h"
#include "engine/run_state.h"
#include "media/format_converter.h"
#include "media/preview_window.h"
#include "media/bitmap.h"
#include "media/logger.h"
#include "media/option_store.h"

namespace qv {

// What the engine needs of a previewer window; the capture layer supplies one.
struct TAudioEnv;      // ---- audio path ---- (audio_path.h)
struct TAudioBuffers;
struct TInputDecoders;  // ---- opening an input ---- (open_input.cpp)
struct TInputValues;
class TIoWatch;

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

  // Typed setters used by the encoder component (same effect as the option of the same meaning).
  void SetForceFormat(const std::string& name);
  void SetRecordingTime(std::int64_t us);  // AV_NOPTS_VALUE leaves it unchanged
  void SetStartTime(std::int64_t us);
  // `to`, once the start it counts from is known (the input's or the output's).
  void TakeStopTime(std::int64_t startUs);
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
  // Closes the outputs from `index` on (with their join slots), so a set-up that failed after the
  // open leaves nothing open; a file they created and left empty is removed.
  void CloseOutputsFrom(int index);

  int InputCount() const { return int(Inputs.size()); }
  int OutputCount() const { return int(Outputs.size()); }
  TInputFile& Input(int i) { return *Inputs[size_t(i)]; }
  TOutputFile& Output(int i) { return *Outputs[size_t(i)]; }

  const std::string& LastError() const { return FLastError; }

  // ---- run ----
  // Start: refused (nullptr) while running or after the run has finished. Without `threaded` the
  // whole run happens inline and nullptr is returned; else the worker thread is returned suspended
  // and the caller resumes it (TConvertThread::Resume).
  TConvertThread* Start(bool threaded, TThreadPriority priority = tpNormal);
  void Run();  // the run itself (on the worker, or inline)
  void Stop(bool wait);
  void Terminate(bool wait);
  void Pause();
  void Resume();
  bool Paused() const;
  // Closes every input and output (an output of zero bytes is deleted), hooks and run buffers.
  void CloseAll();
  // `vhook`: loads a frame-hook library; 0, -1 (cannot load), -2 (no entry point / no token), -22.
  int AddFrameHook(const std::string& argument);

  // Event types (the events are fields below). Progress arguments: the engine, the input file being read
  // (-1 on the last report), TotalDuration (µs, -1 unknown), current time (µs), total size (bytes),
  // bit rate (kbit/s), quality, frames per second, frame number.
  using TProgressEvent = std::function<void(TCustomFFmpeg& sender, int fileIndex, std::int64_t totalDuration,
                                            std::int64_t currentTime, std::int64_t totalSize, double bitRate,
                                            double quality, int fps, int frameNumber)>;
  using TTerminateEvent = std::function<void(TCustomFFmpeg& sender)>;
  // Video input/output hook: the frame as bitmap (change it in place), *disable = true to be called no
  // more, *changed = false when the bitmap was left alone; pts (µs) and frame number.
  using TVideoHookEvent = std::function<void(TCustomFFmpeg& sender, TBitmap& bitmap, bool* disable, bool* changed,
                                             std::int64_t pts, int frameNumber)>;
  using TPreviewBitmapEvent =
      std::function<void(TCustomFFmpeg& sender, const TBitmap& bitmap, std::int64_t pts, int frameNumber)>;
  // Audio hook: the decoded samples (change them in place), library sample format, channels, rate,
  // size in bytes, pts (µs). Planar formats are handed over one plane at a time with channels 1.
  using TAudioHookEvent = std::function<void(TCustomFFmpeg& sender, std::uint8_t* samples, int sampleFormat,
                                             int channels, int sampleRate, int size, std::int64_t pts)>;
  // Bits per pixel of the hook and preview bitmaps (8, 15, 16, 24, 32).
  void SetHookBitsPixel(int bits);

  const std::vector<TInputStream>& InputStreams() const { return Ist; }
  const std::vector<TOutputStream>& OutputStreams() const { return Ost; }

  // ---- fields, by the thread that owns them ----
  // Set by the caller (the thread that opens the files) before Start, read by the worker.
  bool RaiseOnBadOption = true;
  bool JoinMode = false;  // set by OpenOutput
  int IoTimeout = 10000;  // ms; 0 never times out; read by the watch of the thread that opens
  std::int64_t TotalDuration = -1;  // µs; set by the opens
  std::int64_t ProgressIntervalUs = 500000;
  std::int64_t ShortProgressIntervalUs = 100000;
  // `vhook`: the video path installs the frame-hook loader here; false with `error` on failure.
  std::function<bool(const std::string& text, std::string& error)> FrameHookAdder;
  // Fired on the opening thread between opening an input and probing its streams.
  std::function<void(AVFormatContext*)> OnBeforeFindStreamInfo;
  // Called on the run's thread.
  TProgressEvent OnProgress;
  TTerminateEvent OnTerminate;
  TVideoHookEvent OnVideoInputHook;
  TVideoHookEvent OnVideoOutputHook;
  TPreviewBitmapEvent OnPreviewBitmap;
  TAudioHookEvent OnAudioHook;

  // Written by any thread (Stop), read by the worker and its read's stop check.
  std::atomic<bool> StopRequested{false};
  // Written by the opening thread's watch and by Stop (0 = cancelled), read by the time-out check.
  std::atomic<std::int64_t> WatchStart{kNoWatch};  // µs; kNoWatch = not watching

  // Written by the worker (or inline by Start), read by any thread.
  std::atomic<bool> Running{false};
  std::atomic<bool> Finished{false};
  std::atomic<bool> CompletedNormally{false};
  std::atomic<bool> Failed{false};
  // Written by the worker before Finished is set; read once Finished is set (or in the terminate
  // event). FailText is the first failure's message; FailReason says it in words that stand alone
  // ("The recorded window was closed."); FailedInput is the input whose read failed mid-run (-1 when
  // the failure was not an input's).
  std::string FailText;
  std::string FailReason;
  int FailedInput = -1;
  // Run figures, written by the worker; read after the run (tests, the component).
  std::int64_t VideoSize = 0, AudioSize = 0, ExtraSize = 0;  // bytes
  int NbFramesDup = 0, NbFramesDrop = 0;
  // Processor time the worker spent converting pictures for the encoders and coding them (the
  // encoders' own threads not counted): what a recording costs at the least.
  std::int64_t ConvertCpuUs = 0, CodingCpuUs = 0;

  // Interrupt checks (the registry calls them with the instance they were registered for).
  bool TimeoutCheck(void* instance);
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
  bool SetStoreOption(const std::string& name, const std::string& value);  // the option store, failures logged
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
  // open_input.cpp: OpenInputFile and its steps, in the order it runs them
  bool OpenInputFile(const std::string& fileName, const std::string& url);
  void ResolveForcedInputFormat(const TInputDevice*& device, const AVInputFormat*& fmt) const;
  bool FindInputDecoders(TInputDecoders& decoders);
  bool OpenDeviceInput(TInputFile& input, const TInputDevice* device);
  bool OpenDemuxerInput(TInputFile& input, const AVInputFormat* fmt);
  TDictPtr DemuxerParameters() const;
  bool SelectInputProgram(AVFormatContext* ctx);
  bool ProbeInputStreams(TInputFile& input, TIoWatch& watch);
  std::int64_t SeekInputToStart(TInputFile& input, TIoWatch& watch);  // the timestamp sought to
  bool PrepareInputStreams(TInputFile& input, const TInputDecoders& decoders, TInputValues& found);
  bool InputTookItsOptions(const TInputFile& input, const TInputDevice* device);
  void TakeVideoStream(int index, AVStream& st, const AVCodecContext& dec, TInputValues& found);
  void TakeAudioStream(AVStream& st, const AVCodecContext& dec, TInputValues& found);
  void NoteInputDuration(const AVFormatContext& ctx);
  void DumpInput(const TInputFile& input, const TInputDevice* device) const;
  void TakeInputValues(const TInputValues& found);
  void ClearPerFileInputOptions();
  // open_output.cpp / new_streams.cpp
  int OpenOutputFile(const std::string& fileName, const std::string& url, bool join);
  int OpenCrashSafe(TOutputFile& out);  // 0 or a negative error code
  // A crash-safe output's muxed units go to the kernel (raises when that fails); others are left be.
  void CommitOutput(const TOutputFile& out);
  void NewVideoStream(TOutputFile& out);
  void NewAudioStream(TOutputFile& out);
  void NewSubtitleStream(TOutputFile& out);
  TOutputStreamInfo& AddOutputStream(TOutputFile& out, AVMediaType kind);
  void ResolveEncoder(const TOutputFile& out, AVMediaType kind, const std::string& name, const AVCodec*& codec,
                      AVCodecID& id);
  // codec_lookup.cpp
  int CodecStrictness(AVMediaType type) const;

  void Log(TLogLevel level, const std::string& msg) const;

  // ---- run (private) ----
  friend class TConvertThread;
  friend struct TRunAccess;  // the run's own files
  void ShutdownRun();  // destructor: stop and wait, join the threads, CloseAll
  std::vector<std::string> CreatedFilesFrom(size_t index) const;  // names of the files outputs created
  void FinishedPath();
  static bool ReadStopThunk(void* object, void* instance);  // stop check, active only while reading
  bool StartDrain(double& drainTo);  // after a stop: do live inputs lag the furthest output?
  std::atomic<bool> ReadingNow{false};
  bool TerminatorStarted = false;
  bool SpliceFlush = false;  // join mode: draining a segment whose encoders go on with the next
  bool InputHookActive = false, OutputHookActive = false;  // hooks of this run (a hook may switch itself off)
  void RecordFailure(const std::exception& e);
  // A read error of an input other than "try again" and the end: it ends the run as failed, after
  // the flush and the trailer have finished the file so far.
  struct TInputFailure {
    int Input = -1;
    std::string Reason, Message;
  };
  TInputFailure DescribeInputFailure(int fileIndex, int code);
  void RecordInputFailure(const TInputFailure& failure);
  // transcode_loop.cpp: the procedure, one round of its packet loop, and the steps of a round
  struct TLoopState;
  void Transcode();
  bool LoopRound(TLoopState& loop, AVPacket* pkt);  // false: the loop ends
  bool BeginDrain(TLoopState& loop);
  int ChooseInput(const TLoopState& loop) const;   // -1: none now
  bool WaitForInputs(TLoopState& loop);
  bool OutputSizeReached();
  bool AfterFailedRead(TLoopState& loop, int fileIndex, int ret);
  bool HandlePacket(int fileIndex, AVPacket* pkt);  // true when the packet was decoded and dispatched
  void FixTimestamps(TInputFile& in, TInputStream& ist, AVPacket* pkt);
  bool PastRecordingTime(TInputStream& ist, const AVPacket* pkt);
  bool TrimToRecordingTime(const TInputStream& ist, AVFrame* f) const;
  std::int64_t CutStart(const TInputStream& ist);  // the run's time before which ist's content goes
  bool TrimToCutStart(TInputStream& ist, AVFrame* f);
  void ShowPictureBeforeCut(TInputStream& ist);  // at the cut, once a later slot or picture comes
  void SendToOutputs(TInputStream& ist, AVFrame* frame);
  void FinishRun(const TInputFailure& failure);
  void SetupRun();            // stream_mapping.cpp / codec_setup.cpp
  void MapStreams();
  void SetupCodecParameters();
  void OpenCodecs();
  void MapMetadataAndChapters();
  void WriteHeaders();
  void DumpStreamMapping();
  void FreeRunRecords();
  void CloseRunCodecs();
  void ReportProgress(bool last);
  int OutputPacket(TInputStream& ist, const AVPacket* pkt);   // packet_dispatch.cpp
  void DispatchDecoded(TInputStream& ist, AVFrame* frame);
  int DecodeSubtitle(TInputStream& ist, const AVPacket* pkt);  // subtitles.cpp
  void CopyPacket(TInputStream& ist, const AVPacket* pkt);  // stream_copy.cpp: to every copying output
  void StreamCopy(TInputStream& ist, TOutputStream& ost, const AVPacket* pkt);
  void EmulateRate(const TInputStream& ist);  // holds the stream back to its input's own pace
  void DoSubtitleOut(TOutputFile& of, TOutputStream& ost, TInputStream& ist, AVSubtitle* sub, std::int64_t pts);
  void FlushEncoders(TInputStream& ist);
  void WritePacket(TOutputFile& of, TOutputStream& ost, AVPacket* pkt);
  void FilterAndWrite(TOutputFile& of, TOutputStream& ost, AVPacket* pkt, size_t stage);
  void EncodeVideoFrame(TOutputFile& of, TOutputStream& ost, AVFrame* frame);
  void EncodeOnePicture(TOutputFile& of, TOutputStream& ost, TInputStream& ist, AVFrame* picture);
  void RecodeLastPicture(TOutputFile& of, TOutputStream& ost, TInputStream& ist, std::int64_t slot);
  void ReceiveVideoPackets(TOutputFile& of, TOutputStream& ost);
  void PreProcessVideo(TInputStream& ist, AVFrame*& picture);   // video_path.cpp
  void DoVideoOut(TOutputFile& of, TOutputStream& ost, TInputStream& ist, AVFrame* picture);
  int ScalerFlags() const;  // the scaler flags the options set
  void HoldVideoSlot(TInputStream& ist);
  // Encoder speed following the load (follow_load.cpp).
  void PrepareFollowLoad(TOutputStream& ost, const AVCodec* codec);
  void FollowLoad(TOutputFile& of, TOutputStream& ost, int slots, int missed, std::int64_t busyUs);
  void ReopenEncoder(TOutputFile& of, TOutputStream& ost, const TSpeedStep& step);
  void LogPresetsRun();
  bool WritesEmptyChunks(const TOutputFile& of, const TOutputStream& ost) const;
  void CloseHeldSlots(TOutputFile& of, TOutputStream& ost, TInputStream& ist);
  void DoVideoStats(TOutputStream& ost, int frameSize, int pictType);
  void SetPictureSize(TOutputStream& ost, bool firstSegment);      // codec_setup.cpp
  void SetupVideoFilters(TOutputStream& ost, TInputStream& ist);   // video_filters.cpp
  void PushToFilters(TOutputFile& of, TOutputStream& ost, TInputStream& ist, AVFrame* frame);
  void FlushFilters(TOutputFile& of, TOutputStream& ost, TInputStream& ist);
  bool RunVideoHook(const TVideoHookEvent& hook, bool& active, TFormatConverter& conv, AVFrame* picture,
                    std::int64_t pts, int frameNumber);
  void DoPreview(AVFrame* picture, std::int64_t pts, int frameNumber, bool bitmapReady);
  void RunFrameHooks(AVFrame* picture, std::int64_t pts);  // frame_hooks.cpp
  void ReleaseFrameHooks();
  // Audio path (audio_path.cpp): one decoded block to one encoded output stream, and the end-of-input
  // drain of that stream (rest of the FIFO, then the encoder's delayed packets).
  void DoAudioOut(TOutputFile& of, TOutputStream& ost, TInputStream& ist, AVFrame* decoded);
  void FlushAudio(TOutputFile& of, TOutputStream& ost);
  // Join mode: what the ending segment's stream holds goes on in the same stream of the next one;
  // the samples carried over (not encoded yet).
  std::int64_t CarryAudioAcrossSplice(TOutputStream& ending, TOutputStream& next);
  void SetupAudioStream(TOutputStream& ost, TInputStream& ist);  // set-up step of an encoded audio stream
  // ---- audio path ---- (audio_path.cpp; the path itself is in audio_path.h)
  TAudioEnv MakeAudioEnv(TOutputFile& of, TOutputStream& ost);
  std::shared_ptr<TAudioBuffers> AudioBuffers;  // engine-wide audio buffers, kept between runs
  // ---- end audio path ----
  void PauseGate();  // the worker waits here while paused (between packets, duplicated frames)
  std::int64_t PausedUs = 0;  // worker only: time this run spent at the pause gate
  bool JoinSplice(int& fileIndex);

  // The run's own state: made by SetupRun and used by the worker (or the inline run) alone;
  // InputStreams()/OutputStreams() are read after the run.
  std::vector<TInputStream> Ist;
  std::vector<TOutputStream> Ost;
  std::vector<TInputFileState> IFiles;
  std::vector<AVCodecContext*> OpenEncoders, OpenDecoders;  // under EngineCodecLock()
  std::int64_t RunStartTime = 0, LastReportTime = 0;
  bool DupDropChanged = false;
  int CurrentInput = 0;
  bool OnMainThread = false;
  std::unique_ptr<TFormatConverter> InputConverter, OutputConverter;
  int HookBitsPixel = 24;
  bool OutputBitmapReady = false;
  std::int64_t LastPreviewTime = 0;
  std::unique_ptr<TPreviewWindow> PreviewWin;
  int PreviewFlagsUsed = 0;
  std::vector<TFrameHook> FrameHooks;
  TAvMemPtr<std::uint8_t> SubtitleOut;
  TFilePtr VStatsFile;
  int QpHistogram[52] = {};
  std::int64_t StartTimeUs = 0, RecordingTimeUs = kNoLimitTime;  // of the run
  std::int64_t DrainEndUs = kNoLimitTime;  // output time a stopped run drains its lagging devices to

  // The caller's: options and files, changed only before Start; the worker reads them.
  TPendingOptions Opt;
  TOptionStore Store;
  int MaxFiles;
  std::vector<std::unique_ptr<TInputFile>> Inputs;
  std::vector<std::unique_ptr<TOutputFile>> Outputs;
  std::string FLastError;
  int FPreviewFlags = 0;
  std::unique_ptr<IPreviewer> Previewer;

  // The caller's thread (Start, Stop, Terminate, the destructor) makes and joins these; the events
  // are set by the threads whose end they mark.
  std::unique_ptr<TConvertThread> Worker;
  std::thread Terminator;
  TManualEvent RunDone, TerminateDone;
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
