// Packet decoding and dispatch: the input stream's timestamps, decoding through the send/receive
// API, the audio hook and volume, rate emulation, handing decoded pictures and sample blocks to the
// video and audio paths, draining the encoders at the end of input, and writing every packet through
// the stream's bitstream-filter chain.
#include <algorithm>
#include <thread>

#include "engine/audio_path.h"
#include "engine/custom_ffmpeg.h"
#include "media/checked_math.h"
#include "media/ff_utils.h"

namespace qv {

namespace {

constexpr AVRational kMicro{1, AV_TIME_BASE};
// Rate emulation waits at most this long (µs) before it looks at Stop and Pause again.
constexpr std::int64_t kRateEmuSliceUs = 10000;

// One frame's duration in µs: the decoder's own figure, else the stream's frame rate.
std::int64_t VideoFrameDuration(const TInputStream& ist, const AVFrame* f) {
  if (f->pkt_duration > 0) return ff::av_rescale_q(f->pkt_duration, ist.St->time_base, kMicro);
  AVRational fr = ist.DecCtx && ist.DecCtx->framerate.num > 0 ? ist.DecCtx->framerate
                  : ist.St->avg_frame_rate.num > 0               ? ist.St->avg_frame_rate
                                                                 : ist.St->r_frame_rate;
  if (fr.num <= 0 || fr.den <= 0) return 0;
  return std::int64_t(double(AV_TIME_BASE) * fr.den / fr.num * (1.0 + f->repeat_pict * 0.5));
}

}  // namespace

int TCustomFFmpeg::OutputPacket(TInputStream& ist, const AVPacket* pkt) {
  const AVMediaType kind = ist.St->codecpar->codec_type;
  // 1. The stream's clock follows the packets' dts.
  if (pkt && pkt->dts != AV_NOPTS_VALUE) ist.NextPts = ist.Pts = ff::av_rescale_q(pkt->dts, ist.St->time_base, kMicro);
  // Copied outputs take the packet as it came, also when the stream is decoded for other outputs.
  if (pkt) CopyPacket(ist, pkt);
  if (!ist.DecodingNeeded) return 0;

  if (kind == AVMEDIA_TYPE_SUBTITLE) return DecodeSubtitle(ist, pkt);
  if (pkt && pkt->size == 0 && kind == AVMEDIA_TYPE_VIDEO) {
    if (ist.Pts >= CutStart(ist)) ShowPictureBeforeCut(ist);
    HoldVideoSlot(ist);
    return 0;
  }
  if (kind == AVMEDIA_TYPE_VIDEO) ist.HasChangedRows = pkt && GetChangedRows(pkt, ist.ChangedRows);

  // 2. Decode.
  int ret = ff::avcodec_send_packet(ist.DecCtx, pkt);
  if (ret < 0 && ret != AVERROR_EOF && ret != AVERROR(EAGAIN)) {
    if (!pkt) FlushEncoders(ist);
    return -1;
  }
  int frames = 0;
  for (;;) {
    AVFrame* f = ist.Decoded.get();
    ret = ff::avcodec_receive_frame(ist.DecCtx, f);
    if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF) break;
    if (ret < 0) {
      if (!pkt) FlushEncoders(ist);
      return -1;
    }
    if (++frames == 2 && pkt && !ist.ShowedMultiPacketWarning && Opt.Verbose > 0) {
      Log(llError, Format("Multiple frames in a packet from stream %d", ist.StreamIndex));
      ist.ShowedMultiPacketWarning = true;
    }
    if (kind == AVMEDIA_TYPE_VIDEO) {
      std::int64_t bet = f->best_effort_timestamp;
      if (bet != AV_NOPTS_VALUE)
        ist.Pts = ff::av_rescale_q(bet, ist.St->time_base, kMicro);
      else if (ist.NextPts != AV_NOPTS_VALUE)
        ist.Pts = ist.NextPts;
      ist.NextPts = ist.Pts + VideoFrameDuration(ist, f);
    } else if (kind == AVMEDIA_TYPE_AUDIO) {
      if (ist.NextPts == AV_NOPTS_VALUE && f->best_effort_timestamp != AV_NOPTS_VALUE)
        ist.NextPts = ff::av_rescale_q(f->best_effort_timestamp, ist.St->time_base, kMicro);
      if (ist.NextPts != AV_NOPTS_VALUE) ist.Pts = ist.NextPts;
      if (f->sample_rate > 0) ist.NextPts = ist.Pts + std::int64_t(f->nb_samples) * AV_TIME_BASE / f->sample_rate;
      if (!TrimToRecordingTime(ist, f) || !TrimToCutStart(ist, f)) {
        ff::av_frame_unref(f);
        continue;
      }
    }
    try {
      DispatchDecoded(ist, f);
    } catch (...) {
      ff::av_frame_unref(f);
      throw;
    }
    ff::av_frame_unref(f);
  }
  // 7. End of input: a picture held from before the cut shows from it on; then the encoders this
  // stream feeds are drained.
  if (!pkt && kind == AVMEDIA_TYPE_VIDEO) ShowPictureBeforeCut(ist);
  if (!pkt) FlushEncoders(ist);
  return 0;
}

