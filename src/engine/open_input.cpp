// OpenInput: a file through libavformat, or one of the program's own devices for a forced format
// name that the device registry knows. OpenInputFile runs the steps in order; each step says its
// failure through LastError and false, except the two raised ones (an unknown forced format, a
// context the library cannot allocate) and a stream of a kind no input can have.
#include <algorithm>

#include "engine/custom_ffmpeg.h"
#include "engine/option_use.h"
#include "media/checked_math.h"
#include "media/ff_utils.h"
#include "media/fifo_protocol.h"
#include "media/interrupt.h"
#include "media/protocol_registry.h"
#include "media/unicode_url.h"

namespace qv {

// The decoders named by the pending codec names (nullptr: by codec id when the run starts).
struct TInputDecoders {
  const AVCodec* Video = nullptr;
  const AVCodec* Audio = nullptr;
  const AVCodec* Subtitle = nullptr;
};

// What an opened input says about its pictures and sound; replaces the pending values on success.
struct TInputValues {
  AVRational FrameRate{0, 0};
  int FrameWidth = 0, FrameHeight = 0;
  double FrameAspectRatio = 0;
  int FramePixFmt = -1;
  int AudioSampleRate = 0, AudioChannels = 0;
  std::int64_t ChannelLayout = 0;
  int AudioSampleFmt = -1;
};

namespace {

TInputValues PendingValues(const TPendingOptions& opt) {
  TInputValues v;
  v.FrameRate = opt.FrameRate;
  v.FrameWidth = opt.FrameWidth;
  v.FrameHeight = opt.FrameHeight;
  v.FrameAspectRatio = opt.FrameAspectRatio;
  v.FramePixFmt = opt.FramePixFmt;
  v.AudioSampleRate = opt.AudioSampleRate;
  v.AudioChannels = opt.AudioChannels;
  v.ChannelLayout = opt.ChannelLayout;
  v.AudioSampleFmt = opt.AudioSampleFmt;
  return v;
}

bool HasRate(AVRational r) { return r.num > 0 && r.den > 0; }

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
  const TInputDevice* device = nullptr;
  const AVInputFormat* fmt = nullptr;
  ResolveForcedInputFormat(device, fmt);
  TInputDecoders decoders;
  if (!FindInputDecoders(decoders)) return false;

  // A failure below drops `input`, which closes whatever was opened; the pending options stay.
  auto input = std::make_unique<TInputFile>();
  input->FileName = fileName;
  input->URL = url;
  TInputValues found = PendingValues(Opt);
  std::int64_t timestamp = 0;
  {
    TIoWatch watch(*this);  // time-out/cancel watch for the blocking steps
    if (!(device ? OpenDeviceInput(*input, device) : OpenDemuxerInput(*input, fmt))) return false;
    AVFormatContext* ctx = input->Context();
    if (!SelectInputProgram(ctx)) return false;
    if (!ProbeInputStreams(*input, watch)) return false;
    timestamp = SeekInputToStart(*input, watch);
    if (!PrepareInputStreams(*input, decoders, found)) return false;
    NoteInputDuration(*ctx);
  }
  if (!InputTookItsOptions(*input, device)) return false;
  input->InputTsOffset = Opt.CopyTs ? Opt.InputTsOffset : SubtractTimestamps(Opt.InputTsOffset, timestamp);
  if (Opt.StartTime != 0) input->CutStartUs = AddTimestamps(timestamp, input->InputTsOffset);
  TakeStopTime(Opt.StartTime);
  std::copy(std::begin(Opt.TsScale), std::end(Opt.TsScale), std::begin(input->TsScale));

