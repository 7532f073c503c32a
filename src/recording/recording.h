// One recording: the screen (and sound) devices of a request, run by the encoder component into the
// request's file, with a capture session of its own. The front ends build a request and drive a
// TRecording; the device strings, the encoder settings and the order in which a pause reaches the
// devices and the encoder live here and nowhere else.
//
// Threads: a TRecording is driven from the main thread (MarkMainThread) and raises its events there.
// The encoder's events reach it through the main-thread call queue, so the front end keeps that
// queue running (its event loop's waker, or RunMainThreadCalls in its own loop). Every field below
// belongs to the main thread; the capture session is the only thing the devices' threads share with
// it, behind the session's lock.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>

#include "capture/sound_mix.h"
#include "encoder/encoder_records.h"
#include "recording/bitrate_watch.h"
#include "recording/output_watch.h"
#include "recording/recording_request.h"

namespace qv {

class TCaptureSession;
class TFFEncoder;
class TRecordingMark;

enum class TRecordingState { Idle, Recording, Paused, Stopping };

struct TRecordingProgress {
  TRecordingState State = TRecordingState::Idle;
  std::int64_t ElapsedUs = 0;  // recorded time, pauses left out
  std::int64_t FileBytes = 0;
  int Frames = 0;  // pictures coded: a slot in which nothing changed repeats the one before uncoded
  int Fps = 0;
  int Duplicates = 0, Drops = 0;  // frames repeated to fill missed slots, frames dropped
  std::int64_t Slots = 0;  // the video's frame slots so far, coded or not (time x frame rate)
};

// Which part of a start failed. The reason is in words for the user; the front end adds advice
// of its own (how to record without sound, say).
enum class TStartFailure { None, Busy, Screen, Sound, Output };

struct TStartResult {
  TStartFailure Failure = TStartFailure::None;
  std::string Reason;
  explicit operator bool() const { return Failure == TStartFailure::None; }
};

struct TRecordingEnd {
  bool Failed = false;
  std::string Reason;  // in words, when failed
  std::string FileName;
  // The disk was almost full, so the recording stopped at `StoppedAtUs` of recorded time.
  bool DiskFull = false;
  std::int64_t StoppedAtUs = 0;
  // The file was removed mid-recording and its data written out again here.
  std::string SavedAs;
  // Where the recording is now.
  const std::string& Where() const { return SavedAs.empty() ? FileName : SavedAs; }
  // What the user is told of an end out of the ordinary; empty for a plain finish. A failed end:
  // "Recording stopped: <reason>. The file so far is <path>."; a full disk: "The disk is almost
  // full: the recording stopped at <time>. The file is <path>."; a removed file saved elsewhere.
  std::string Message() const;
};

class TRecording {
 public:
  TRecording();
  ~TRecording();  // a running recording is stopped and its file finished first
  TRecording(const TRecording&) = delete;
  TRecording& operator=(const TRecording&) = delete;

  // Raised on the main thread. A notice (the sound input lost, say) is told once per recording.
  std::function<void(const TRecordingProgress&)> OnProgress;
  std::function<void(const std::string& notice)> OnNotice;
  std::function<void(const TRecordingEnd&)> OnEnd;

  // Opens the devices and the file and starts the run. On failure nothing stays open (no device,
  // no overlay on the screen, no file handle) and the state stays Idle.
  TStartResult Start(const TRecordingRequest& request);
  void Pause();
  void Resume();
  // The run finishes the file (flush and trailer) and then ends; with `wait`, returns after that
  // and the end has been taken (OnEnd, if still set, raised; the mark of a finished file removed).
  void Stop(bool wait);

  TRecordingState State() const { return FState; }
  TRecordingProgress Progress() const;
  // What the last start handed to the encoder.
  const TRecordingPlan& Plan() const { return FPlan; }
  // Each mixed sound source's latest level while recording (empty for one source unmixed).
  std::vector<TSoundLevel> SoundLevels() const;
  // The screen portal's permission for the next recording, once the last start got one; "" if none.
  std::string PortalRestoreToken() const;
  TFFEncoder& Encoder() { return *FEncoder; }

 private:
  // `reason` by value: the encoder's own error text is cleared on the way.
  TStartResult Abandon(TStartFailure failure, std::string reason);
  void EncoderProgress(const TProgressInfo& info);
  void EncoderTerminate(const TTerminateInfo& info);
  void ReadFrameCounts();
  void TellNotices();
  void WatchBitrate();
  void Tell(const std::string& notice);
  // At each progress report (twice a second while recording): the output's free space and whether
  // its file is still there.
  void WatchOutput();
  void SaveRemovedOutput(TRecordingEnd& end);

  void MarkUnderWay(const TRecordingRequest& request);

  std::unique_ptr<TFFEncoder> FEncoder;
  std::shared_ptr<TCaptureSession> Session;  // the current or last recording's
  std::unique_ptr<TRecordingMark> Mark;      // while the file is unfinished
  TRecordingPlan FPlan;
  std::string FileName;
  int Task = -1;
  TRecordingState FState = TRecordingState::Idle;
  TRecordingProgress Last;
  TTerminateInfo TaskEnd;
  std::set<std::string> NoticesTold;
  TBitrateWatch Bitrate;
  TOutputWatch Output;
  TDiskWatch Disk;
  std::string SpareFolder;
  bool OutputGone = false;
  bool DiskFull = false;
  std::int64_t DiskStopUs = 0;
};

}  // namespace qv
