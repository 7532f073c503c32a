// Stream copy: packets of a copied stream go to the output with their timestamps moved into the
// output stream's time base; a stream starts with a key frame unless asked otherwise. A stream may
// be copied to some outputs and decoded for others: each copy gets every packet.
#include "engine/custom_ffmpeg.h"

namespace qv {

namespace {

constexpr AVRational kMicro{1, AV_TIME_BASE};

// A copied packet's duration in µs: its own, else one audio frame or one video frame.
std::int64_t CopiedDuration(const AVStream* st, const AVPacket* pkt) {
  const AVCodecParameters* par = st->codecpar;
  if (pkt->duration > 0) return ff::av_rescale_q(pkt->duration, st->time_base, kMicro);
  if (par->codec_type == AVMEDIA_TYPE_AUDIO && par->sample_rate > 0)
    return std::int64_t(AV_TIME_BASE) * par->frame_size / par->sample_rate;
  if (par->codec_type == AVMEDIA_TYPE_VIDEO && st->avg_frame_rate.num > 0)
    return ff::av_rescale_q(1, av_inv_q(st->avg_frame_rate), kMicro);
  return 0;
}

}  // namespace

void TCustomFFmpeg::CopyPacket(TInputStream& ist, const AVPacket* pkt) {
  // A stream that is only copied keeps its clock by the packets' durations; a decoded one by its
  // decoder, after this.
  if (!ist.DecodingNeeded) {
    if (ist.NextPts != AV_NOPTS_VALUE) {
      ist.Pts = ist.NextPts;
      ist.NextPts += CopiedDuration(ist.St, pkt);
    }
    if (Opt.RateEmu) EmulateRate(ist);
  }
  if (StartTimeUs != 0 && ist.Pts < StartTimeUs) return;
  // Sound starts at the packet nearest the input's own start (a copied packet cannot be cut);
  // pictures from the key frame the seek found stay, or the first ones could not be decoded.
  const std::int64_t cut = Input(ist.FileIndex).CutStartUs;
  if (cut != kNoCutStart && ist.St->codecpar->codec_type == AVMEDIA_TYPE_AUDIO &&
      ist.Pts + CopiedDuration(ist.St, pkt) / 2 < cut)
    return;
  const int index = int(&ist - Ist.data());
  for (auto& ost : Ost)
    if (ost.SourceIndex == index && !ost.EncodingNeeded) StreamCopy(ist, ost, pkt);
}

void TCustomFFmpeg::StreamCopy(TInputStream& ist, TOutputStream& ost, const AVPacket* pkt) {
  if (JoinMode && ost.FileIndex != ist.FileIndex) return;
  if (!(pkt->flags & AV_PKT_FLAG_KEY) && ost.FrameNumber == 0 && !Opt.CopyInitialNonKeyframes) return;
  const AVRational itb = ist.St->time_base;
  const AVRational otb = ost.St->time_base;
  const std::int64_t startInOut = ff::av_rescale_q(StartTimeUs, kMicro, otb);
  TPacketPtr opkt = NewPacket();
  if (ff::av_packet_ref(opkt.get(), pkt) < 0) RaiseFFmpeg("av_mallocz fail");
  opkt->pts = pkt->pts != AV_NOPTS_VALUE ? ff::av_rescale_q(pkt->pts, itb, otb) - startInOut : AV_NOPTS_VALUE;
  opkt->dts = (pkt->dts == AV_NOPTS_VALUE ? ff::av_rescale_q(ist.Pts, kMicro, otb) : ff::av_rescale_q(pkt->dts, itb, otb)) -
              startInOut;
  opkt->duration = ff::av_rescale_q(pkt->duration, itb, otb);
  opkt->pos = -1;
  if (ost.Info->Kind == AVMEDIA_TYPE_AUDIO)
    AudioSize += pkt->size;
  else if (ost.Info->Kind == AVMEDIA_TYPE_VIDEO)
    VideoSize += pkt->size;
  // The packet-rewriting parser step of older libraries is gone: copied packets go out as they came.
  WritePacket(Output(ost.FileIndex), ost, opkt.get());
  ++ost.FrameNumber;
  ++ist.FrameCount;
}

}  // namespace qv