  DumpInput(*input, device);
  TakeInputValues(found);
  ClearPerFileInputOptions();
  Inputs.push_back(std::move(input));
  UseUpGenericOptions(Store);
  return true;
}

void TCustomFFmpeg::ResolveForcedInputFormat(const TInputDevice*& device, const AVInputFormat*& fmt) const {
  // The program's own devices first, then the library's demuxers.
  if (Opt.FormatName.empty()) return;
  device = FindInputDevice(Opt.FormatName);
  if (!device) fmt = ff::av_find_input_format(Opt.FormatName.c_str());
  if (!device && !fmt) RaiseFFmpegFmt("Unknown input format: \"%s\"", Opt.FormatName.c_str());
}

bool TCustomFFmpeg::FindInputDecoders(TInputDecoders& decoders) {
  return FindCodec(Opt.VideoCodecName, AVMEDIA_TYPE_VIDEO, false, CodecStrictness(AVMEDIA_TYPE_VIDEO),
                   decoders.Video) &&
         FindCodec(Opt.AudioCodecName, AVMEDIA_TYPE_AUDIO, false, CodecStrictness(AVMEDIA_TYPE_AUDIO),
                   decoders.Audio) &&
         FindCodec(Opt.SubtitleCodecName, AVMEDIA_TYPE_SUBTITLE, false, CodecStrictness(AVMEDIA_TYPE_SUBTITLE),
                   decoders.Subtitle);
}

bool TCustomFFmpeg::OpenDeviceInput(TInputFile& input, const TInputDevice* device) {
  // The device gets its own copy of what the pending options say about the input.
  TFormatParameters ap;
  ap.sample_rate = Opt.AudioSampleRate;
  ap.channels = Opt.AudioChannels;
  if (HasRate(Opt.FrameRate)) ap.time_base = av_inv_q(Opt.FrameRate);
  ap.width = Opt.FrameWidth;
  ap.height = Opt.FrameHeight;
  ap.pix_fmt = AVPixelFormat(Opt.FramePixFmt);
  ap.channel = Opt.VideoChannel;
  ap.standard = Opt.VideoStandard.empty() ? nullptr : Opt.VideoStandard.c_str();
  input.Device = std::make_unique<TDeviceInput>();
  int ret = input.Device->Open(device, input.URL, &ap);
  if (ret < 0) {
    // In the device's words when it gave some; its option string would tell the user nothing.
    const std::string& words = input.Device->ErrorText();
    FLastError = words.empty() ? ErrorCodeText(device->name, ret) : words;
    return false;
  }
  AVFormatContext* ctx = input.Device->Context();
  ctx->interrupt_callback = ProgramInterruptCB();
  ctx->flags |= AVFMT_FLAG_NONBLOCK;
  return true;
}

TDictPtr TCustomFFmpeg::DemuxerParameters() const {
  // What the old format parameters carried now goes to the demuxer's private options; a demuxer
  // that has no such option leaves the entry unused.
  TDictPtr params;
  if (Opt.AudioSampleRate > 0) ff::av_dict_set_int(InOut(params), "sample_rate", Opt.AudioSampleRate, 0);
  if (Opt.AudioChannels > 0) ff::av_dict_set_int(InOut(params), "channels", Opt.AudioChannels, 0);
  if (HasRate(Opt.FrameRate))
    ff::av_dict_set(InOut(params), "framerate", Format("%d/%d", Opt.FrameRate.num, Opt.FrameRate.den).c_str(), 0);
  if (Opt.FrameWidth > 0 && Opt.FrameHeight > 0)
    ff::av_dict_set(InOut(params), "video_size", Format("%dx%d", Opt.FrameWidth, Opt.FrameHeight).c_str(), 0);
  if (Opt.FramePixFmt >= 0)
    if (const char* n = ff::av_get_pix_fmt_name(AVPixelFormat(Opt.FramePixFmt)))
      ff::av_dict_set(InOut(params), "pixel_format", n, 0);
  if (Opt.VideoChannel) ff::av_dict_set_int(InOut(params), "channel", Opt.VideoChannel, 0);
  if (!Opt.VideoStandard.empty()) ff::av_dict_set(InOut(params), "standard", Opt.VideoStandard.c_str(), 0);
  return params;
}

bool TCustomFFmpeg::OpenDemuxerInput(TInputFile& input, const AVInputFormat* fmt) {
  // A context of our own so the interrupt callback and the generic options are in place before the
  // demuxer starts reading.
  input.Ctx.reset(ff::avformat_alloc_context());
  if (!input.Ctx) RaiseFFmpeg("avformat_alloc_context failed");
  input.Ctx->interrupt_callback = ProgramInterruptCB();
  input.Ctx->flags |= AVFMT_FLAG_NONBLOCK;
  ApplyGenericOptions(Store, input.Ctx.get(), Store.FormatContext, nullptr, AV_OPT_FLAG_DECODING_PARAM);
  TDictPtr params = DemuxerParameters();
  PutFreshOptions(Store, InOut(params));

  // Names of the program's own protocols are served through a custom I/O context, which the
  // context's owner closes with it; so are FIFOs, whose waits must end on a time-out or a stop.
  const std::string fifo = FifoUrl(input.FileName);
  const std::string& ioUrl = fifo.empty() ? input.URL : fifo;
  AVIOContext* custom = nullptr;
  if (FindProtocolForUrl(ioUrl)) {
    int ret = OpenProtocolIO(&custom, ioUrl, AVIO_FLAG_READ);
    if (ret < 0) {
      FLastError = ErrorCodeText(input.FileName, ret);
      return false;
    }
    input.Ctx->pb = custom;
    input.Ctx->flags |= AVFMT_FLAG_CUSTOM_IO;
  }
  const int ret = ff::avformat_open_input(InOut(input.Ctx), input.URL.c_str(), fmt, InOut(params));
  if (ret < 0) {
    // The library freed the context; a custom I/O context stays ours.
    CloseProtocolIO(&custom);
    FLastError = ErrorCodeText(input.FileName, ret);
    return false;
  }
  TakeOptionsMissingFrom(Store, params.get());
  return true;
}

bool TCustomFFmpeg::SelectInputProgram(AVFormatContext* ctx) {
  // Only the streams of the wanted program.
  if (!Opt.OptProgramId) return true;
  bool found = false;
  for (unsigned i = 0; i < ctx->nb_streams; ++i) ctx->streams[i]->discard = AVDISCARD_ALL;
  for (unsigned p = 0; p < ctx->nb_programs; ++p) {
    const AVProgram* prog = ctx->programs[p];
    if (prog->id != Opt.OptProgramId) continue;
    found = true;
    for (unsigned k = 0; k < prog->nb_stream_indexes; ++k)
      if (prog->stream_index[k] < ctx->nb_streams) ctx->streams[prog->stream_index[k]]->discard = AVDISCARD_DEFAULT;
  }
  if (!found) FLastError = "Specified program id not found";
  return found;
}

bool TCustomFFmpeg::ProbeInputStreams(TInputFile& input, TIoWatch& watch) {
  // A device has described its streams already.
  input.LoopInput = Opt.LoopInput;
  if (OnBeforeFindStreamInfo) OnBeforeFindStreamInfo(input.Context());
  if (input.IsDevice()) return true;
  watch.Restart();
  if (ff::avformat_find_stream_info(input.Ctx.get(), nullptr) >= 0) return true;
  FLastError = Format("%s: could not find codec parameters", input.FileName.c_str());
  if (Opt.Verbose >= 0) Log(llError, FLastError);
  return false;
}

std::int64_t TCustomFFmpeg::SeekInputToStart(TInputFile& input, TIoWatch& watch) {
  const AVFormatContext* ctx = input.Context();
  std::int64_t timestamp = Opt.StartTime;
  if (ctx->start_time != AV_NOPTS_VALUE) timestamp = AddTimestamps(timestamp, ctx->start_time);
  if (Opt.StartTime == 0) return timestamp;
  watch.Restart();
  int ret = input.IsDevice() ? AVERROR(ENOSYS) : ff::av_seek_frame(input.Ctx.get(), -1, timestamp, AVSEEK_FLAG_BACKWARD);
  if (ret < 0 && Opt.Verbose > 0)
    Log(llWarning,
        Format("%s: could not seek to position %0.3f", input.FileName.c_str(), double(timestamp) / AV_TIME_BASE));
  return timestamp;
}

bool TCustomFFmpeg::PrepareInputStreams(TInputFile& input, const TInputDecoders& decoders, TInputValues& found) {
  AVFormatContext* ctx = input.Context();
  for (unsigned i = 0; i < ctx->nb_streams; ++i) {
    AVStream* st = ctx->streams[i];
    const AVCodecParameters* par = st->codecpar;
    const AVCodec* byName = nullptr;
    switch (par->codec_type) {
      case AVMEDIA_TYPE_VIDEO: byName = decoders.Video; break;
      case AVMEDIA_TYPE_AUDIO: byName = decoders.Audio; break;
      case AVMEDIA_TYPE_SUBTITLE: byName = decoders.Subtitle; break;
      case AVMEDIA_TYPE_DATA:
      case AVMEDIA_TYPE_ATTACHMENT: break;
      default: RaiseFFmpeg("invalid codec_type");
    }
    input.Decoders.push_back(byName);
    const AVCodec* decoder = byName ? byName : ff::avcodec_find_decoder(par->codec_id);
    TCodecContextPtr dec(ff::avcodec_alloc_context3(decoder));
    if (!dec) RaiseFFmpeg("avcodec_alloc_context3 failed");
    if (ff::avcodec_parameters_to_context(dec.get(), par) < 0) RaiseFFmpeg("av_mallocz fail");
    dec->thread_count = Opt.ThreadCount;
    std::string refused;
    if (par->codec_type == AVMEDIA_TYPE_VIDEO) {
      refused = ApplyGenericOptions(Store, dec.get(), Store.CodecContexts[AVMEDIA_TYPE_VIDEO], decoder,
                                    AV_OPT_FLAG_VIDEO_PARAM | AV_OPT_FLAG_DECODING_PARAM);
      TakeVideoStream(int(i), *st, *dec, found);
    } else if (par->codec_type == AVMEDIA_TYPE_AUDIO) {
      refused = ApplyGenericOptions(Store, dec.get(), Store.CodecContexts[AVMEDIA_TYPE_AUDIO], decoder,
                                    AV_OPT_FLAG_AUDIO_PARAM | AV_OPT_FLAG_DECODING_PARAM);
      TakeAudioStream(*st, *dec, found);
    } else if (par->codec_type == AVMEDIA_TYPE_SUBTITLE) {
      if (Opt.SubtitleDisable) st->discard = AVDISCARD_ALL;
    }
    if (!refused.empty()) {
      FLastError = refused + Format(" of the %s decoder of input stream #%d:%u", decoder ? decoder->name : "unknown",
                                    int(Inputs.size()), i);
      return false;
    }
    input.DecoderContexts.push_back(std::move(dec));
  }
  return true;
}

bool TCustomFFmpeg::InputTookItsOptions(const TInputFile& input, const TInputDevice* device) {
  // Options given before this input are its own: one that neither its reader nor its decoders took
  // would be lost.
  const char* reader = device ? device->name : input.Ctx->iformat->name;
  const std::string refusal = UnusedInputOptionText(Store, reader, int(Inputs.size()));
  if (refusal.empty()) return true;
  FLastError = refusal;
  return false;
}

void TCustomFFmpeg::TakeVideoStream(int index, AVStream& st, const AVCodecContext& dec, TInputValues& found) {
  const AVCodecParameters* par = st.codecpar;
  found.FrameWidth = par->width;
  found.FrameHeight = par->height;
  AVRational sar = st.sample_aspect_ratio.num ? st.sample_aspect_ratio : par->sample_aspect_ratio;
  if (par->width && par->height)
    found.FrameAspectRatio = sar.num ? av_q2d(sar) * par->width / par->height : double(par->width) / par->height;
  else if (found.FrameAspectRatio == 0)
    found.FrameAspectRatio = 4.0 / 3.0;
  found.FramePixFmt = par->format < 0 ? 0 : par->format;
  if (dec.lowres > 0) {
    found.FrameWidth >>= dec.lowres;
    found.FrameHeight >>= dec.lowres;
  }
  AVRational rfr = st.r_frame_rate;
  AVRational cfr = st.avg_frame_rate;
  if (cfr.num && cfr.den && rfr.num && rfr.den && av_cmp_q(cfr, rfr) != 0 && Opt.Verbose >= 0)
    Log(llInfo, Format("Seems stream %d codec frame rate differs from container frame rate: %2.2f (%d/%d) -> "
                       "%2.2f (%d/%d)",
                       index, av_q2d(cfr), cfr.num, cfr.den, av_q2d(rfr), rfr.num, rfr.den));
  if (rfr.num && rfr.den) found.FrameRate = rfr;
  if (Opt.VideoDisable)
    st.discard = AVDISCARD_ALL;
  else if (Opt.VideoDiscard)
    st.discard = AVDiscard(Opt.VideoDiscard);
}

void TCustomFFmpeg::TakeAudioStream(AVStream& st, const AVCodecContext& dec, TInputValues& found) {
  const AVCodecParameters* par = st.codecpar;
  found.ChannelLayout = par->ch_layout.order == AV_CHANNEL_ORDER_NATIVE ? std::int64_t(par->ch_layout.u.mask) : 0;
  found.AudioChannels = par->ch_layout.nb_channels;
  found.AudioSampleRate = par->sample_rate >> std::max(0, dec.lowres);
  found.AudioSampleFmt = par->format;
  if (Opt.AudioDisable) st.discard = AVDISCARD_ALL;
}

void TCustomFFmpeg::NoteInputDuration(const AVFormatContext& ctx) {
  // The longest known input is the run's expected length, unless a recording time is shorter.
  if (ctx.duration == AV_NOPTS_VALUE || ctx.duration <= 0) return;
  std::int64_t d = ctx.duration;
  if (Opt.StartTime > 0) d = std::max<std::int64_t>(d - Opt.StartTime, 0);
  if (Opt.RecordingTime != kNoLimitTime) d = std::min(d, Opt.RecordingTime);
  if (d > TotalDuration) TotalDuration = d;
}

void TCustomFFmpeg::DumpInput(const TInputFile& input, const TInputDevice* device) const {
  if (Opt.Verbose < 0) return;
  const int index = int(Inputs.size());
  if (!input.IsDevice()) {
    ff::av_dump_format(input.Ctx.get(), index, input.FileName.c_str(), 0);
    return;
  }
  // The library's dump needs a demuxer of its own; a device's input is described here.
  Log(llInfo, Format("Input #%d, %s, from '%s':", index, device->name, input.FileName.c_str()));
  for (size_t i = 0; i < input.DecoderContexts.size(); ++i) {
    char text[256];
    ff::avcodec_string(text, sizeof(text), input.DecoderContexts[i].get(), 0);
    Log(llInfo, Format("    Stream #%d.%d: %s", index, int(i), text));
  }
}

void TCustomFFmpeg::TakeInputValues(const TInputValues& found) {
  // The one place an opened input writes into the pending options: its own values replace the
  // pending ones, so the outputs opened next are made for what the input has.
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

void TCustomFFmpeg::ClearPerFileInputOptions() {
  Opt.FormatName.clear();
  Opt.OptProgramId = 0;
  Opt.StartTime = 0;
  Opt.VideoChannel = 0;
  Opt.VideoCodecName.clear();
  Opt.AudioCodecName.clear();
  Opt.SubtitleCodecName.clear();
  std::fill(std::begin(Opt.TsScale), std::end(Opt.TsScale), 0.0);
}

}  // namespace qv
