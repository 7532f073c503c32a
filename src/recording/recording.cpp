#include "recording/recording.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "capture/capture_session.h"
#include "capture/pipewire_capture.h"
#include "capture/screen_capture.h"
#include "capture/wave_capture.h"
#include "capture/wave_mix.h"
#include "encoder/ff_encoder.h"
#include "encoder/ffmpeg_task.h"
#include "media/ff_utils.h"
#include "media/logger.h"
#include "media/text_utils.h"
#include "media/unicode_url.h"
#include "recording/recording_mark.h"

namespace qv {

namespace {

// The reason as the middle of a sentence: its own final full stop is left to the sentence.
std::string WithoutFullStop(std::string text) {
  while (!text.empty() && (text.back() == '.' || text.back() == ' ' || text.back() == '\n')) text.pop_back();
  return text;
}

}  // namespace

std::string TRecordingEnd::Message() const {
  if (Failed) {
    const std::string reason = Reason.empty() ? std::string("the run failed without saying why") : Reason;
    const std::string file = GetFileSize(Where()) > 0 ? "The file so far is " + Where() + "." : "No file was written.";
    return "Recording stopped: " + WithoutFullStop(reason) + ". " + file;
  }
  if (DiskFull)
    return "The disk is almost full: the recording stopped at " + LengthText(StoppedAtUs) + ". The file is " + Where() + ".";
  if (!SavedAs.empty())
    return "The file " + FileName + " was removed during the recording; the recording is saved as " + SavedAs + ".";
  return {};
}

TRecording::TRecording() : FEncoder(std::make_unique<TFFEncoder>()) {
  // The handlers below and the front end's events run on the main thread, with everything else here.
  FEncoder->TriggerEventInMainThread = true;
  FEncoder->OnProgress = [this](TObject*, PProgressInfo info) { EncoderProgress(*info); };
  FEncoder->OnTerminate = [this](TObject*, const TTerminateInfo& info) { EncoderTerminate(info); };
}

TRecording::~TRecording() {
  OnProgress = nullptr;
  OnNotice = nullptr;
  OnEnd = nullptr;
  Stop(true);
  FEncoder->OnProgress = nullptr;
  FEncoder->OnTerminate = nullptr;
}

TStartResult TRecording::Start(const TRecordingRequest& request) {
  if (FState != TRecordingState::Idle) return {TStartFailure::Busy, "A recording is already under way."};
  Session = TCaptureSession::Create();
  Session->SetRestoreToken(request.PortalRestoreToken);
  FPlan = PlanRecording(request, Session->Number());
  FileName = request.FileName;
  Last = TRecordingProgress();
  TaskEnd = TTerminateInfo();
  NoticesTold.clear();
  Bitrate = TBitrateWatch(FPlan.Output.VideoBitrate, FPlan.Output.DisableAudio ? 0 : FPlan.Output.AudioBitrate);
  Disk = TDiskWatch(request.Format);
  SpareFolder = request.SpareFolder;
  OutputGone = DiskFull = false;
  DiskStopUs = 0;

  RegisterScreenCapture();
  RegisterPipeWireCapture();
  if (request.Audio) RegisterWaveMix();
  FEncoder->ClearTasks();
  TInputOptions input;
  input.FileFormat = FPlan.ScreenDevice;
  Task = FEncoder->AddTask(Utf8ToWide(FPlan.ScreenOptions), input);
  if (Task < 0) return Abandon(TStartFailure::Screen, FEncoder->LastError());
  if (request.Audio) {
    input.Reset();
    input.FileFormat = FPlan.SoundDevice;
    // The engine states a device's failure in the device's words, never by its option string.
    if (!FEncoder->AddInputFile(Task, Utf8ToWide(FPlan.AudioOptions), input))
      return Abandon(TStartFailure::Sound, FEncoder->LastError());
  }
  if (!FEncoder->SetOutputFile(Task, Utf8ToWide(FileName), FPlan.Output))
    return Abandon(TStartFailure::Output, FEncoder->LastError());
  if (!Output.Open(FileName))
    GetLogger()->Log(this, llWarning, LogSpeaker("recording", this) + "cannot watch " + FileName + ": " + std::strerror(errno));

  MarkUnderWay(request);
  FState = TRecordingState::Recording;
  FEncoder->StartTask(1);
  return {};
}

std::vector<TSoundLevel> TRecording::SoundLevels() const {
  return Session && FState != TRecordingState::Idle ? Session->SoundLevels() : std::vector<TSoundLevel>();
}

std::string TRecording::PortalRestoreToken() const { return Session ? Session->RestoreToken() : std::string(); }

void TRecording::MarkUnderWay(const TRecordingRequest& request) {
  Mark.reset();
  if (request.MarkFolder.empty()) return;
  std::string error;
  Mark = TRecordingMark::Create(request.MarkFolder, FileName, error);
  // The recording itself is worth more than its chance of recovery.
  if (!Mark) GetLogger()->Log(this, llWarning, LogSpeaker("recording", this) + error);
}

TStartResult TRecording::Abandon(TStartFailure failure, std::string reason) {
  // Dropping the task closes what it opened: the screen device takes its frame off the screen, the
  // sound device lets go of the input.
  FEncoder->ClearTasks();
  Task = -1;
  Session.reset();
  return {failure, std::move(reason)};
}

void TRecording::Pause() {
  if (FState != TRecordingState::Recording) return;
  FEncoder->Pause();
  Session->SetPaused(true);
  FState = TRecordingState::Paused;
}

void TRecording::Resume() {
  if (FState != TRecordingState::Paused) return;
  // The session first, so what the devices capture from now on counts from now.
  Session->SetPaused(false);
  FEncoder->Resume();
  FState = TRecordingState::Recording;
}

void TRecording::Stop(bool wait) {
  if (FState == TRecordingState::Idle) return;
  FState = TRecordingState::Stopping;
  FEncoder->Stop(wait);
  // A waited stop is the program's last word (exit, a stopping signal, teardown): the end is taken
  // before it returns, else the encoder's teardown drops the event and a finished file keeps its
  // "under way" mark.
  if (wait) FEncoder->WaitTerminateDelivered();
}

TRecordingProgress TRecording::Progress() const {
  TRecordingProgress progress = Last;
  progress.State = FState;
  return progress;
}

void TRecording::EncoderProgress(const TProgressInfo& info) {
  Last.ElapsedUs = info.CurrentTime;
  Last.FileBytes = info.TotalSize;
  Last.Frames = info.FrameNumber;
  Last.Fps = info.FPS;
  ReadFrameCounts();
  // The devices' notices are looked at as often as the run reports its progress.
  TellNotices();
  WatchBitrate();
  WatchOutput();
  if (OnProgress) OnProgress(Progress());
}

void TRecording::EncoderTerminate(const TTerminateInfo& info) {
  if (info.TaskIndex >= 0) {
    ReadFrameCounts();
    TaskEnd = info;
    return;
  }
  FState = TRecordingState::Idle;
  TellNotices();
  TRecordingEnd end;
  end.Failed = TaskEnd.Failed;
  end.Reason = TaskEnd.Reason.empty() ? TaskEnd.ErrorMessage : TaskEnd.Reason;
  end.FileName = FileName;
  end.DiskFull = DiskFull && !end.Failed;
  end.StoppedAtUs = DiskStopUs;
  SaveRemovedOutput(end);
  // A failed end may have left the file unfinished; its mark stays for the next start to look at.
  if (Mark && !end.Failed) Mark->Remove();
  Mark.reset();
  if (OnEnd) OnEnd(end);
}

void TRecording::ReadFrameCounts() {
  // Called while the worker waits for this thread (a progress report) or after it ended.
  if (TFFmpeg* task = FEncoder->Task(Task)) {
    Last.Duplicates = task->NbFramesDup;
    Last.Drops = task->NbFramesDrop;
    // The video encoder counts in frame slots, so its next stamp is the number of slots so far.
    for (const TOutputStream& ost : task->OutputStreams())
      if (ost.Info && ost.Info->Kind == AVMEDIA_TYPE_VIDEO) {
        Last.Slots = ost.SyncOpts;
        break;
      }
  }
}

void TRecording::TellNotices() {
  if (!Session) return;
  for (const std::string& notice : Session->TakeNotices()) Tell(notice);
}

void TRecording::Tell(const std::string& notice) {
  if (NoticesTold.insert(notice).second && OnNotice) OnNotice(notice);
}

void TRecording::WatchOutput() {
  if (!Output.IsOpen()) return;
  if (!OutputGone && Output.Vanished()) {
    OutputGone = true;
    Tell("The file " + FileName + " was removed; the recording goes on and is saved when it ends.");
  }
  const std::int64_t free = Output.FreeBytes();
  if (free < 0 || FState == TRecordingState::Stopping) return;
  switch (Disk.Judge({free, Last.FileBytes, Last.ElapsedUs, Last.Frames})) {
    case TDiskVerdict::Warn:
      Tell("The disk is almost full: about a minute of recording fits on it.");
      break;
    case TDiskVerdict::Stop:
      DiskFull = true;
      DiskStopUs = Last.ElapsedUs;
      GetLogger()->Log(this, llWarning, LogSpeaker("recording", this) + "stopping: " + std::to_string(free) +
                                            " bytes free on the disk of " + FileName);
      Stop(false);
      break;
    case TDiskVerdict::Fine:
      break;
  }
}

void TRecording::SaveRemovedOutput(TRecordingEnd& end) {
  // The run has finished the file, so what the watch's descriptor reads is the whole recording. A
  // file without a byte was removed by the run itself, which leaves nothing behind when its start
  // failed: writing it again would leave the empty file the end says was not written.
  if (Output.IsOpen() && Output.Bytes() != 0 && (OutputGone || Output.Vanished())) {
    std::string error;
    const char* home = std::getenv("HOME");
    end.SavedAs = Output.SaveCopy(SpareFolder.empty() && home ? std::string(home) : SpareFolder, error);
    if (end.SavedAs.empty()) {
      end.Failed = true;
      end.Reason = "the file was removed during the recording and could not be written again (" + error + ")";
    }
  }
  Output.Close();
}

void TRecording::WatchBitrate() {
  const std::string notice = Bitrate.Judge(Last.ElapsedUs, Last.FileBytes);
  if (!notice.empty()) Tell(notice);
}

}  // namespace qv
