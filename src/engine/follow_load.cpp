// The video encoder's speed following the load (option `follow_load`, which recordings set for
// H.264): each half second of slots the video path's misses, busy time and pictures held inside the
// encoder go to the stream's TEncoderSpeed, and a step it asks for reopens the encoder with the
// other preset.
//
// Why a reopen and not a change on the running encoder: libavcodec hands x264 changes of the rate
// control, the aspect ratio and the field order on an open context (x264_encoder_reconfig), never
// of the preset, which is read only when the encoder opens, and a context once closed cannot be
// opened again. So a new encoder is opened from the settings the first one was opened with (frame
// threads for any preset but the first, see UseFrameThreads), the old one drained into the file,
// and the next picture is the new one's first, a key frame with its own parameter sets in front of
// it (recordings ask x264 to repeat them at every key frame; the file's global header keeps the
// first encoder's, which players take only until the stream brings others).
#include <algorithm>
#include <cstring>

#include "engine/custom_ffmpeg.h"
#include "media/codec_lock.h"
#include "media/ff_utils.h"

namespace qv {

std::mutex& RunCodecListLock();

namespace {

// Half a second of slots per observation: full motion at a preset too slow for it then costs a
// dozen slots before the step, and the stepping logic still sees enough slots to judge.
constexpr double kWindowSeconds = 0.5;

// A closed copy of an encoder's settings: its options, its private (codec) options and the fields
// the engine sets that no option names.
TCodecContextPtr CopyEncoderSettings(const AVCodecContext* src, const AVCodec* codec) {
  TCodecContextPtr dst(ff::avcodec_alloc_context3(codec));
  if (!dst) RaiseFFmpeg("avcodec_alloc_context3 failed");
  AVCodecContext* d = dst.get();
  if (ff::av_opt_copy(d, src) < 0 || (src->priv_data && d->priv_data && ff::av_opt_copy(d->priv_data, src->priv_data) < 0))
    RaiseFFmpeg("Cannot copy the encoder's settings");
  d->codec_type = src->codec_type;
  d->codec_id = src->codec_id;
  d->codec_tag = src->codec_tag;
  d->time_base = src->time_base;
  d->framerate = src->framerate;
  d->width = src->width;
  d->height = src->height;
  d->pix_fmt = src->pix_fmt;
  d->sample_aspect_ratio = src->sample_aspect_ratio;
  d->flags = src->flags;
  d->flags2 = src->flags2;
  d->gop_size = src->gop_size;
  d->thread_count = src->thread_count;
  d->global_quality = src->global_quality;
  d->color_range = src->color_range;
  d->colorspace = src->colorspace;
  d->color_primaries = src->color_primaries;
  d->color_trc = src->color_trc;
  return dst;
}

// A faster preset is taken only while pictures come in every slot: there x264's frame threads
// code one picture while the engine grabs and converts the next, where slices have the engine wait
// for each (the same processor time a picture, measured at 1080p). The one picture they hold back
// comes out with the next. The starting preset keeps the threads it was opened with.
int UseFrameThreads(AVCodecContext* enc) {
  std::uint8_t* raw = nullptr;
  const int ret = ff::av_opt_get(enc->priv_data, "x264-params", 0, &raw);
  if (ret < 0) return ret;
  const TAvTextPtr params(reinterpret_cast<char*>(raw));
  const std::string text = params && *params ? std::string(params.get()) + ":" : "";
  return ff::av_opt_set(enc->priv_data, "x264-params", (text + "sliced-threads=0").c_str(), 0);
}

}  // namespace

void TCustomFFmpeg::PrepareFollowLoad(TOutputStream& ost, const AVCodec* codec) {
  if (!Opt.FollowLoad || JoinMode || ost.Info->Kind != AVMEDIA_TYPE_VIDEO || !codec ||
      std::strcmp(codec->name, "libx264") != 0)
    return;
  std::uint8_t* raw = nullptr;
  if (ff::av_opt_get(ost.Enc->priv_data, "preset", 0, &raw) < 0) return;
  const TAvTextPtr preset(reinterpret_cast<char*>(raw));
  ost.Speed = TEncoderSpeed::ForX264(preset ? preset.get() : "");
  if (ost.Speed) ost.EncSettings = CopyEncoderSettings(ost.Enc, codec);
}

void TCustomFFmpeg::FollowLoad(TOutputFile& of, TOutputStream& ost, int slots, int missed, std::int64_t busyUs) {
  if (!ost.Speed) return;
  TLoadWindow& w = ost.Load;
  w.Slots += slots;
  w.Missed += missed;
  w.BusyUs += busyUs;
  const double period = av_q2d(ost.Enc->time_base);
  if (w.Slots * period < kWindowSeconds) return;
  TLoadObservation o;
  o.Seconds = w.Slots * period;
  o.Slots = w.Slots;
  o.MissedSlots = w.Missed;
  o.BusySeconds = double(w.BusyUs) / 1e6;
  o.LagSeconds = double(std::max<std::int64_t>(0, w.Sent - w.Received)) * period;
  w.Slots = w.Missed = 0;
  w.BusyUs = 0;
  TSpeedStep step;
  if (!ost.Speed->Observe(o, step)) return;
  Log(llInfo, Format("Output stream #%d.%d: the encoder's preset goes from %s to %s (%s)", ost.FileIndex, ost.Index,
                     step.From.c_str(), step.To.c_str(), step.Reason.c_str()));
  ReopenEncoder(of, ost, step);
}

// The new encoder opens before the old one is drained: when it cannot open, the recording goes on
// with the old one, at its speed.
void TCustomFFmpeg::ReopenEncoder(TOutputFile& of, TOutputStream& ost, const TSpeedStep& step) {
  const AVCodec* codec = ost.Enc->codec;
  TCodecContextPtr fresh = CopyEncoderSettings(ost.EncSettings.get(), codec);
  int ret = ff::av_opt_set(fresh->priv_data, "preset", step.To.c_str(), 0);
  if (ret >= 0 && step.To != ost.Speed->Start()) ret = UseFrameThreads(fresh.get());
  if (ret >= 0) {
    std::lock_guard<std::mutex> lock(RunCodecListLock());
    ret = OpenCodec(fresh.get(), codec, nullptr);
  }
  if (ret < 0) {
    Log(llWarning, ErrorCodeText(Format("Output stream #%d.%d: the encoder cannot be opened with the preset %s; it "
                                        "goes on with %s",
                                        ost.FileIndex, ost.Index, step.To.c_str(), step.From.c_str()),
                                 ret));
    ost.Speed.reset();
    return;
  }
  EncodeVideoFrame(of, ost, nullptr);
  {
    std::lock_guard<std::mutex> lock(RunCodecListLock());
    std::replace(OpenEncoders.begin(), OpenEncoders.end(), ost.Enc, fresh.get());
    CloseCodec(ost.Enc);
  }
  ost.Info->Enc = std::move(fresh);
  ost.Enc = ost.Info->Enc.get();
  ost.Load.Sent = ost.Load.Received = 0;
  ost.LastKeySlot = ost.SyncOpts;  // the new encoder's first picture is a key frame
}

void TCustomFFmpeg::LogPresetsRun() {
  for (TOutputStream& ost : Ost)
    if (ost.Speed) {
      ost.Speed->Finish(ost.Load.Slots * av_q2d(ost.Enc->time_base));
      ost.Load.Slots = 0;
      Log(llInfo, Format("Output stream #%d.%d: the encoder's presets ran %s", ost.FileIndex, ost.Index,
                         ost.Speed->Summary().c_str()));
    }
}

}  // namespace qv
