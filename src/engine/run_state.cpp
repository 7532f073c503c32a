#include "engine/run_state.h"

#include "engine/ffmpeg_exception.h"

namespace qv {

void TFrameDeleter::operator()(AVFrame* f) const {
  if (f) ff::av_frame_free(&f);
}

void TPacketDeleter::operator()(AVPacket* p) const {
  if (p) ff::av_packet_free(&p);
}

TFramePtr NewFrame() {
  TFramePtr f(ff::av_frame_alloc());
  if (!f) RaiseFFmpeg("av_mallocz fail");
  return f;
}

TPacketPtr NewPacket() {
  TPacketPtr p(ff::av_packet_alloc());
  if (!p) RaiseFFmpeg("av_mallocz fail");
  return p;
}

void FreeInputStream(TInputStream& ist) {
  ist.Decoded.reset();
  if (ist.Parser) {
    ff::av_parser_close(ist.Parser);
    ist.Parser = nullptr;
  }
}

void FreeOutputStream(TOutputStream& ost) {
  for (AVBSFContext*& b : ost.Bsfs) ff::av_bsf_free(&b);
  ost.Bsfs.clear();
  if (ost.ImgResampleCtx) {
    ff::sws_freeContext(ost.ImgResampleCtx);
    ost.ImgResampleCtx = nullptr;
  }
  ost.ResamplePic.reset();
  ost.Filtered.reset();
  ost.LastPicture.reset();
  if (ost.Graph) ff::avfilter_graph_free(&ost.Graph);
  ost.FilterSrc = ost.FilterSink = nullptr;
  ost.ForcedKfPts.clear();
  if (ost.Swr) ff::swr_free(&ost.Swr);
  if (ost.Fifo) {
    ff::av_audio_fifo_free(ost.Fifo);
    ost.Fifo = nullptr;
  }
  ost.Audio.reset();
  if (ost.LogFile) {
    std::fclose(ost.LogFile);
    ost.LogFile = nullptr;
  }
  if (ost.StatsIn) {
    if (ost.Enc && ost.Enc->stats_in == ost.StatsIn) ost.Enc->stats_in = nullptr;
    ff::av_free(ost.StatsIn);
    ost.StatsIn = nullptr;
  }
}

}  // namespace qv
