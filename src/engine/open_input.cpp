// OpenInput: a file through libavformat, or one of the program's own devices for a forced format
// name that the device registry knows.
#include <algorithm>

#include "engine/custom_ffmpeg.h"
#include "media/checked_math.h"
#include "media/ff_utils.h"
#include "media/interrupt.h"
#include "media/protocol_registry.h"
#include "media/unicode_url.h"

namespace qv {

namespace {

struct TDictHolder {
  AVDictionary* D = nullptr;
  ~TDictHolder() {
    if (D) ff::av_dict_free(&D);
  }
};

}  // namespace

std::string LibraryURL(const std::string& fileName) {
  try {
    return FileNameToURL(fileName);
  } catch (const EFileNameTooLong& e) {
    RaiseFFmpeg(e.what());
  }
}

bool TCustomFFmpeg::OpenInput(const std::wstring& fileName) { return OpenInput(WideToUtf8(fileName)); }

bool TCustomFFmpeg::OpenInput(const std::string& fileName) {
  if (int(Inputs.size()) >= MaxFiles) {
    FLastError = Format("Too many input files (at most %d)", MaxFiles);
    return false;
  }
  std::string url;
  try {
    url = LibraryURL(fileName);
  } catch (const FFmpegException& e) {
    FLastError = e.what();
    return false;
  }
  return OpenInputFile(fileName, url);
}

bool TCustomFFmpeg::OpenInputFile(const std::string& fileName, const std::string& url) {
  // The forced format: the program's own devices first, then the library's demuxers.
  const TInputDevice* device = nullptr;
  const AVInputFormat* fmt = nullptr;
  if (!Opt.FormatName.empty()) {
    device = FindInputDevice(Opt.FormatName);
    if (!device) fmt = ff::av_find_input_format(Opt.FormatName.c_str());
    if (!device && !fmt) RaiseFFmpegFmt("Unknown input format: \"%s\"", Opt.FormatName.c_str());
  }

  auto input = std::make_unique<TInputFile>();
  input->FileName = fileName;
  input->URL = url;

  // Decoders named by the pending codec names.
  const AVCodec* videoDecoder = nullptr;
  const AVCodec* audioDecoder = nullptr;
  const AVCodec* subtitleDecoder = nullptr;
  if (!FindCodec(Opt.VideoCodecName, AVMEDIA_TYPE_VIDEO, false, CodecStrictness(AVMEDIA_TYPE_VIDEO), videoDecoder) ||
      !FindCodec(Opt.AudioCodecName, AVMEDIA_TYPE_AUDIO, false, CodecStrictness(AVMEDIA_TYPE_AUDIO), audioDecoder) ||
      !FindCodec(Opt.SubtitleCodecName, AVMEDIA_TYPE_SUBTITLE, false, CodecStrictness(AVMEDIA_TYPE_SUBTITLE),
                 subtitleDecoder))
    return false;

  AVFormatContext* ctx = nullptr;
  {
    TIoWatch watch(*this);  // time-out/cancel watch for the blocking steps below
    if (device) {
      // The device reads (and may overwrite) what the pending options say about the input.
      TFormatParameters ap;
      ap.sample_rate = Opt.AudioSampleRate;
      ap.channels = Opt.AudioChannels;
      if (Opt.FrameRate.num > 0 && Opt.FrameRate.den > 0) ap.time_base = av_inv_q(Opt.FrameRate);
      ap.width = Opt.FrameWidth;
      ap.height = Opt.FrameHeight;
      ap.pix_fmt = AVPixelFormat(Opt.FramePixFmt);
      ap.channel = Opt.VideoChannel;
      ap.standard = Opt.VideoStandard.empty() ? nullptr : Opt.VideoStandard.c_str();
      input->Device = std::make_unique<TDeviceInput>();
      int ret = input->Device->Open(device, input->URL, &ap);
      if (ret < 0) {
        // In the device's words when it gave some; its option string would tell the user nothing.
        const std::string& words = input->Device->ErrorText();
        FLastError = words.empty() ? ErrorCodeText(device->name, ret) : words;
        return false;
      }
      ctx = input->Device->Context();
      ctx->interrupt_callback = ProgramInterruptCB();
      ctx->flags |= AVFMT_FLAG_NONBLOCK;
    } else {
      // A context of our own so the interrupt callback and the generic options are in place
      // before the demuxer starts reading.
      ctx = ff::avformat_alloc_context();
      if (!ctx) RaiseFFmpeg("avformat_alloc_context failed");
      ctx->interrupt_callback = ProgramInterruptCB();
      ctx->flags |= AVFMT_FLAG_NONBLOCK;
      ApplyGenericOptions(Store, ctx, Store.FormatContext, nullptr, AV_OPT_FLAG_DECODING_PARAM);
      // What the old format parameters carried now goes to the demuxer's private options; a demuxer
      // that has no such option leaves the entry unused.
      TDictHolder params;
      if (Opt.AudioSampleRate > 0) ff::av_dict_set_int(&params.D, "sample_rate", Opt.AudioSampleRate, 0);
      if (Opt.AudioChannels > 0) ff::av_dict_set_int(&params.D, "channels", Opt.AudioChannels, 0);
      if (Opt.FrameRate.num > 0 && Opt.FrameRate.den > 0)
        ff::av_dict_set(&params.D, "framerate", Format("%d/%d", Opt.FrameRate.num, Opt.FrameRate.den).c_str(), 0);
      if (Opt.FrameWidth > 0 && Opt.FrameHeight > 0)
        ff::av_dict_set(&params.D, "video_size", Format("%dx%d", Opt.FrameWidth, Opt.FrameHeight).c_str(), 0);
      if (Opt.FramePixFmt >= 0)
        if (const char* n = ff::av_get_pix_fmt_name(AVPixelFormat(Opt.FramePixFmt)))
          ff::av_dict_set(&params.D, "pixel_format", n, 0);
      if (Opt.VideoChannel) ff::av_dict_set_int(&params.D, "channel", Opt.VideoChannel, 0);
      if (!Opt.VideoStandard.empty()) ff::av_dict_set(&params.D, "standard", Opt.VideoStandard.c_str(), 0);

      // Names of the program's own protocols are served through a custom I/O context.
      AVIOContext* custom = nullptr;
      if (FindProtocolForUrl(input->URL)) {
        int ret = OpenProtocolIO(&custom, input->URL, AVIO_FLAG_READ);
        if (ret < 0) {
          ff::avformat_free_context(ctx);
          FLastError = ErrorCodeText(fileName, ret);
          return false;
        }
        ctx->pb = custom;
        ctx->flags |= AVFMT_FLAG_CUSTOM_IO;
      }
      int ret = ff::avformat_open_input(&ctx, input->URL.c_str(), fmt, &params.D);
      if (ret < 0) {
        // The library freed the context; a custom I/O context stays ours.
        CloseProtocolIO(&custom);
        FLastError = ErrorCodeText(fileName, ret);
        return false;
      }
      input->Ctx = ctx;
    }

    // Only the streams of the wanted program.
    if (Opt.OptProgramId) {
      bool found = false;
      for (unsigned i = 0; i < ctx->nb_streams; ++i) ctx->streams[i]->discard = AVDISCARD_ALL;
      for (unsigned p = 0; p < ctx->nb_programs; ++p) {
        const AVProgram* prog = ctx->programs[p];
        if (prog->id != Opt.OptProgramId) continue;
        found = true;
        for (unsigned k = 0; k < prog->nb_stream_indexes; ++k)
          if (prog->stream_index[k] < ctx->nb_streams) ctx->streams[prog->stream_index[k]]->discard = AVDISCARD_DEFAULT;
      }
      if (!found) {
        FLastError = "Specified program id not found";
        return false;  // `input` closes what was opened
      }
    }

    // Probe the streams (a device has described its streams already).
    input->LoopInput = Opt.LoopInput;
    if (OnBeforeFindStreamInfo) OnBeforeFindStreamInfo(ctx);
    if (!input->IsDevice()) {
      watch.Restart();
      if (ff::avformat_find_stream_info(ctx, nullptr) < 0) {
        FLastError = Format("%s: could not find codec parameters", fileName.c_str());
        if (Opt.Verbose >= 0) Log(llError, FLastError);
        return false;
      }
    }

    // Seek to the start time.
    std::int64_t timestamp = Opt.StartTime;
    if (ctx->start_time != AV_NOPTS_VALUE) timestamp = AddTimestamps(timestamp, ctx->start_time);
    if (Opt.StartTime != 0) {
      watch.Restart();
      int ret = input->IsDevice() ? AVERROR(ENOSYS) : ff::av_seek_frame(ctx, -1, timestamp, AVSEEK_FLAG_BACKWARD);
      if (ret < 0 && Opt.Verbose > 0)
        Log(llWarning, Format("%s: could not seek to position %0.3f", fileName.c_str(), double(timestamp) / AV_TIME_BASE));
    }

    // Streams: decoder contexts prepared, pending options replaced by what the input has.
    TPendingOptions found;  // only the fields below are used
    found.FrameRate = Opt.FrameRate;
    found.FrameWidth = Opt.FrameWidth;
    found.FrameHeight = Opt.FrameHeight;
    found.FrameAspectRatio = Opt.FrameAspectRatio;
    found.FramePixFmt = Opt.FramePixFmt;
    found.AudioSampleRate = Opt.AudioSampleRate;
    found.AudioChannels = Opt.AudioChannels;
    found.ChannelLayout = Opt.ChannelLayout;
    found.AudioSampleFmt = Opt.AudioSampleFmt;
    for (unsigned i = 0; i < ctx->nb_streams; ++i) {
      AVStream* st = ctx->streams[i];
      AVCodecParameters* par = st->codecpar;
      const AVCodec* byName = nullptr;
      switch (par->codec_type) {
        case AVMEDIA_TYPE_VIDEO: byName = videoDecoder; break;
        case AVMEDIA_TYPE_AUDIO: byName = audioDecoder; break;
        case AVMEDIA_TYPE_SUBTITLE: byName = subtitleDecoder; break;
        case AVMEDIA_TYPE_DATA:
        case AVMEDIA_TYPE_ATTACHMENT: break;
        default: RaiseFFmpeg("invalid codec_type");
      }
      input->Decoders.push_back(byName);
      const AVCodec* decoder = byName ? byName : ff::avcodec_find_decoder(par->codec_id);
      TCodecContextPtr dec(ff::avcodec_alloc_context3(decoder));
      if (!dec) RaiseFFmpeg("avcodec_alloc_context3 failed");
      if (ff::avcodec_parameters_to_context(dec.get(), par) < 0) RaiseFFmpeg("av_mallocz fail");
      dec->thread_count = Opt.ThreadCount;
      if (par->codec_type == AVMEDIA_TYPE_VIDEO) {
        ApplyGenericOptions(Store, dec.get(), Store.CodecContexts[AVMEDIA_TYPE_VIDEO], decoder,
                            AV_OPT_FLAG_VIDEO_PARAM | AV_OPT_FLAG_DECODING_PARAM);
        found.FrameWidth = par->width;
        found.FrameHeight = par->height;
        AVRational sar = st->sample_aspect_ratio.num ? st->sample_aspect_ratio : par->sample_aspect_ratio;
        if (par->width && par->height)
          found.FrameAspectRatio = sar.num ? av_q2d(sar) * par->width / par->height : double(par->width) / par->height;
        else if (found.FrameAspectRatio == 0)
          found.FrameAspectRatio = 4.0 / 3.0;
        found.FramePixFmt = par->format < 0 ? 0 : par->format;
        if (dec->lowres > 0) {
          found.FrameWidth >>= dec->lowres;
          found.FrameHeight >>= dec->lowres;
        }
        AVRational rfr = st->r_frame_rate;
        AVRational cfr = st->avg_frame_rate;
        if (cfr.num && cfr.den && rfr.num && rfr.den && av_cmp_q(cfr, rfr) != 0 && Opt.Verbose >= 0)
          Log(llInfo, Format("Seems stream %d codec frame rate differs from container frame rate: %2.2f (%d/%d) -> "
                             "%2.2f (%d/%d)",
                             int(i), av_q2d(cfr), cfr.num, cfr.den, av_q2d(rfr), rfr.num, rfr.den));
        if (rfr.num && rfr.den) found.FrameRate = rfr;
        if (Opt.VideoDisable)
          st->discard = AVDISCARD_ALL;
        else if (Opt.VideoDiscard)
          st->discard = AVDiscard(Opt.VideoDiscard);
      } else if (par->codec_type == AVMEDIA_TYPE_AUDIO) {
        ApplyGenericOptions(Store, dec.get(), Store.CodecContexts[AVMEDIA_TYPE_AUDIO], decoder,
                            AV_OPT_FLAG_AUDIO_PARAM | AV_OPT_FLAG_DECODING_PARAM);
        found.ChannelLayout =
            par->ch_layout.order == AV_CHANNEL_ORDER_NATIVE ? std::int64_t(par->ch_layout.u.mask) : 0;
        found.AudioChannels = par->ch_layout.nb_channels;
        found.AudioSampleRate = par->sample_rate >> std::max(0, dec->lowres);
        found.AudioSampleFmt = par->format;
        if (Opt.AudioDisable) st->discard = AVDISCARD_ALL;
      } else if (par->codec_type == AVMEDIA_TYPE_SUBTITLE) {
        if (Opt.SubtitleDisable) st->discard = AVDISCARD_ALL;
      }
      input->DecoderContexts.push_back(std::move(dec));
    }

    // The longest known input is the run's expected length, unless a recording time is shorter.
    if (ctx->duration != AV_NOPTS_VALUE && ctx->duration > 0) {
      std::int64_t d = ctx->duration;
      if (Opt.RecordingTime != kNoLimitTime) d = std::min(d, Opt.RecordingTime);
      if (d > TotalDuration) TotalDuration = d;
    }

    // Offset of the input's timestamps.
    input->InputTsOffset = Opt.CopyTs ? Opt.InputTsOffset : SubtractTimestamps(Opt.InputTsOffset, timestamp);
    std::copy(std::begin(Opt.TsScale), std::end(Opt.TsScale), std::begin(input->TsScale));

    // Success: the input's values replace the pending ones and the per-file options are used up.
    Opt.FrameRate = found.FrameRate;
    Opt.FrameWidth = found.FrameWidth;
    Opt.FrameHeight = found.FrameHeight;
    Opt.FrameAspectRatio = found.FrameAspectRatio;
    Opt.FramePixFmt = found.FramePixFmt;
    Opt.AudioSampleRate = found.AudioSampleRate;
    Opt.AudioChannels = found.AudioChannels;
    Opt.ChannelLayout = found.ChannelLayout;
    Opt.AudioSampleFmt = found.AudioSampleFmt;
  }

  // Dump, count, clear the per-file options.
  if (Opt.Verbose >= 0) {
    if (input->IsDevice()) {
      // The library's dump needs a demuxer of its own; a device's input is described here.
      Log(llInfo, Format("Input #%d, %s, from '%s':", int(Inputs.size()), device->name, fileName.c_str()));
      for (size_t i = 0; i < input->DecoderContexts.size(); ++i) {
        char text[256];
        ff::avcodec_string(text, sizeof(text), input->DecoderContexts[i].get(), 0);
        Log(llInfo, Format("    Stream #%d.%d: %s", int(Inputs.size()), int(i), text));
      }
    } else {
      ff::av_dump_format(ctx, int(Inputs.size()), fileName.c_str(), 0);
    }
  }
  Opt.FormatName.clear();
  Opt.OptProgramId = 0;
  Opt.StartTime = 0;
  Opt.VideoChannel = 0;
  Opt.VideoCodecName.clear();
  Opt.AudioCodecName.clear();
  Opt.SubtitleCodecName.clear();
  std::fill(std::begin(Opt.TsScale), std::end(Opt.TsScale), 0.0);
  Inputs.push_back(std::move(input));
  UseUpGenericOptions(Store);
  return true;
}

}  // namespace qv
