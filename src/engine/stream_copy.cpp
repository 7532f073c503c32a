// Stream copy: packets of a copied stream go to the output with their timestamps moved into the
// output stream's time base; a stream starts with a key frame unless asked otherwise.
#include "engine/custom_ffmpeg.h"

namespace qv {

void TCustomFFmpeg::StreamCopy(TInputStream& ist, TOutputStream& ost, const AVPacket* pkt) {
  if (JoinMode && ost.FileIndex != ist.FileIndex) return;
  if (!(pkt->flags & AV_PKT_FLAG_KEY) && ost.FrameNumber == 0 && !Opt.CopyInitialNonKeyframes) return;
  constexpr AVRational kMicro{1, AV_TIME_BASE};
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