// A sound packet that starts before the recording time, or before the end a stopped run drains its
// lagging devices to, may end well after it (a sound device hands out a tenth of a second at once):
// only its samples up to that time are kept, so the sound ends with the pictures. False when none
// is left.
bool TCustomFFmpeg::TrimToRecordingTime(const TInputStream& ist, AVFrame* f) const {
  const std::int64_t end = std::min(RecordingTimeUs, DrainEndUs);
  if (end == kNoLimitTime || JoinMode || f->sample_rate <= 0) return true;
  const std::int64_t left = AddTimestamps(end, StartTimeUs) - ist.Pts;
  if (left <= 0) return false;
  const std::int64_t keep = ff::av_rescale(left, f->sample_rate, AV_TIME_BASE);
  if (keep < f->nb_samples) f->nb_samples = int(keep);
  return f->nb_samples > 0;
}

std::int64_t TCustomFFmpeg::CutStart(const TInputStream& ist) {
  const std::int64_t own = Input(ist.FileIndex).CutStartUs;
  return StartTimeUs != 0 ? std::max(StartTimeUs, own) : own;
}

// A sound block that straddles the start keeps only its samples from the start on, so the sound
// begins at the same instant as the pictures. False when none is left.
bool TCustomFFmpeg::TrimToCutStart(TInputStream& ist, AVFrame* f) {
  const std::int64_t start = CutStart(ist);
  if (start == kNoCutStart || ist.Pts >= start || f->sample_rate <= 0) return true;
  const std::int64_t skip = ff::av_rescale(start - ist.Pts, f->sample_rate, AV_TIME_BASE);
  if (skip >= f->nb_samples) return false;
  const AVSampleFormat fmt = AVSampleFormat(f->format);
  const bool planar = ff::av_sample_fmt_is_planar(fmt);
  const int channels = f->ch_layout.nb_channels;
  const std::ptrdiff_t bytes = std::ptrdiff_t(skip) * ff::av_get_bytes_per_sample(fmt) * (planar ? 1 : channels);
  // The samples stay in their buffers; the frame's planes begin further in.
  for (int c = 0; c < (planar ? channels : 1); ++c) f->extended_data[c] += bytes;
  if (f->extended_data != f->data)
    for (int c = 0; c < std::min(planar ? channels : 1, AV_NUM_DATA_POINTERS); ++c) f->data[c] += bytes;
  f->nb_samples -= int(skip);
  ist.Pts = start;
  return true;
}

void TCustomFFmpeg::DispatchDecoded(TInputStream& ist, AVFrame* frame) {
  const AVMediaType kind = ist.St->codecpar->codec_type;
  // 3./4. Pre-processing.
  if (kind == AVMEDIA_TYPE_VIDEO) {
    PreProcessVideo(ist, frame);
  } else if (kind == AVMEDIA_TYPE_AUDIO) {
    const int channels = frame->ch_layout.nb_channels;
    if ((OnAudioHook || Opt.AudioVolume != 256) && ff::av_frame_make_writable(frame) < 0) RaiseFFmpeg("av_mallocz fail");
    if (OnAudioHook) {
      const AVSampleFormat fmt = AVSampleFormat(frame->format);
      const int bps = ff::av_get_bytes_per_sample(fmt);
      if (ff::av_sample_fmt_is_planar(fmt)) {
        for (int c = 0; c < channels; ++c)
          OnAudioHook(*this, frame->extended_data[c], frame->format, 1, frame->sample_rate, frame->nb_samples * bps,
                      ist.Pts);
      } else {
        OnAudioHook(*this, frame->data[0], frame->format, channels, frame->sample_rate,
                    frame->nb_samples * bps * channels, ist.Pts);
      }
    }
    if (Opt.AudioVolume != 256) ApplyAudioVolume(frame, Opt.AudioVolume);
  }
  // 5. Rate emulation.
  if (Opt.RateEmu) EmulateRate(ist);
  // 6. To every output stream this one feeds, from the cut on.
  const std::int64_t cut = CutStart(ist);
  if (kind == AVMEDIA_TYPE_VIDEO && ist.Pts < cut) {
    if (!ist.BeforeCut) ist.BeforeCut = NewFrame();
    ff::av_frame_unref(ist.BeforeCut.get());
    if (ff::av_frame_ref(ist.BeforeCut.get(), frame) < 0) ist.BeforeCut.reset();
    return;
  }
  if (ist.Pts < cut) return;
  // Only a picture that comes well after the cut leaves room for the one before it (timestamps
  // rounded by the container may put the picture of the cut itself a little after it).
  if (kind == AVMEDIA_TYPE_VIDEO && cut != kNoCutStart && ist.Pts - cut > VideoFrameDuration(ist, frame) / 2)
    ShowPictureBeforeCut(ist);
  if (ist.BeforeCut) ist.BeforeCut.reset();
  SendToOutputs(ist, frame);
}

