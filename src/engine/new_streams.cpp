// The output streams OpenOutput creates: codec choice and the encoder context prepared from the
// pending options (opened later, when the run starts). Each new stream uses up the per-stream
// options of its kind.
#include <cmath>
#include <cstdlib>

#include "engine/custom_ffmpeg.h"
#include "engine/option_use.h"

namespace qv {

namespace {

constexpr int kQp2Lambda = FF_QP2LAMBDA;  // 118

// "start,end,q/start,end,q/...": q > 0 a quantiser, q <= 0 a quality factor of -q/100.
void ParseRcOverride(AVCodecContext* enc, const std::string& text) {
  if (text.empty()) return;
  std::vector<RcOverride> list;
  size_t pos = 0;
  while (pos <= text.size()) {
    size_t slash = text.find('/', pos);
    std::string entry = text.substr(pos, slash == std::string::npos ? std::string::npos : slash - pos);
    int start, end, q;
    char tail;
    if (std::sscanf(entry.c_str(), "%d,%d,%d%c", &start, &end, &q, &tail) != 3)
      RaiseFFmpeg("error parsing rc_override");
    RcOverride o{};
    o.start_frame = start;
    o.end_frame = end;
    if (q > 0) {
      o.qscale = q;
      o.quality_factor = 1.0f;
    } else {
      o.qscale = 0;
      o.quality_factor = float(-q) / 100.0f;
    }
    list.push_back(o);
    if (slash == std::string::npos) break;
    pos = slash + 1;
  }
  // The codec context frees this array with the library allocator.
  auto* arr = static_cast<RcOverride*>(ff::av_malloc_array(list.size(), sizeof(RcOverride)));
  if (!arr) RaiseFFmpeg("error parsing rc_override");
  std::copy(list.begin(), list.end(), arr);
  enc->rc_override = arr;
  enc->rc_override_count = int(list.size());
}

uint16_t* CopyMatrix(const TMatrix& m) {
  auto* p = static_cast<uint16_t*>(ff::av_malloc(sizeof(uint16_t) * 64));
  if (!p) RaiseFFmpeg("av_malloc failed");
  std::copy(m.begin(), m.end(), p);
  return p;
}

void SetLanguage(AVStream* st, std::string& language) {
  if (!language.empty()) ff::av_dict_set(&st->metadata, "language", language.c_str(), 0);
  language.clear();
}

// The stream's encoder context, given the generic codec options of its kind. The codec may be
// unknown here (no encoder for the guessed id): opening the stream at the start of the run says so.
AVCodecContext* PrepareEncoder(TOptionStore& store, TOutputStreamInfo& s, const AVCodec* codec, AVCodecID id,
                               int flags) {
  s.Codec = codec;
  s.Enc.reset(ff::avcodec_alloc_context3(codec));
  AVCodecContext* enc = s.Enc.get();
  if (!enc) RaiseFFmpeg("avcodec_alloc_context3 failed");
  enc->codec_type = s.Kind;
  enc->codec_id = id;
  ApplyEncoderOptions(store, s, codec, flags);
  return enc;
}

}  // namespace

// The codec is resolved before the stream exists so a bad name leaves the output unchanged.
void TCustomFFmpeg::ResolveEncoder(const TOutputFile& out, AVMediaType kind, const std::string& name,
                                   const AVCodec*& codec, AVCodecID& id) {
  if (!name.empty()) {
    if (!FindCodec(name, kind, true, CodecStrictness(kind), codec)) RaiseFFmpeg(FLastError);
    id = codec->id;
  } else {
    id = ff::av_guess_codec(out.Ctx->oformat, nullptr, out.URL.c_str(), nullptr, kind);
    codec = ff::avcodec_find_encoder(id);
  }
}

TOutputStreamInfo& TCustomFFmpeg::AddOutputStream(TOutputFile& out, AVMediaType kind) {
  AVStream* st = ff::avformat_new_stream(out.Ctx, nullptr);
  if (!st) RaiseFFmpeg("Could not alloc stream");
  if (size_t(st->index) < Opt.StreamIdMap.size() && Opt.StreamIdMap[size_t(st->index)] >= 0)
    st->id = Opt.StreamIdMap[size_t(st->index)];
  st->codecpar->codec_type = kind;
  TOutputStreamInfo info;
  info.St = st;
  info.Kind = kind;
  out.Streams.push_back(std::move(info));
  return out.Streams.back();
}

void TCustomFFmpeg::NewVideoStream(TOutputFile& out) {
  const AVOutputFormat* fmt = out.Ctx->oformat;
  const AVCodec* codec = nullptr;
  AVCodecID id = AV_CODEC_ID_NONE;
  if (!Opt.VideoStreamCopy) ResolveEncoder(out, AVMEDIA_TYPE_VIDEO, Opt.VideoCodecName, codec, id);
  TOutputStreamInfo& s = AddOutputStream(out, AVMEDIA_TYPE_VIDEO);
  AVStream* st = s.St;
  s.Bsfs = std::move(Opt.VideoBsfs);
  Opt.VideoBsfs.clear();
  if (Opt.VideoStreamCopy) {
    s.StreamCopy = true;
  } else {
    AVCodecContext* enc = PrepareEncoder(Store, s, codec, id, AV_OPT_FLAG_VIDEO_PARAM | AV_OPT_FLAG_ENCODING_PARAM);
    enc->thread_count = Opt.ThreadCount;
    if (Opt.VideoCodecTag) enc->codec_tag = Opt.VideoCodecTag;
    if ((Opt.VideoGlobalHeader & 1) || (Opt.VideoGlobalHeader == 0 && (fmt->flags & AVFMT_GLOBALHEADER)))
      enc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (Opt.VideoGlobalHeader & 2) enc->flags2 |= AV_CODEC_FLAG2_LOCAL_HEADER;

    AVRational rate = Opt.FrameRate.num ? Opt.FrameRate : AVRational{25, 1};
    if (codec && codec->supported_framerates && !Opt.ForceFps)
      rate = codec->supported_framerates[ff::av_find_nearest_q_idx(rate, codec->supported_framerates)];
    enc->framerate = rate;
    enc->time_base = av_inv_q(rate);
    st->time_base = enc->time_base;
    enc->width = Opt.FrameWidth;
    enc->height = Opt.FrameHeight;
    double sar = Opt.FrameWidth && Opt.FrameHeight ? Opt.FrameAspectRatio * Opt.FrameHeight / Opt.FrameWidth
                                                   : Opt.FrameAspectRatio * 3.0 / 4.0;
    enc->sample_aspect_ratio = sar > 0 ? ff::av_d2q(sar, 255) : AVRational{0, 1};
    st->sample_aspect_ratio = enc->sample_aspect_ratio;

    enc->pix_fmt = AVPixelFormat(Opt.FramePixFmt);
    if (codec && codec->pix_fmts) {
      const AVPixelFormat* list = codec->pix_fmts;
      static const AVPixelFormat kJpegFormats[] = {AV_PIX_FMT_YUVJ420P, AV_PIX_FMT_YUVJ422P, AV_PIX_FMT_YUV420P,
                                                   AV_PIX_FMT_YUV422P, AV_PIX_FMT_NONE};
      if (enc->strict_std_compliance <= FF_COMPLIANCE_UNOFFICIAL &&
          (codec->id == AV_CODEC_ID_MJPEG || codec->id == AV_CODEC_ID_LJPEG))
        list = kJpegFormats;
      bool listed = false;
      for (const AVPixelFormat* p = list; *p != AV_PIX_FMT_NONE; ++p)
        if (*p == enc->pix_fmt) listed = true;
      if (!listed) enc->pix_fmt = codec->pix_fmts[0];
    }
    if (Opt.IntraOnly) enc->gop_size = 0;
    if (Opt.VideoQScale != 0 || Opt.SameQuality) {
      enc->flags |= AV_CODEC_FLAG_QSCALE;
      enc->global_quality = int(kQp2Lambda * Opt.VideoQScale);
    }
    if (Opt.IntraMatrix) enc->intra_matrix = CopyMatrix(*Opt.IntraMatrix);
    if (Opt.InterMatrix) enc->inter_matrix = CopyMatrix(*Opt.InterMatrix);
    ParseRcOverride(enc, Opt.VideoRcOverride);
    if (enc->rc_initial_buffer_occupancy == 0) enc->rc_initial_buffer_occupancy = enc->rc_buffer_size * 3 / 4;
    enc->intra_dc_precision = Opt.IntraDcPrecision - 8;
    if (Opt.DoPsnr) enc->flags |= AV_CODEC_FLAG_PSNR;
    if (Opt.DoPass == 1) enc->flags |= AV_CODEC_FLAG_PASS1;
    if (Opt.DoPass == 2) enc->flags |= AV_CODEC_FLAG_PASS2;
    s.ForcedKeyFrames = Opt.ForcedKeyFrames;
  }
  SetLanguage(st, Opt.VideoLanguage);
  Opt.VideoDisable = false;
  Opt.VideoCodecName.clear();
  Opt.VideoStreamCopy = false;
  Opt.ForcedKeyFrames.clear();
  Opt.FramePixFmt = -1;
}

void TCustomFFmpeg::NewAudioStream(TOutputFile& out) {
  const AVOutputFormat* fmt = out.Ctx->oformat;
  const AVCodec* codec = nullptr;
  AVCodecID id = AV_CODEC_ID_NONE;
  if (!Opt.AudioStreamCopy) ResolveEncoder(out, AVMEDIA_TYPE_AUDIO, Opt.AudioCodecName, codec, id);
  TOutputStreamInfo& s = AddOutputStream(out, AVMEDIA_TYPE_AUDIO);
  AVStream* st = s.St;
  s.Bsfs = std::move(Opt.AudioBsfs);
  Opt.AudioBsfs.clear();
  if (Opt.AudioStreamCopy) {
    s.StreamCopy = true;
    st->codecpar->sample_rate = Opt.AudioSampleRate;
    ff::av_channel_layout_default(&st->codecpar->ch_layout, Opt.AudioChannels);
  } else {
    AVCodecContext* enc = PrepareEncoder(Store, s, codec, id, AV_OPT_FLAG_AUDIO_PARAM | AV_OPT_FLAG_ENCODING_PARAM);
    enc->thread_count = Opt.ThreadCount;
    if (Opt.AudioCodecTag) enc->codec_tag = Opt.AudioCodecTag;
    if (fmt->flags & AVFMT_GLOBALHEADER) enc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (Opt.AudioQScale > -99999) {
      enc->flags |= AV_CODEC_FLAG_QSCALE;
      enc->global_quality = int(kQp2Lambda * Opt.AudioQScale);
    }
    // The pending layout only when it has as many channels as asked for.
    ff::av_channel_layout_uninit(&enc->ch_layout);
    if (Opt.ChannelLayout && __builtin_popcountll(std::uint64_t(Opt.ChannelLayout)) == Opt.AudioChannels)
      ff::av_channel_layout_from_mask(&enc->ch_layout, std::uint64_t(Opt.ChannelLayout));
    else
      ff::av_channel_layout_default(&enc->ch_layout, Opt.AudioChannels);
    enc->sample_fmt = AVSampleFormat(Opt.AudioSampleFmt);
    if (codec && codec->sample_fmts) {
      bool listed = false;
      for (const AVSampleFormat* p = codec->sample_fmts; *p != AV_SAMPLE_FMT_NONE; ++p)
        if (*p == enc->sample_fmt) listed = true;
      if (!listed) enc->sample_fmt = codec->sample_fmts[0];
    }
    enc->sample_rate = Opt.AudioSampleRate;
    if (codec && codec->supported_samplerates) {
      int best = codec->supported_samplerates[0];
      for (const int* p = codec->supported_samplerates; *p; ++p)
        if (std::abs(*p - enc->sample_rate) < std::abs(best - enc->sample_rate)) best = *p;
      if (best != enc->sample_rate) {
        Log(llWarning, Format("Requested sampling rate unsupported using closest supported (%d)", best));
        enc->sample_rate = best;
      }
    }
    enc->time_base = AVRational{1, enc->sample_rate > 0 ? enc->sample_rate : 1};
    st->time_base = enc->time_base;
  }
  SetLanguage(st, Opt.AudioLanguage);
  Opt.AudioDisable = false;
  Opt.AudioCodecName.clear();
  Opt.AudioStreamCopy = false;
}

void TCustomFFmpeg::NewSubtitleStream(TOutputFile& out) {
  const AVCodec* codec = nullptr;
  if (!Opt.SubtitleStreamCopy && !Opt.SubtitleCodecName.empty() &&
      !FindCodec(Opt.SubtitleCodecName, AVMEDIA_TYPE_SUBTITLE, true, CodecStrictness(AVMEDIA_TYPE_SUBTITLE), codec))
    RaiseFFmpeg(FLastError);
  TOutputStreamInfo& s = AddOutputStream(out, AVMEDIA_TYPE_SUBTITLE);
  s.Bsfs = std::move(Opt.SubtitleBsfs);
  Opt.SubtitleBsfs.clear();
  if (Opt.SubtitleStreamCopy) {
    s.StreamCopy = true;
  } else {
    AVCodecContext* enc = PrepareEncoder(Store, s, codec, codec ? codec->id : AV_CODEC_ID_NONE,
                                         AV_OPT_FLAG_SUBTITLE_PARAM | AV_OPT_FLAG_ENCODING_PARAM);
    if (Opt.SubtitleCodecTag) enc->codec_tag = Opt.SubtitleCodecTag;
  }
  SetLanguage(s.St, Opt.SubtitleLanguage);
  Opt.SubtitleDisable = false;
  Opt.SubtitleCodecName.clear();
  Opt.SubtitleStreamCopy = false;
}

}  // namespace qv
