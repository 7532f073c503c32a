// Subtitles: decoded from their packets and encoded again into a buffer of 1 MiB; DVB subtitles go
// out twice (show, then clear). The encoder's position (its last start, in its time base) takes part
// in the choice of the next input like any other output's.
#include <algorithm>

#include "engine/custom_ffmpeg.h"

namespace qv {

namespace {
constexpr int kSubtitleOutSize = 1024 * 1024;
constexpr AVRational kMicro{1, AV_TIME_BASE};
constexpr AVRational kMilli{1, 1000};
}  // namespace

int TCustomFFmpeg::DecodeSubtitle(TInputStream& ist, const AVPacket* pkt) {
  if (!pkt) return 0;  // nothing is held back by subtitle decoders
  TSubtitle decoded;
  AVSubtitle& sub = decoded.Sub;
  int got = 0;
  int ret = ff::avcodec_decode_subtitle2(ist.DecCtx, &sub, &got, const_cast<AVPacket*>(pkt));
  if (ret < 0) return -1;
  if (ret != pkt->size && !ist.ShowedMultiPacketWarning && Opt.Verbose > 0) {
    Log(llError, Format("Multiple frames in a packet from stream %d", ist.StreamIndex));
    ist.ShowedMultiPacketWarning = true;
  }
  if (!got) return 0;
  std::int64_t pts = pkt->pts != AV_NOPTS_VALUE ? ff::av_rescale_q(pkt->pts, ist.St->time_base, kMicro) : AV_NOPTS_VALUE;
  if (StartTimeUs == 0 || ist.Pts >= StartTimeUs) {
    const int index = int(&ist - Ist.data());
    for (auto& ost : Ost)
      if (ost.SourceIndex == index && ost.EncodingNeeded && (!JoinMode || ost.FileIndex == ist.FileIndex))
        DoSubtitleOut(Output(ost.FileIndex), ost, ist, &sub, pts);
  }
  return 0;
}

void TCustomFFmpeg::DoSubtitleOut(TOutputFile& of, TOutputStream& ost, TInputStream&, AVSubtitle* sub, std::int64_t pts) {
  if (pts == AV_NOPTS_VALUE) {
    if (Opt.ExitOnError) RaiseFFmpeg("Subtitle packets must have a pts");
    Log(llError, "Subtitle packets must have a pts");
    return;
  }
  if (!SubtitleOut) {
    SubtitleOut.reset(static_cast<std::uint8_t*>(ff::av_malloc(kSubtitleOutSize)));
    if (!SubtitleOut) RaiseFFmpeg("av_malloc failed");
  }
  // Encoders take a subtitle that starts at its pts: a display delay is folded into the pts.
  const std::int64_t start = pts - StartTimeUs + std::int64_t(sub->start_display_time) * 1000;
  sub->end_display_time -= std::min(sub->end_display_time, sub->start_display_time);
  sub->start_display_time = 0;
  const bool dvb = ost.Enc->codec_id == AV_CODEC_ID_DVB_SUBTITLE;
  const unsigned rects = sub->num_rects;
  for (int i = 0; i < (dvb ? 2 : 1); ++i) {
    sub->pts = start;
    if (i == 1) sub->num_rects = 0;  // the clearing packet
    int size = ff::avcodec_encode_subtitle(ost.Enc, SubtitleOut.get(), kSubtitleOutSize, sub);
    sub->num_rects = rects;
    if (size < 0) RaiseFFmpeg("Subtitle encoding failed");
    TPacketPtr pkt = NewPacket();
    if (ff::av_new_packet(pkt.get(), size) < 0) RaiseFFmpeg("av_malloc failed");
    std::memcpy(pkt->data, SubtitleOut.get(), size_t(size));
    pkt->pts = ff::av_rescale_q(start, kMicro, ost.St->time_base);
    if (dvb) {
      // Shown at the start, cleared at the end; each packet lasts no time of its own.
      if (i == 1) pkt->pts += ff::av_rescale_q(sub->end_display_time, kMilli, ost.St->time_base);
    } else {
      pkt->duration = ff::av_rescale_q(sub->end_display_time, kMilli, ost.St->time_base);
    }
    pkt->dts = pkt->pts;
    WritePacket(of, ost, pkt.get());
  }
  ost.SyncOpts = ff::av_rescale_q(start, kMicro, ost.Enc->time_base);
  ++ost.FrameNumber;
}

}  // namespace qv