void TCustomFFmpeg::ShowPictureBeforeCut(TInputStream& ist) {
  if (!ist.BeforeCut || !ist.BeforeCut->buf[0]) return;
  const TFramePtr picture = std::move(ist.BeforeCut);
  const std::int64_t pts = ist.Pts;
  ist.Pts = CutStart(ist);
  SendToOutputs(ist, picture.get());
  ist.Pts = pts;
}

void TCustomFFmpeg::SendToOutputs(TInputStream& ist, AVFrame* frame) {
  const AVMediaType kind = ist.St->codecpar->codec_type;
  const int index = int(&ist - Ist.data());
  for (auto& ost : Ost) {
    if (ost.SourceIndex != index || !ost.EncodingNeeded) continue;
    if (JoinMode && ost.FileIndex != ist.FileIndex) continue;
    TOutputFile& of = Output(ost.FileIndex);
    if (kind == AVMEDIA_TYPE_VIDEO) {
      if (ost.Graph)
        PushToFilters(of, ost, ist, frame);
      else
        DoVideoOut(of, ost, ist, frame);
    } else if (kind == AVMEDIA_TYPE_AUDIO) {
      DoAudioOut(of, ost, ist, frame);
    }
  }
}

void TCustomFFmpeg::EmulateRate(const TInputStream& ist) {
  // The lead is the stream's position in its own input (from the input's first timestamp, so an
  // input offset is no lead) against the run's wall time, paused time left out. Joined inputs are
  // one input: a later segment's timestamps go on from the first segment's. The lead is waited out
  // in slices, so a Stop cuts the wait short and a Pause holds it.
  std::int64_t& origin = IFiles[JoinMode ? 0 : size_t(ist.FileIndex)].RateEmuOrigin;
  if (origin == AV_NOPTS_VALUE) origin = ist.Pts;
  for (;;) {
    if (StopRequested) return;
    const std::int64_t played = ff::av_gettime_relative() - ist.WallStart - PausedUs;
    const std::int64_t lead = ist.Pts - origin - played;
    if (lead <= 1000) return;
    std::this_thread::sleep_for(std::chrono::microseconds(std::min(lead, kRateEmuSliceUs)));
    PauseGate();
  }
}

