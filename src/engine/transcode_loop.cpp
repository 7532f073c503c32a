// The transcode procedure: set-up, the packet loop that picks an input, reads, fixes the
// timestamps and hands the packet on, then flushing, trailers and the last report. Join mode splices
// the inputs one after the other into one output.
#include <algorithm>
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

void TCustomFFmpeg::Transcode() {
  SetupRun();
  RunStartTime = ff::av_gettime();
  LastReportTime = RunStartTime;
  OnMainThread = IsMainThread();
  TStopCheckGuard guard(this, &TCustomFFmpeg::ReadStopThunk, !OnMainThread);
  CurrentInput = 0;
  int noPacketCount = 0;
  TPacketPtr pkt = NewPacket();
  // After a stop, live inputs that lag behind the furthest output (a sound device hands over its
  // audio a little after it was captured) are read on up to that point, so that every stream of a
  // recording ends where it was stopped instead of the sound stopping short of the picture.
  bool draining = false;
  double drainTo = 0;
  std::int64_t drainDeadline = 0;
  TInputFailure inputFailure;

  for (;;) {
    PauseGate();
    if (StopRequested && !draining) {
      if (JoinMode || !StartDrain(drainTo)) break;
      draining = true;
      drainDeadline = ff::av_gettime_relative() + kDrainLimitUs;
    }
    if (draining && ff::av_gettime_relative() > drainDeadline) break;

    // a. The input to read next.
    int fileIndex = -1;
    if (JoinMode) {
      fileIndex = CurrentInput;
      for (const auto& ost : Ost)
        if (ost.FileIndex == CurrentInput && ost.FrameNumber >= Opt.MaxFrames[std::min(3, int(ost.Info->Kind))]) {
          fileIndex = -1;
          break;
        }
    } else {
      double optsMin = 1e100;
      std::int64_t iptsMin = INT64_MAX;
      for (const auto& ost : Ost) {
        const TInputStream& ist = Ist[size_t(ost.SourceIndex)];
        const TInputFileState& fs = IFiles[size_t(ist.FileIndex)];
        if (ist.IsPastRecordingTime || fs.NoPacket) continue;
        double opts = ost.EncodingNeeded ? double(ost.SyncOpts) * av_q2d(ost.Enc->time_base) : ost.MuxTime;
        if (draining && (opts >= drainTo - kDrainSlack || !Input(ist.FileIndex).IsDevice())) continue;
        std::int64_t ipts = ist.Pts;
        if (!fs.Eof) {
          if (Opt.InputSync ? ipts < iptsMin : opts < optsMin) {
            iptsMin = ipts;
            optsMin = opts;
            fileIndex = ist.FileIndex;
          }
        }
        if (ost.FrameNumber >= Opt.MaxFrames[std::min(3, int(ost.Info->Kind))]) {
          fileIndex = -1;
          break;
        }
      }
    }

    // b. Nothing to read now: wait for inputs that asked to try again, else the end.
    if (fileIndex < 0) {
      if (JoinMode || noPacketCount == 0) break;
      for (auto& fs : IFiles) fs.NoPacket = false;
      noPacketCount = 0;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      continue;
    }

    // c. File size limit of the first output.
    if (Opt.LimitFileSize > 0 && OutputCount() > 0 && Output(0).Ctx->pb &&
        ff::avio_seek(Output(0).Ctx->pb, 0, SEEK_CUR) >= Opt.LimitFileSize)
      break;

    // d. Read.
    TInputFile& in = Input(fileIndex);
    ReadingNow = !draining;  // a drain read is the stop's own, not one to cut short
    int ret = in.ReadPacket(pkt.get());
    ReadingNow = false;
    if (ret == AVERROR(EAGAIN)) {
      IFiles[size_t(fileIndex)].NoPacket = true;
      ++noPacketCount;
      continue;
    }
    if (ret < 0) {
      if (StopRequested && !draining) break;  // the read was cut short by the stop
      if (ret != AVERROR_EOF) {
        const TInputFailure failure = DescribeInputFailure(fileIndex, ret);
        Log(llError, failure.Message);
        if (inputFailure.Input < 0) inputFailure = failure;  // the first failure is the run's reason
        // The other live inputs (the sound behind a picture whose window closed) are read up to
        // where the failed one ended, as after a stop, so the file's streams end together.
        IFiles[size_t(fileIndex)].Eof = true;
        if (draining || JoinMode || !StartDrain(drainTo)) break;
        draining = true;
        drainDeadline = ff::av_gettime_relative() + kDrainLimitUs;
        continue;
      }
      IFiles[size_t(fileIndex)].Eof = true;
      if (JoinMode) {
        if (!JoinSplice(fileIndex)) break;
        continue;
      }
      if (Opt.OptShortest) break;
      continue;
    }

    // e. A packet.
    noPacketCount = 0;
    for (auto& fs : IFiles) fs.NoPacket = false;
    AVFormatContext* ic = in.Context();
    if (Opt.DoPktDump) ff::av_pkt_dump_log2(nullptr, AV_LOG_INFO, pkt.get(), Opt.DoHexDump, ic->streams[pkt->stream_index]);
    const TInputFileState& fs = IFiles[size_t(fileIndex)];
    if (pkt->stream_index < 0 || pkt->stream_index >= fs.NbStreams) {
      ff::av_packet_unref(pkt.get());
      continue;
    }
    TInputStream& ist = Ist[size_t(fs.IstIndex + pkt->stream_index)];
    if (ist.Discard) {
      ff::av_packet_unref(pkt.get());
      continue;
    }

    // f. Input offset and timestamp scale.
    std::int64_t offset = ff::av_rescale_q(in.InputTsOffset, kMicro, ist.St->time_base);
    if (pkt->dts != AV_NOPTS_VALUE) pkt->dts = AddTimestamps(pkt->dts, offset);
    if (pkt->pts != AV_NOPTS_VALUE) pkt->pts = AddTimestamps(pkt->pts, offset);
    double scale = pkt->stream_index < kMaxStreams ? in.TsScale[pkt->stream_index] : 0;
    if (scale != 0) {
      if (pkt->dts != AV_NOPTS_VALUE) pkt->dts = ScaleTimestamp(pkt->dts, scale);
      if (pkt->pts != AV_NOPTS_VALUE) pkt->pts = ScaleTimestamp(pkt->pts, scale);
    }

    // g. Timestamp discontinuities of formats that have them.
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

    // h. Recording time.
    if (RecordingTimeUs != kNoLimitTime) {
      std::int64_t t = pkt->pts != AV_NOPTS_VALUE ? pkt->pts : pkt->dts;
      if (t != AV_NOPTS_VALUE &&
          ff::av_compare_ts(t, ist.St->time_base, AddTimestamps(RecordingTimeUs, StartTimeUs), kMicro) >= 0) {
        ist.IsPastRecordingTime = true;
        ff::av_packet_unref(pkt.get());
        continue;
      }
    }

    // i. Decode and dispatch.
    if (!JoinMode) CurrentInput = fileIndex;
    if (OutputPacket(ist, pkt.get()) < 0) {
      std::string msg = Format("Error while decoding stream #%d.%d (%s)", ist.FileIndex, ist.StreamIndex,
                               MediaTypeName(int(ist.St->codecpar->codec_type)).c_str());
      if (Opt.ExitOnError) RaiseFFmpeg(msg);
      if (Opt.Verbose >= 0) Log(llError, msg);
    }

    // j.
    ff::av_packet_unref(pkt.get());
    if (ff::av_gettime() - LastReportTime > ProgressIntervalUs) ReportProgress(false);
  }

  // 3. Drain what the decoders and encoders still hold.
  for (auto& ist : Ist)
    if (ist.DecodingNeeded && !ist.Finished) OutputPacket(ist, nullptr);

  // 4. Trailers.
  for (int k = 0; k < OutputCount(); ++k) {
    TOutputFile& out = Output(k);
    if (!out.Owner) continue;
    int ret = ff::av_write_trailer(out.Ctx);
    if (ret < 0) RaiseFFmpeg(ErrorCodeText("av_write_trailer()", ret));
    CommitOutput(out);
  }

  // 5.
  ReportProgress(true);
  FreeRunRecords();
  if (inputFailure.Input >= 0) RecordInputFailure(inputFailure);
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
    for (auto& next : Ost)
      if (next.FileIndex == k + 1 && next.Index == ost.Index) {
        next.SyncOpts = ost.SyncOpts;
        next.FrameNumber = ost.FrameNumber;
        next.MuxTime = ost.MuxTime;
      }
    double t = ost.EncodingNeeded ? double(ost.SyncOpts) * av_q2d(ost.Enc->time_base) : ost.MuxTime;
    endTime = std::max(endTime, t);
  }
  Input(k + 1).InputTsOffset += std::int64_t(endTime * AV_TIME_BASE);
  fileIndex = CurrentInput = k + 1;
  return true;
}

}  // namespace qv
