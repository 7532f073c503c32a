// The video filter graph of an output stream: buffer source "src" fed with decoded pictures (pts in
// µs), the deinterlacer when asked for, an optional scale to the encoder's size, the user's filter
// chain, and a buffer sink "out" that hands out pictures in the encoder's pixel format.
#include "engine/custom_ffmpeg.h"
#include "media/ff_utils.h"

namespace qv {

void TCustomFFmpeg::SetupVideoFilters(TOutputStream& ost, TInputStream& ist) {
  AVCodecContext* enc = ost.Enc;
  AVCodecContext* dec = ist.DecCtx;
  int lastError = 0;
  auto fail = [&](int code) {
    lastError = code;
    if (lastError < 0) RaiseFFmpeg(ErrorCodeText("Error opening filters", lastError));
    RaiseFFmpeg("Error opening filters!");
  };
  ost.Graph.reset(ff::avfilter_graph_alloc());
  if (!ost.Graph) fail(0);
  std::int64_t flags = Opt.SwsFlags;
  if (Store.ScalerContext) ff::av_opt_get_int(Store.ScalerContext, "sws_flags", 0, &flags);

  // Source.
  AVRational sar = dec->sample_aspect_ratio.num ? dec->sample_aspect_ratio : AVRational{1, 1};
  std::string args = Format("video_size=%dx%d:pix_fmt=%d:time_base=%d/%d:pixel_aspect=%d/%d", dec->width,
                            dec->height, int(dec->pix_fmt), 1, AV_TIME_BASE, sar.num, sar.den);
  int ret = ff::avfilter_graph_create_filter(&ost.FilterSrc, ff::avfilter_get_by_name("buffer"), "src", args.c_str(),
                                             nullptr, ost.Graph.get());
  if (ret < 0) fail(ret);

  // Sink that accepts the encoder's pixel format only.
  ost.FilterSink = ff::avfilter_graph_alloc_filter(ost.Graph.get(), ff::avfilter_get_by_name("buffersink"), "out");
  if (!ost.FilterSink) fail(AVERROR(ENOMEM));
  const AVPixelFormat formats[] = {enc->pix_fmt, AV_PIX_FMT_NONE};
  ret = ff::av_opt_set_bin(ost.FilterSink, "pix_fmts", reinterpret_cast<const std::uint8_t*>(formats),
                           int(sizeof(formats[0])), AV_OPT_SEARCH_CHILDREN);
  if (ret < 0) fail(ret);
  ret = ff::avfilter_init_str(ost.FilterSink, nullptr);
  if (ret < 0) fail(ret);

  AVFilterContext* last = ost.FilterSrc;
  // Deinterlacing comes first, on the picture as decoded: every picture out, both fields blended by
  // motion. The graph converts any pixel format the filter does not take.
  if (Opt.DoDeinterlace) {
    AVFilterContext* deint = nullptr;
    ret = ff::avfilter_graph_create_filter(&deint, ff::avfilter_get_by_name("bwdif"), "deinterlace",
                                           "mode=send_frame:parity=auto:deint=all", nullptr, ost.Graph.get());
    if (ret < 0) fail(ret);
    ret = ff::avfilter_link(last, 0, deint, 0);
    if (ret < 0) fail(ret);
    last = deint;
  }
  // Scale to the encoder's size first when it differs.
  if (enc->width != dec->width || enc->height != dec->height) {
    AVFilterContext* scale = nullptr;
    std::string sargs = Format("%d:%d:flags=%d", enc->width, enc->height, int(flags));
    ret = ff::avfilter_graph_create_filter(&scale, ff::avfilter_get_by_name("scale"), "scale", sargs.c_str(), nullptr,
                                           ost.Graph.get());
    if (ret < 0) fail(ret);
    ret = ff::avfilter_link(last, 0, scale, 0);
    if (ret < 0) fail(ret);
    last = scale;
  }
  // Scalers the graph inserts by itself use the same flags.
  ost.Graph->scale_sws_opts = ff::av_strdup(Format("flags=0x%X", unsigned(flags)).c_str());

  // The user's chain between "in" and "out".
  if (!Opt.VFilters.empty()) {
    TFilterInOutPtr outputs(ff::avfilter_inout_alloc());
    TFilterInOutPtr inputs(ff::avfilter_inout_alloc());
    if (!outputs || !inputs) fail(AVERROR(ENOMEM));
    outputs->name = ff::av_strdup("in");
    outputs->filter_ctx = last;
    outputs->pad_idx = 0;
    inputs->name = ff::av_strdup("out");
    inputs->filter_ctx = ost.FilterSink;
    inputs->pad_idx = 0;
    ret = ff::avfilter_graph_parse_ptr(ost.Graph.get(), Opt.VFilters.c_str(), InOut(inputs), InOut(outputs),
                                       nullptr);
    if (ret < 0) fail(ret);
  } else {
    ret = ff::avfilter_link(last, 0, ost.FilterSink, 0);
    if (ret < 0) fail(ret);
  }
  ret = ff::avfilter_graph_config(ost.Graph.get(), nullptr);
  if (ret < 0) fail(ret);
  // The encoder takes the size the chain produces.
  enc->width = ost.FilterSink->inputs[0]->w;
  enc->height = ost.FilterSink->inputs[0]->h;
  ost.Filtered = NewFrame();
}

void TCustomFFmpeg::PushToFilters(TOutputFile& of, TOutputStream& ost, TInputStream& ist, AVFrame* frame) {
  if (frame) {
    TFramePtr in = NewFrame();
    if (ff::av_frame_ref(in.get(), frame) < 0) RaiseFFmpeg("Error opening filters!");
    in->pts = ist.Pts;
    int ret = ff::av_buffersrc_add_frame_flags(ost.FilterSrc, in.get(), 0);
    if (ret < 0) RaiseFFmpeg(ErrorCodeText("Error while feeding the filtergraph", ret));
  } else {
    // End of stream: what the chain still holds comes out below; a refusal leaves nothing to take.
    int ret = ff::av_buffersrc_add_frame_flags(ost.FilterSrc, nullptr, 0);
    if (ret < 0 && ret != AVERROR_EOF) Log(llError, ErrorCodeText("Error while closing the filtergraph", ret));
  }
  const AVRational tb = ff::av_buffersink_get_time_base(ost.FilterSink);
  AVFrame* f = ost.Filtered.get();
  while (ff::av_buffersink_get_frame(ost.FilterSink, f) >= 0) {
    if (f->pts != AV_NOPTS_VALUE) ist.Pts = ff::av_rescale_q(f->pts, tb, AVRational{1, AV_TIME_BASE});
    try {
      DoVideoOut(of, ost, ist, f);
    } catch (...) {
      ff::av_frame_unref(f);
      throw;
    }
    ff::av_frame_unref(f);
  }
}

void TCustomFFmpeg::FlushFilters(TOutputFile& of, TOutputStream& ost, TInputStream& ist) {
  PushToFilters(of, ost, ist, nullptr);
}

}  // namespace qv
