// Subtitles: decoded from their packets and encoded again into a buffer of 1 MiB; DVB subtitles go
// out twice (show, then clear).
#include "engine/custom_ffmpeg.h"

namespace qv {

namespace {
constexpr int kSubtitleOutSize = 1024 * 1024;
constexpr AVRational kMicro{1, AV_TIME_BASE};
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
  const bool dvb = ost.Enc->codec_id == AV_CODEC_ID_DVB_SUBTITLE;
  const unsigned rects = sub->num_rects;
  for (int i = 0; i < (dvb ? 2 : 1); ++i) {
    sub->pts = pts - StartTimeUs;
    if (i == 1) sub->num_rects = 0;  // the clearing packet
    int size = ff::avcodec_encode_subtitle(ost.Enc, SubtitleOut.get(), kSubtitleOutSize, sub);
    sub->num_rects = rects;
    if (size < 0) RaiseFFmpeg("Subtitle encoding failed");
    TPacketPtr pkt = NewPacket();
    if (ff::av_new_packet(pkt.get(), size) < 0) RaiseFFmpeg("av_malloc failed");
    std::memcpy(pkt->data, SubtitleOut.get(), size_t(size));
    pkt->pts = ff::av_rescale_q(pts - StartTimeUs, kMicro, ost.St->time_base);
    if (dvb) {
      std::uint32_t shown = i == 0 ? sub->start_display_time : sub->end_display_time;
      pkt->pts += ff::av_rescale_q(std::int64_t(90) * shown, AVRational{1, 90000}, ost.St->time_base);
    }
    pkt->dts = pkt->pts;
    WritePacket(of, ost, pkt.get());
  }
  ++ost.FrameNumber;
}

}  // namespace qv
