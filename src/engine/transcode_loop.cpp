// The transcode procedure: set-up, the packet loop that picks an input, reads, fixes the
// timestamps and hands the packet on, then flushing, trailers and the last report. Join mode splices
// the inputs one after the other into one output.
#include <algorithm>
#include <cmath>
#include <thread>

#include "engine/custom_ffmpeg.h"
#include "media/checked_math.h"
#include "media/ff_utils.h"
#include "media/interrupt.h"
#include "media/main_thread.h"

namespace qv {

namespace {

constexpr AVRational kMicro{1, AV_TIME_BASE};
// The longest a stopped run waits for lagging live inputs.
constexpr std::int64_t kDrainLimitUs = 1500000;
// A drained input stops this far (seconds) short of the target: its last packet and the encoder's
// last, padded frame then end it about as far past the target, not a whole packet plus a frame.
constexpr double kDrainSlack = 0.02;

// Keeps the run's stop check registered for the worker thread while the procedure runs.
class TStopCheckGuard {
 public:
  TStopCheckGuard(void* engine, TCheckCode code, bool active) : Engine(engine), Code(code), Active(active) {
    if (Active && InterruptCB()) InterruptCB()->Register(CurrentThreadId(), Engine, TCheckMethod{Code, Engine});
  }
  ~TStopCheckGuard() {
    if (Active && InterruptCB()) InterruptCB()->Unregister(CurrentThreadId(), Engine, TCheckMethod{Code, Engine});
  }

