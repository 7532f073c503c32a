// Start of a run: codec parameters of every output stream (stream copy or encoding), pass logs,
// opening encoders and decoders through the codec lock, bitstream filters and the output headers.
#include <climits>

#include "engine/custom_ffmpeg.h"
#include "media/codec_lock.h"
#include "media/edge_fill.h"
#include "media/ff_utils.h"

namespace qv {

std::mutex& RunCodecListLock();

namespace {

// A first pass writes about 130 bytes a frame, so this holds some twenty hours of video; a larger
// file was named by mistake and would only fill the memory.
constexpr long kMaxPassLogBytes = 256L << 20;

std::string KindName(AVMediaType t) { return MediaTypeName(int(t)); }

void CopyStreamParameters(TOutputStream& ost, TInputStream& ist, const AVOutputFormat* ofmt, bool copyTb) {
  const AVCodecParameters* ipar = ist.St->codecpar;
  AVCodecParameters* opar = ost.St->codecpar;
  if (std::int64_t(ipar->extradata_size) > std::int64_t(INT_MAX) - AV_INPUT_BUFFER_PADDING_SIZE)
    RaiseFFmpeg("icodec.extradata_size is invalid (too large)");
  if (ff::avcodec_parameters_copy(opar, ipar) < 0) RaiseFFmpeg("av_mallocz fail");
  // The input's tag only where the muxer would not pick a different one for the codec.
  std::uint32_t tag = ipar->codec_tag;
  if (ofmt->codec_tag) {
    const AVCodecTag* const* tables = ofmt->codec_tag;
    unsigned int known = 0;
    bool sameId = ff::av_codec_get_id(tables, tag) == ipar->codec_id;
    bool noTag = ff::av_codec_get_tag2(tables, ipar->codec_id, &known) == 0;
    if (!sameId && !noTag) tag = 0;
  }
  opar->codec_tag = tag;
  // Time base: a fine-grained stream time base is replaced by the frame duration.
  AVRational stb = ist.St->time_base;
  AVRational ctb = ist.St->avg_frame_rate.num && ist.St->avg_frame_rate.den ? av_inv_q(ist.St->avg_frame_rate)
                   : ist.St->r_frame_rate.num && ist.St->r_frame_rate.den ? av_inv_q(ist.St->r_frame_rate)
                                                                          : stb;
  AVRational tb = stb;
  if (!copyTb && av_q2d(stb) < av_q2d(ctb) && av_q2d(stb) < 0.001) {
    tb = ctb;
    ff::av_reduce(&tb.num, &tb.den, tb.num, tb.den, INT_MAX);
  }
  ost.St->time_base = tb;
  if (ipar->codec_type == AVMEDIA_TYPE_AUDIO) {
    // A muxer that times sound by its blocks (AVI) needs the samples a block holds; a demuxer may
    // leave the figure out, and the muxer would then time the blocks by the bit rate, too coarsely.
    if (opar->frame_size <= 0 && opar->block_align > 0)
      opar->frame_size = ff::av_get_audio_frame_duration2(opar, opar->block_align);
    if ((ipar->block_align == 1 && ipar->codec_id == AV_CODEC_ID_MP3) || ipar->codec_id == AV_CODEC_ID_AC3)
      opar->block_align = 0;
  } else if (ipar->codec_type == AVMEDIA_TYPE_VIDEO) {
    ost.St->sample_aspect_ratio = ist.St->sample_aspect_ratio;
    ost.St->avg_frame_rate = ist.St->avg_frame_rate;
  }
}

}  // namespace

void TCustomFFmpeg::SetupCodecParameters() {
  for (size_t i = 0; i < Ost.size(); ++i) {
    TOutputStream& ost = Ost[i];
    TInputStream& ist = Ist[size_t(ost.SourceIndex)];
    TOutputFile& of = Output(ost.FileIndex);
    const AVMediaType kind = ost.Info->Kind;
    const bool firstSegment = !JoinMode || ost.FileIndex == 0;
    if (ost.Info->StreamCopy) {
      if (kind == AVMEDIA_TYPE_AUDIO) {
        if (Opt.AudioVolume != 256) RaiseFFmpeg("-acodec copy and -vol are incompatible (frames are not decoded)");
        if (OnAudioHook) RaiseFFmpeg("-acodec copy and AudioHook are incompatible (frames are not decoded)");
      } else if (kind == AVMEDIA_TYPE_VIDEO) {
        if (OnVideoInputHook || OnVideoOutputHook)
          RaiseFFmpeg("-vcodec copy and VideoHook are incompatible (frames are not decoded)");
        if (!FrameHooks.empty()) RaiseFFmpeg("-vcodec copy and -vhook are incompatible (frames are not decoded)");
        if (PreviewFlags()) RaiseFFmpeg("-vcodec copy and PostHooks are incompatible (frames are not decoded)");
      } else if (kind != AVMEDIA_TYPE_SUBTITLE) {
        RaiseFFmpeg("invalid codec_type of output stream");
      }
      if (firstSegment) CopyStreamParameters(ost, ist, of.Ctx->oformat, Opt.CopyTb);
      continue;
    }
    if (!ost.Enc) RaiseFFmpeg("invalid codec_type of output stream");
    ost.EncodingNeeded = true;
    ist.DecodingNeeded = true;
    AVCodecContext* enc = ost.Enc;
    AVCodecContext* dec = ist.DecCtx;
    switch (kind) {
      case AVMEDIA_TYPE_AUDIO:
        SetupAudioStream(ost, ist);
        break;
      case AVMEDIA_TYPE_VIDEO: {
        if (enc->pix_fmt == AV_PIX_FMT_NONE) RaiseFFmpeg("Video pixel format is unknown, stream cannot be encoded");
        if (!dec) RaiseFFmpeg("Video pixel format is unknown, stream cannot be encoded");
        if (firstSegment && (enc->width <= 0 || enc->height <= 0)) {
          enc->width = dec->width;
          enc->height = dec->height;
        }
        SetPictureSize(ost, firstSegment);
        ost.ResampleWidth = dec->width;
        ost.ResampleHeight = dec->height;
        ost.ResamplePixFmt = dec->pix_fmt;
        ost.VideoResample = enc->width != dec->width || enc->height != dec->height || enc->pix_fmt != dec->pix_fmt;
        ost.OriginalCodecId = enc->codec_id;
        if (!Opt.VFilters.empty() || Opt.DoDeinterlace) {
          SetupVideoFilters(ost, ist);
        } else if (ost.VideoResample) {
          ost.ResamplePic = NewFrame();
          ost.ResamplePic->format = enc->pix_fmt;
          ost.ResamplePic->width = enc->width;
          ost.ResamplePic->height = enc->height;
          if (ff::av_frame_get_buffer(ost.ResamplePic.get(), 0) < 0)
            RaiseFFmpegFmt("Cannot allocate a %dx%d picture of pixel format %s", enc->width, enc->height,
                           ff::av_get_pix_fmt_name(enc->pix_fmt) ? ff::av_get_pix_fmt_name(enc->pix_fmt) : "none");
          if (dec->pix_fmt == AV_PIX_FMT_NONE || dec->width <= 0 || dec->height <= 0)
            RaiseFFmpeg("Video pixel format is unknown, stream cannot be encoded");
          ost.ImgResampleCtx.reset(ff::sws_getContext(dec->width, dec->height, dec->pix_fmt, ost.PictureWidth,
                                                      ost.PictureHeight, enc->pix_fmt, ScalerFlags(), nullptr, nullptr,
                                                      nullptr));
          if (!ost.ImgResampleCtx) RaiseFFmpeg("Cannot get resampling context");
        }
        if (!ost.Info->ForcedKeyFrames.empty()) {
          const std::string& text = ost.Info->ForcedKeyFrames;
          size_t pos = 0;
          for (;;) {
            size_t comma = text.find(',', pos);
            std::string one = text.substr(pos, comma == std::string::npos ? std::string::npos : comma - pos);
            std::int64_t t = 0;
            if (ff::av_parse_time(&t, one.c_str(), 1) < 0)
              RaiseFFmpegFmt("Invalid duration specification for force_key_frames: %s", one.c_str());
            ost.ForcedKfPts.push_back(ff::av_rescale_q(t, AVRational{1, AV_TIME_BASE}, enc->time_base));
            if (comma == std::string::npos) break;
            pos = comma + 1;
          }
        }
        break;
      }
      case AVMEDIA_TYPE_SUBTITLE:
        // Its position counts in the choice of the next input: without a time base it would read 0
        // for ever and always be chosen.
        if (enc->time_base.num <= 0 || enc->time_base.den <= 0) enc->time_base = AVRational{1, AV_TIME_BASE};
        break;
      default:
        RaiseFFmpeg("invalid codec_type of output stream");
    }
    // Two-pass statistics: one log per output stream.
    if (firstSegment && kind == AVMEDIA_TYPE_VIDEO && (enc->flags & (AV_CODEC_FLAG_PASS1 | AV_CODEC_FLAG_PASS2))) {
      std::string prefix = Opt.PassLogFileName.empty() ? "ffmpeg2pass" : Opt.PassLogFileName;
      ost.PassLogName = Format("%s-%d.log", prefix.c_str(), int(i));
      if (enc->flags & AV_CODEC_FLAG_PASS1) {
        ost.LogFile.reset(std::fopen(ost.PassLogName.c_str(), "wb"));
        if (!ost.LogFile) RaiseFFmpegFmt("Cannot write log file %s for pass-1 encoding", ost.PassLogName.c_str());
      } else {
        int size = 0;
        int r = ReadFile(ost.PassLogName, ost.StatsIn, size, kMaxPassLogBytes);
        if (r == -27)
          RaiseFFmpegFmt("Log file \"%s\" for pass-2 encoding is larger than %ld MB; it is not a first pass's log",
                         ost.PassLogName.c_str(), kMaxPassLogBytes >> 20);
        if (r == -12)
          RaiseFFmpegFmt("Could not allocate file buffer: Error reading log file \"%s\" for pass-2 encoding",
                         ost.PassLogName.c_str());
        if (r < 0)
          RaiseFFmpegFmt("Cannot read file: Error reading log file \"%s\" for pass-2 encoding", ost.PassLogName.c_str());
        enc->stats_in = reinterpret_cast<char*>(ost.StatsIn.get());
      }
    }
  }
}

// With `edge_pad` a picture keeps the size asked for (or its own) and the coded frame around it is
// rounded up to the whole colour blocks the encoder takes; said once, since the file's size then
// differs from the one asked for. A filter chain gives the encoder its size itself. Later segments of
// a join code into the first one's encoder.
void TCustomFFmpeg::SetPictureSize(TOutputStream& ost, bool firstSegment) {
  AVCodecContext* enc = ost.Enc;
  if (!firstSegment) {
    ost.PictureWidth = Ost[size_t(ost.Index)].PictureWidth;
    ost.PictureHeight = Ost[size_t(ost.Index)].PictureHeight;
    return;
  }
  ost.PictureWidth = enc->width;
  ost.PictureHeight = enc->height;
  if (!Opt.EdgePad || !Opt.VFilters.empty() || Opt.DoDeinterlace || !CanRepeatEdges(enc->pix_fmt)) return;
  const AVPixFmtDescriptor* d = ff::av_pix_fmt_desc_get(enc->pix_fmt);
  const int blockW = 1 << d->log2_chroma_w, blockH = 1 << d->log2_chroma_h;
  const int width = (enc->width + blockW - 1) / blockW * blockW, height = (enc->height + blockH - 1) / blockH * blockH;
  if (width == enc->width && height == enc->height) return;
  Log(llInfo, Format("The %dx%d picture is coded as %dx%d (%s codes colour in %dx%d blocks); the added pixels repeat "
                     "the picture's edge",
                     enc->width, enc->height, width, height, d->name, blockW, blockH));
  enc->width = width;
  enc->height = height;
}

void TCustomFFmpeg::OpenCodecs() {
  // Decoders of the streams that feed an encoder, first: a subtitle decoder makes the header its
  // encoder is opened with.
  for (auto& ist : Ist) {
    if (!ist.DecodingNeeded) continue;
    const std::string kind = KindName(ist.St->codecpar->codec_type);
    if (!ist.Dec || !ist.DecCtx)
      RaiseFFmpegFmt("Decoder (codec id %d) not found for input stream #%d.%d (%s)", int(ist.St->codecpar->codec_id),
                     ist.FileIndex, ist.StreamIndex, kind.c_str());
    ist.DecCtx->pkt_timebase = ist.St->time_base;
    int ret;
    {
      std::lock_guard<std::mutex> lock(RunCodecListLock());
      ret = OpenCodec(ist.DecCtx, ist.Dec, nullptr);
      if (ret >= 0) OpenDecoders.push_back(ist.DecCtx);
    }
    if (ret < 0)
      RaiseFFmpegFmt("Error while opening decoder for input stream #%d.%d (%s)", ist.FileIndex, ist.StreamIndex,
                     kind.c_str());
    ist.DecoderOpen = true;
    ist.Decoded = NewFrame();
  }

  // Encoders (in join mode only the first segment's; later segments go on with them).
  for (auto& ost : Ost) {
    if (!ost.EncodingNeeded || (JoinMode && ost.FileIndex > 0)) continue;
    AVCodecContext* enc = ost.Enc;
    const AVCodec* codec = ost.Codec ? ost.Codec : ff::avcodec_find_encoder(enc->codec_id);
    const std::string kind = KindName(ost.Info->Kind);
    if (!codec) {
      std::string msg = Format("Encoder (codec id %d) not found for output stream #%d.%d (%s)", int(enc->codec_id),
                               ost.FileIndex, ost.Index, kind.c_str());
      DumpStreamMapping();
      Log(llError, msg);
      RaiseFFmpeg(msg);
    }
    TInputStream& ist = Ist[size_t(ost.SourceIndex)];
    if (ist.DecCtx && ist.DecCtx->subtitle_header && !enc->subtitle_header) {
      enc->subtitle_header = static_cast<std::uint8_t*>(ff::av_mallocz(size_t(ist.DecCtx->subtitle_header_size) + 1));
      if (!enc->subtitle_header) RaiseFFmpeg("av_malloc failed");
      std::memcpy(enc->subtitle_header, ist.DecCtx->subtitle_header, size_t(ist.DecCtx->subtitle_header_size));
      enc->subtitle_header_size = ist.DecCtx->subtitle_header_size;
    }
    PrepareFollowLoad(ost, codec);
    int ret;
    {
      std::lock_guard<std::mutex> lock(RunCodecListLock());
      ret = OpenCodec(enc, codec, nullptr);
      if (ret >= 0) OpenEncoders.push_back(enc);
    }
    if (ret < 0) {
      std::string msg = Format(
          "Error while opening encoder for output stream #%d.%d (%s) - maybe incorrect parameters such as bit_rate, "
          "rate, width or height. Please check error log message to find out more detail information.",
          ost.FileIndex, ost.Index, kind.c_str());
      DumpStreamMapping();
      Log(llError, msg);
      RaiseFFmpeg(msg);
    }
    ost.EncoderOpen = true;
    ExtraSize += enc->extradata_size;
    if (ff::avcodec_parameters_from_context(ost.St->codecpar, enc) < 0) RaiseFFmpeg("av_mallocz fail");
    ost.St->time_base = enc->time_base;
    if (ost.Info->Kind == AVMEDIA_TYPE_VIDEO) ost.St->avg_frame_rate = enc->framerate;
  }
  for (auto& ost : Ost)
    if (JoinMode && ost.FileIndex > 0 && ost.EncodingNeeded) ost.EncoderOpen = Ost[size_t(ost.Index)].EncoderOpen;

  // Bitstream-filter chains, from the stream's final parameters.
  for (auto& ost : Ost) {
    if (JoinMode && ost.FileIndex > 0) continue;
    AVCodecParameters* par = ost.St->codecpar;
    AVRational tb = ost.EncodingNeeded ? ost.Enc->time_base : ost.St->time_base;
    for (const AVBitStreamFilter* f : ost.Info->Bsfs) {
      AVBSFContext* bsf = nullptr;
      if (ff::av_bsf_alloc(f, &bsf) < 0) RaiseFFmpeg("av_mallocz fail");
      ost.Bsfs.emplace_back(bsf);
      if (ff::avcodec_parameters_copy(bsf->par_in, par) < 0) RaiseFFmpeg("av_mallocz fail");
      bsf->time_base_in = tb;
      int r = ff::av_bsf_init(bsf);
      if (r < 0) RaiseFFmpeg(ErrorCodeText(Format("Error initializing bitstream filter %s", f->name), r));
      par = bsf->par_out;
      tb = bsf->time_base_out;
    }
    if (!ost.Bsfs.empty() && ff::avcodec_parameters_copy(ost.St->codecpar, par) < 0)
      RaiseFFmpeg("av_mallocz fail");
  }
}

void TCustomFFmpeg::WriteHeaders() {
  bool allRtp = OutputCount() > 0;
  for (int k = 0; k < OutputCount(); ++k) {
    TOutputFile& out = Output(k);
    if (!out.Owner) continue;
    if (std::strcmp(out.Ctx->oformat->name, "rtp") != 0) allRtp = false;
    int ret = ff::avformat_write_header(out.Ctx, nullptr);
    if (ret < 0) {
      DumpStreamMapping();
      std::string msg = Format("Could not write header for output file #%d (incorrect codec parameters ?)", k);
      Log(llError, msg);
      RaiseFFmpeg(msg);
    }
    CommitOutput(out);
  }
  if (allRtp) {
    std::vector<AVFormatContext*> list;
    for (int k = 0; k < OutputCount(); ++k) list.push_back(Output(k).Ctx);
    char sdp[2048];
    if (ff::av_sdp_create(list.data(), int(list.size()), sdp, sizeof(sdp)) >= 0) {
      std::string text(sdp);
      while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.pop_back();
      Log(llInfo, "SDP:\r\n" + text);
    }
  }
}

}  // namespace qv