void TCustomFFmpeg::FlushEncoders(TInputStream& ist) {
  const int index = int(&ist - Ist.data());
  for (auto& ost : Ost) {
    if (ost.SourceIndex != index || !ost.EncodingNeeded || ost.Flushed || !ost.EncoderOpen) continue;
    TOutputFile& of = Output(ost.FileIndex);
    if (SpliceFlush) {
      // Join mode: the next segment goes on with these encoders; only the pictures this segment's
      // filter graph still holds go out now (the splice carries the sound over).
      if (ost.Graph) FlushFilters(of, ost, ist);
      ost.Flushed = true;
      continue;
    }
    if (ost.Info->Kind == AVMEDIA_TYPE_AUDIO) {
      ost.Flushed = true;
      // PCM-like encoders (one sample per frame) hold nothing back.
      if (ost.Enc->frame_size > 1 || (ost.Codec && (ost.Codec->capabilities & AV_CODEC_CAP_DELAY)))
        FlushAudio(of, ost);
    } else if (ost.Info->Kind == AVMEDIA_TYPE_VIDEO) {
      ost.Flushed = true;
      if (ost.Graph) FlushFilters(of, ost, ist);
      // A recording time cuts the input off at the first picture that lies past it, so the slots
      // between the last picture and the limit get none of the repeats a late picture brings along
      // (a capture device that skipped its last slot, or a single skip earlier that the sync rule
      // let pass). At a constant frame rate they are filled the same way, with the last picture.
      CloseHeldSlots(of, ost, ist);
      const int vsync = Opt.VideoSyncMethod;
      const bool constantRate =
          vsync != 0 && vsync != 2 && !(vsync < 0 && (of.Ctx->oformat->flags & AVFMT_VARIABLE_FPS));
      if (constantRate && ist.IsPastRecordingTime && ost.LastPicture && ost.LastPicture->buf[0]) {
        const std::int64_t end = ff::av_rescale_q_rnd(RecordingTimeUs, kMicro, ost.Enc->time_base, AV_ROUND_UP);
        const std::int64_t owed =
            std::min<std::int64_t>(end - ost.SyncOpts, std::int64_t(Opt.MaxFrames[0]) - ost.FrameNumber);
        if (owed > 0) {
          NbFramesDup += int(owed);
          DupDropChanged = true;
          if (Opt.Verbose > 2) Log(llDebug, Format("*** %d dup!", int(owed)));
        }
        for (std::int64_t i = 0; i < owed; ++i) {
          if (i > 0) PauseGate();
          if (StopRequested) break;
          EncodeOnePicture(of, ost, ist, ost.LastPicture.get());
          ++ost.SyncOpts;
          ++ost.FrameNumber;
        }
      }
      ost.LastPicture.reset();
      EncodeVideoFrame(of, ost, nullptr);
    }
  }
}

void TCustomFFmpeg::WritePacket(TOutputFile& of, TOutputStream& ost, AVPacket* pkt) {
  pkt->stream_index = ost.St->index;
  FilterAndWrite(of, ost, pkt, 0);
}

void TCustomFFmpeg::FilterAndWrite(TOutputFile& of, TOutputStream& ost, AVPacket* pkt, size_t stage) {
  // Join slots write into the first slot's streams, through that stream's one chain.
  const auto& chain = JoinMode && ost.FileIndex > 0 ? Ost[size_t(ost.Index)].Bsfs : ost.Bsfs;
  if (stage < chain.size()) {
    AVBSFContext* bsf = chain[stage].get();
    TPacketPtr copy = NewPacket();
    if (ff::av_packet_ref(copy.get(), pkt) < 0) RaiseFFmpeg("av_mallocz fail");
    int ret = ff::av_bsf_send_packet(bsf, pkt);
    if (ret < 0) {
      std::string msg = ErrorCodeText(Format("%s failed for stream %d, codec %s", bsf->filter->name, ost.St->index,
                                             ost.EncodingNeeded ? ost.Enc->codec->name : "copy"),
                                      ret);
      if (Opt.ExitOnError) RaiseFFmpeg(msg);
      Log(llError, msg);
      // The packet goes on as it was.
      FilterAndWrite(of, ost, copy.get(), stage + 1);
      return;
    }
    TPacketPtr out = NewPacket();
    while ((ret = ff::av_bsf_receive_packet(bsf, out.get())) >= 0) FilterAndWrite(of, ost, out.get(), stage + 1);
    if (ret != AVERROR(EAGAIN) && ret != AVERROR_EOF) {
      std::string msg = ErrorCodeText(Format("%s failed for stream %d, codec %s", bsf->filter->name, ost.St->index,
                                             ost.EncodingNeeded ? ost.Enc->codec->name : "copy"),
                                      ret);
      if (Opt.ExitOnError) RaiseFFmpeg(msg);
      Log(llError, msg);
    }
    return;
  }
  // Where this stream has got to, for choosing the input to read next.
  std::int64_t t = pkt->dts != AV_NOPTS_VALUE ? pkt->dts : pkt->pts;
  if (t != AV_NOPTS_VALUE) ost.MuxTime = double(t + std::max<std::int64_t>(pkt->duration, 0)) * av_q2d(ost.St->time_base);
  int ret = ff::av_interleaved_write_frame(of.Ctx, pkt);
  if (ret < 0) RaiseFFmpeg(ErrorCodeText("av_interleaved_write_frame()", ret));
  CommitOutput(of);
}

}  // namespace qv