 private:
  void* Engine;
  TCheckCode Code;
  bool Active;
};

}  // namespace

bool TCustomFFmpeg::StartDrain(double& drainTo) {
  // Only live devices lag; a file is simply cut where the stop found it.
  double furthest = 0;
  bool lagging = false;
  for (const auto& ost : Ost) {
    if (!ost.EncodingNeeded) continue;
    furthest = std::max(furthest, double(ost.SyncOpts) * av_q2d(ost.Enc->time_base));
  }
  for (const auto& ost : Ost) {
    if (!ost.EncodingNeeded) continue;
    const TInputStream& ist = Ist[size_t(ost.SourceIndex)];
    const double opts = double(ost.SyncOpts) * av_q2d(ost.Enc->time_base);
    if (Input(ist.FileIndex).IsDevice() && !IFiles[size_t(ist.FileIndex)].Eof && opts < furthest) lagging = true;
  }
  drainTo = furthest;
  return lagging;
}

bool TCustomFFmpeg::ReadStopThunk(void* object, void* instance) {
  // Only a read is cut short by a stop: writes that follow (flush, trailer) must still reach the file.
  auto* e = static_cast<TCustomFFmpeg*>(object);
  return instance == object && e->StopRequested.load() && e->ReadingNow.load();
}

// What the packet loop carries from one round to the next.
struct TCustomFFmpeg::TLoopState {
  int NoPacketCount = 0;  // inputs that answered "try again" in this round
  // After a stop, live inputs that lag behind the furthest output (a sound device hands over its
  // audio a little after it was captured) are read on up to that point, so that every stream of a
  // recording ends where it was stopped instead of the sound stopping short of the picture.
  bool Draining = false;
  double DrainTo = 0;
  std::int64_t DrainDeadline = 0;
  TInputFailure Failure;  // the first input that failed: the run's reason
};

void TCustomFFmpeg::Transcode() {
  SetupRun();
  RunStartTime = ff::av_gettime();
  LastReportTime = RunStartTime;
  OnMainThread = IsMainThread();
  TStopCheckGuard guard(this, &TCustomFFmpeg::ReadStopThunk, !OnMainThread);
  CurrentInput = 0;
  TLoopState loop;
  TPacketPtr pkt = NewPacket();
  while (LoopRound(loop, pkt.get())) ff::av_packet_unref(pkt.get());
  FinishRun(loop.Failure);
}

bool TCustomFFmpeg::BeginDrain(TLoopState& loop) {
  if (JoinMode || !StartDrain(loop.DrainTo)) return false;
  loop.Draining = true;
  loop.DrainDeadline = ff::av_gettime_relative() + kDrainLimitUs;
  DrainEndUs = std::llround(loop.DrainTo * AV_TIME_BASE);
  return true;
}

bool TCustomFFmpeg::LoopRound(TLoopState& loop, AVPacket* pkt) {
  PauseGate();
  if (StopRequested && !loop.Draining && !BeginDrain(loop)) return false;
  if (loop.Draining && ff::av_gettime_relative() > loop.DrainDeadline) return false;

  const int fileIndex = ChooseInput(loop);
  if (fileIndex < 0) return WaitForInputs(loop);
  if (OutputSizeReached()) return false;

  ReadingNow = !loop.Draining;  // a drain read is the stop's own, not one to cut short
  const int ret = Input(fileIndex).ReadPacket(pkt);
  ReadingNow = false;
  if (ret < 0) return AfterFailedRead(loop, fileIndex, ret);
  loop.NoPacketCount = 0;
  for (auto& fs : IFiles) fs.NoPacket = false;
  if (HandlePacket(fileIndex, pkt) && ff::av_gettime() - LastReportTime > ProgressIntervalUs) ReportProgress(false);
  return true;
}

int TCustomFFmpeg::ChooseInput(const TLoopState& loop) const {
  if (JoinMode) {
    for (const auto& ost : Ost)
      if (ost.FileIndex == CurrentInput && ost.FrameNumber >= Opt.MaxFrames[std::min(3, int(ost.Info->Kind))])
        return -1;
    return CurrentInput;
  }
  int fileIndex = -1;
  double optsMin = 1e100;
  std::int64_t iptsMin = INT64_MAX;
  for (const auto& ost : Ost) {
    const TInputStream& ist = Ist[size_t(ost.SourceIndex)];
    const TInputFileState& fs = IFiles[size_t(ist.FileIndex)];
    if (ist.IsPastRecordingTime || fs.NoPacket) continue;
    double opts = ost.EncodingNeeded ? double(ost.SyncOpts) * av_q2d(ost.Enc->time_base) : ost.MuxTime;
    if (loop.Draining && (opts >= loop.DrainTo - kDrainSlack || !Inputs[size_t(ist.FileIndex)]->IsDevice())) continue;
    std::int64_t ipts = ist.Pts;
    if (!fs.Eof && (Opt.InputSync ? ipts < iptsMin : opts < optsMin)) {
      iptsMin = ipts;
      optsMin = opts;
      fileIndex = ist.FileIndex;
    }
    if (ost.FrameNumber >= Opt.MaxFrames[std::min(3, int(ost.Info->Kind))]) return -1;
  }
  return fileIndex;
}

bool TCustomFFmpeg::WaitForInputs(TLoopState& loop) {
  // Nothing to read now: wait for inputs that asked to try again, else the end.
  if (JoinMode || loop.NoPacketCount == 0) return false;
  for (auto& fs : IFiles) fs.NoPacket = false;
  loop.NoPacketCount = 0;
  std::this_thread::sleep_for(std::chrono::milliseconds(10));
  return true;
}

bool TCustomFFmpeg::OutputSizeReached() {
  return Opt.LimitFileSize > 0 && OutputCount() > 0 && Output(0).Ctx->pb &&
         ff::avio_seek(Output(0).Ctx->pb, 0, SEEK_CUR) >= Opt.LimitFileSize;
}

bool TCustomFFmpeg::AfterFailedRead(TLoopState& loop, int fileIndex, int ret) {
  if (ret == AVERROR(EAGAIN)) {
    IFiles[size_t(fileIndex)].NoPacket = true;
    ++loop.NoPacketCount;
    // Join mode reads one input only: waiting for it must not spin.
    if (JoinMode) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return true;
  }
  if (StopRequested && !loop.Draining) return false;  // the read was cut short by the stop
  IFiles[size_t(fileIndex)].Eof = true;
  if (ret != AVERROR_EOF) {
    const TInputFailure failure = DescribeInputFailure(fileIndex, ret);
    Log(llError, failure.Message);
    if (loop.Failure.Input < 0) loop.Failure = failure;
    // The other live inputs (the sound behind a picture whose window closed) are read up to where
    // the failed one ended, as after a stop, so the file's streams end together.
    return !loop.Draining && BeginDrain(loop);
  }
  if (JoinMode) return JoinSplice(fileIndex);
  return !Opt.OptShortest;
}

bool TCustomFFmpeg::HandlePacket(int fileIndex, AVPacket* pkt) {
  TInputFile& in = Input(fileIndex);
  if (Opt.DoPktDump)
    ff::av_pkt_dump_log2(nullptr, AV_LOG_INFO, pkt, Opt.DoHexDump, in.Context()->streams[pkt->stream_index]);
  const TInputFileState& fs = IFiles[size_t(fileIndex)];
  if (pkt->stream_index < 0 || pkt->stream_index >= fs.NbStreams) return false;
  TInputStream& ist = Ist[size_t(fs.IstIndex + pkt->stream_index)];
  if (ist.Discard) return false;
  FixTimestamps(in, ist, pkt);
  if (PastRecordingTime(ist, pkt)) return false;

  if (!JoinMode) CurrentInput = fileIndex;
  if (OutputPacket(ist, pkt) < 0) {
    std::string msg = Format("Error while decoding stream #%d.%d (%s)", ist.FileIndex, ist.StreamIndex,
                             MediaTypeName(int(ist.St->codecpar->codec_type)).c_str());
    if (Opt.ExitOnError) RaiseFFmpeg(msg);
    if (Opt.Verbose >= 0) Log(llError, msg);
  }
  return true;
}

void TCustomFFmpeg::FixTimestamps(TInputFile& in, TInputStream& ist, AVPacket* pkt) {
  // The input's offset and timestamp scale.
  std::int64_t offset = ff::av_rescale_q(in.InputTsOffset, kMicro, ist.St->time_base);
  if (pkt->dts != AV_NOPTS_VALUE) pkt->dts = AddTimestamps(pkt->dts, offset);
  if (pkt->pts != AV_NOPTS_VALUE) pkt->pts = AddTimestamps(pkt->pts, offset);
  double scale = pkt->stream_index < kMaxStreams ? in.TsScale[pkt->stream_index] : 0;
  if (scale != 0) {
    if (pkt->dts != AV_NOPTS_VALUE) pkt->dts = ScaleTimestamp(pkt->dts, scale);
    if (pkt->pts != AV_NOPTS_VALUE) pkt->pts = ScaleTimestamp(pkt->pts, scale);
  }

  // Timestamp discontinuities of formats that have them.
  const AVFormatContext* ic = in.Context();
  if (ist.NextPts != AV_NOPTS_VALUE && pkt->dts != AV_NOPTS_VALUE && !in.IsDevice() && ic->iformat &&
      (ic->iformat->flags & AVFMT_TS_DISCONT) && !Opt.CopyTs) {
    std::int64_t pktDts = ff::av_rescale_q(pkt->dts, ist.St->time_base, kMicro);
    std::int64_t delta = pktDts - ist.NextPts;
    if (double(std::llabs(delta)) > Opt.DtsDeltaThreshold * AV_TIME_BASE || pktDts < ist.Pts) {
      in.InputTsOffset -= delta;
      std::int64_t d = ff::av_rescale_q(delta, kMicro, ist.St->time_base);
      pkt->dts -= d;
      if (pkt->pts != AV_NOPTS_VALUE) pkt->pts -= d;
      if (Opt.Verbose > 2)
        Log(llDebug, Format("timestamp discontinuity %d, new offset= %d", int(delta), int(in.InputTsOffset)));
    }
  }
}

bool TCustomFFmpeg::PastRecordingTime(TInputStream& ist, const AVPacket* pkt) {
  if (RecordingTimeUs == kNoLimitTime) return false;
  std::int64_t t = pkt->pts != AV_NOPTS_VALUE ? pkt->pts : pkt->dts;
  if (t == AV_NOPTS_VALUE || ff::av_compare_ts(t, ist.St->time_base, AddTimestamps(RecordingTimeUs, StartTimeUs), kMicro) < 0)
    return false;
  ist.IsPastRecordingTime = true;
  return true;
}

void TCustomFFmpeg::FinishRun(const TInputFailure& failure) {
  // Drain what the decoders and encoders still hold.
  for (auto& ist : Ist)
    if (ist.DecodingNeeded && !ist.Finished) OutputPacket(ist, nullptr);

  for (int k = 0; k < OutputCount(); ++k) {
    TOutputFile& out = Output(k);
    if (!out.Owner) continue;
    int ret = ff::av_write_trailer(out.Ctx);
    if (ret < 0) RaiseFFmpeg(ErrorCodeText("av_write_trailer()", ret));
    CommitOutput(out);
  }

  ReportProgress(true);
  FreeRunRecords();
  if (failure.Input >= 0) RecordInputFailure(failure);
  CompletedNormally = !StopRequested && !Failed;
}

bool TCustomFFmpeg::JoinSplice(int& fileIndex) {
  const int k = fileIndex;
  const bool last = k + 1 >= InputCount();
  // 1. The ending segment's decoders are drained; its encoders only after the last segment, because
  // the next segment goes on with the same encoders.
  const TInputFileState& fs = IFiles[size_t(k)];
  for (int s = 0; s < fs.NbStreams; ++s) {
    TInputStream& ist = Ist[size_t(fs.IstIndex + s)];
    if (!ist.DecodingNeeded || ist.Finished) continue;
    SpliceFlush = !last;
    OutputPacket(ist, nullptr);
    SpliceFlush = false;
    if (ist.DecoderOpen) ff::avcodec_flush_buffers(ist.DecCtx);
    ist.Finished = true;
  }
  if (last) return false;
  // 2./3. The next segment continues where this one ended.
  double endTime = 0;
  for (auto& ost : Ost) {
    if (ost.FileIndex != k) continue;
    std::int64_t carried = 0;  // samples that end this segment but go out with the next
    for (auto& next : Ost)
      if (next.FileIndex == k + 1 && next.Index == ost.Index) {
        if (ost.EncodingNeeded && ost.Info->Kind == AVMEDIA_TYPE_AUDIO) carried = CarryAudioAcrossSplice(ost, next);
        next.SyncOpts = ost.SyncOpts;
        next.FrameNumber = ost.FrameNumber;
        next.MuxTime = ost.MuxTime;
      }
    double t = ost.EncodingNeeded ? double(ost.SyncOpts + carried) * av_q2d(ost.Enc->time_base) : ost.MuxTime;
    endTime = std::max(endTime, t);
  }
  Input(k + 1).InputTsOffset += std::int64_t(endTime * AV_TIME_BASE);
  fileIndex = CurrentInput = k + 1;
  return true;
}

}  // namespace qv
