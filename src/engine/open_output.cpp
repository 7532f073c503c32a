// OpenOutput and PrepareJoin: the output file's context, its streams and the opened file.
#include <ctime>
#include <filesystem>
#include <system_error>

#include "engine/custom_ffmpeg.h"
#include "engine/option_use.h"
#include "engine/output_guard.h"
#include "media/ff_utils.h"
#include "media/interrupt.h"
#include "media/protocol_registry.h"
#include "media/unicode_url.h"

namespace qv {

int TCustomFFmpeg::OpenOutput(const std::wstring& fileName, bool join) { return OpenOutput(WideToUtf8(fileName), join); }

int TCustomFFmpeg::OpenOutput(const std::string& fileName, bool join) {
  if (JoinMode) {
    FLastError = "Cannot join more than one output file.";
    return -1;
  }
  if (int(Outputs.size()) >= MaxFiles) {
    FLastError = Format("Too many output files (at most %d)", MaxFiles);
    return -1;
  }
  try {
    RefuseOutputThatIsAnInput(*this, fileName);
    return OpenOutputFile(fileName, LibraryURL(fileName), join);
  } catch (const FFmpegException& e) {
    FLastError = e.what();
    return -1;
  }
}

int TCustomFFmpeg::OpenOutputFile(const std::string& fileName, const std::string& url, bool join) {
  TakeStopTime(Opt.StartTime);
  // The muxer: forced by name, else guessed from the file name.
  const AVOutputFormat* fmt;
  if (!Opt.FormatName.empty()) {
    fmt = ff::av_guess_format(Opt.FormatName.c_str(), nullptr, nullptr);
    if (!fmt) {
      FLastError = Format("Requested output format '%s' is not a suitable output format", Opt.FormatName.c_str());
      return -1;
    }
  } else {
    fmt = ff::av_guess_format(nullptr, fileName.c_str(), nullptr);
    if (!fmt) {
      FLastError = Format("Unable to find a suitable output format for '%s'", fileName.c_str());
      return -1;
    }
  }
  // The context (with the muxer's private options in place).
  auto out = std::make_unique<TOutputFile>();
  AVFormatContext* ctx = nullptr;
  if (ff::avformat_alloc_output_context2(&ctx, fmt, nullptr, url.c_str()) < 0 || !ctx)
    RaiseFFmpeg("avformat_alloc_context failed");
  out->OwnedCtx.reset(ctx);
  out->Ctx = ctx;
  out->FileName = fileName;
  out->URL = url;
  ctx->interrupt_callback = ProgramInterruptCB();

  // Feed outputs ("ffm" over "http:") are gone from current libavformat: av_guess_format above
  // already refuses the "ffm" name, so the feed's stream layout step has nothing left to serve.

  // Stream kinds: what the muxer or the pending options ask for, kept only where an input has it.
  bool useVideo = Opt.VideoStreamCopy || fmt->video_codec != AV_CODEC_ID_NONE || !Opt.VideoCodecName.empty();
  bool useAudio = Opt.AudioStreamCopy || fmt->audio_codec != AV_CODEC_ID_NONE || !Opt.AudioCodecName.empty();
  bool useSubtitle =
      Opt.SubtitleStreamCopy || fmt->subtitle_codec != AV_CODEC_ID_NONE || !Opt.SubtitleCodecName.empty();
  if (!Inputs.empty()) {
    bool hasVideo = false, hasAudio = false, hasSubtitle = false;
    const size_t deciding = join ? 1 : Inputs.size();
    for (size_t i = 0; i < deciding; ++i) {
      AVFormatContext* ic = Inputs[i]->Context();
      for (unsigned s = 0; ic && s < ic->nb_streams; ++s) {
        switch (ic->streams[s]->codecpar->codec_type) {
          case AVMEDIA_TYPE_VIDEO: hasVideo = true; break;
          case AVMEDIA_TYPE_AUDIO: hasAudio = true; break;
          case AVMEDIA_TYPE_SUBTITLE: hasSubtitle = true; break;
          case AVMEDIA_TYPE_DATA:
          case AVMEDIA_TYPE_ATTACHMENT: break;
          default:
            FLastError = "check_audio_video_sub_inputs fail: invalid codec_type of input file";
            return -1;
        }
      }
    }
    useVideo = useVideo && hasVideo;
    useAudio = useAudio && hasAudio;
    useSubtitle = useSubtitle && hasSubtitle;
  }
  if (Opt.VideoDisable) useVideo = false;
  if (Opt.AudioDisable) useAudio = false;
  if (Opt.SubtitleDisable) useSubtitle = false;

  // The streams.
  struct {
    bool Use;
    void (TCustomFFmpeg::*Make)(TOutputFile&);
    const char* What;
  } const kinds[] = {{useVideo, &TCustomFFmpeg::NewVideoStream, "new_video_stream fail: %s"},
                     {useAudio, &TCustomFFmpeg::NewAudioStream, "new_audio_stream fail: %s"},
                     {useSubtitle, &TCustomFFmpeg::NewSubtitleStream, "new_subtitle_stream fail: %s"}};
  for (const auto& k : kinds) {
    if (!k.Use) continue;
    try {
      (this->*k.Make)(*out);
    } catch (const FFmpegException& e) {
      FLastError = Format(k.What, e.what());
      return -1;
    }
  }

  // Recording timestamp and metadata.
  if (Opt.RecordingTimestamp != 0) {
    std::time_t t = std::time_t(Opt.RecordingTimestamp);
    std::tm tm{};
    gmtime_r(&t, &tm);
    char text[32];
    std::strftime(text, sizeof(text), "%Y-%m-%dT%H:%M:%S.000000Z", &tm);
    ff::av_dict_set(&ctx->metadata, "creation_time", text, 0);
  }
  if (Opt.Metadata) ff::av_dict_copy(&ctx->metadata, Opt.Metadata.get(), 0);

  // Image-sequence muxers need a number pattern in the name.
  if ((fmt->flags & AVFMT_NEEDNUMBER) && !ff::av_filename_number_test(url.c_str())) {
    FLastError = ErrorCodeText(fileName, -33);  // "Number syntax expected in filename"
    return -1;
  }

  // Muxing parameters (applied before the file is opened so a refused option leaves no file).
  ctx->max_delay = int(Opt.MuxMaxDelay * AV_TIME_BASE);
  ctx->flags |= AVFMT_FLAG_NONBLOCK;
  // The preload and the loop count moved into the muxers that use them.
  ff::av_opt_set_int(ctx, "preload", std::int64_t(Opt.MuxPreload * AV_TIME_BASE), AV_OPT_SEARCH_CHILDREN);
  if (Opt.LoopOutput >= 0) ff::av_opt_set_int(ctx, "loop", Opt.LoopOutput, AV_OPT_SEARCH_CHILDREN);
  out->LoopOutput = Opt.LoopOutput;
  ApplyMuxerOptions(Store, *out, int(Outputs.size()));

  // The file itself, under the time-out/cancel watch.
  if (!(fmt->flags & AVFMT_NOFILE)) {
    std::error_code missing;
    out->Created = std::filesystem::symlink_status(fileName, missing).type() == std::filesystem::file_type::not_found;
    TIoWatch watch(*this);
    int ret = Opt.CrashSafe ? OpenCrashSafe(*out)
              : FindProtocolForUrl(url)
                  ? OpenProtocolIO(&ctx->pb, url, AVIO_FLAG_WRITE)
                  : ff::avio_open2(&ctx->pb, url.c_str(), AVIO_FLAG_WRITE, &ctx->interrupt_callback, nullptr);
    if (ret < 0) {
      ctx->pb = nullptr;
      FLastError = ErrorCodeText(fileName, ret);
      return -1;
    }
  }

  // The output is in; per-file options are used up.
  Opt.FormatName.clear();
  Opt.Metadata.reset();
  Opt.StreamIdMap.clear();
  Opt.ForcedKeyFrames.clear();
  Outputs.push_back(std::move(out));
  if (join && Inputs.size() > 1) JoinMode = true;
  return int(Outputs.size()) - 1;
}

int TCustomFFmpeg::OpenCrashSafe(TOutputFile& out) {
  // The program writes the file itself, so the name is the file system's, never a library URL.
  int ret = 0;
  out.CrashSafe = TCrashSafeFile::Create(out.FileName, ret);
  if (!out.CrashSafe) return ret;
  out.Ctx->pb = out.CrashSafe->IO();
  out.Ctx->flags |= AVFMT_FLAG_CUSTOM_IO;
  return 0;
}

void TCustomFFmpeg::CommitOutput(const TOutputFile& out) {
  TCrashSafeFile* file = TCrashSafeFile::Of(out.Ctx->pb);
  if (!file) return;
  if (int ret = file->Commit(); ret < 0) RaiseFFmpeg(ErrorCodeText(out.FileName, ret));
}

void TCustomFFmpeg::PrepareJoin() {
  if (!JoinMode || Outputs.empty()) return;
  std::int64_t total = 0;
  bool known = false;
  for (const auto& in : Inputs) {
    AVFormatContext* ic = in->Context();
    if (ic && ic->duration != AV_NOPTS_VALUE && ic->duration > 0) {
      total += ic->duration;
      known = true;
    }
  }
  TotalDuration = known ? total : -1;

  // Slot k takes the streams of input k; the file, its header and trailer exist once (slot 0).
  TOutputFile& base = *Outputs.back();
  for (size_t k = 1; k < Inputs.size(); ++k) {
    auto slot = std::make_unique<TOutputFile>();
    slot->Ctx = base.Ctx;
    slot->Owner = false;
    slot->FileName = base.FileName;
    slot->URL = base.URL;
    slot->LoopOutput = base.LoopOutput;
    for (const auto& s : base.Streams) {
      TOutputStreamInfo copy;
      copy.St = s.St;
      copy.Kind = s.Kind;
      copy.Codec = s.Codec;
      copy.StreamCopy = s.StreamCopy;
      copy.Bsfs = s.Bsfs;
      copy.ForcedKeyFrames = s.ForcedKeyFrames;
      slot->Streams.push_back(std::move(copy));
    }
    Outputs.push_back(std::move(slot));
  }
}

void TCustomFFmpeg::AddStreamToLastOutput(AVMediaType kind) {
  if (Outputs.empty()) RaiseFFmpeg("At least one output file must be specified");
  TOutputFile& out = *Outputs.back();
  if (kind == AVMEDIA_TYPE_VIDEO)
    NewVideoStream(out);
  else if (kind == AVMEDIA_TYPE_AUDIO)
    NewAudioStream(out);
  else
    NewSubtitleStream(out);
}

void TCustomFFmpeg::CloseFiles() {
  // Join slots borrow the first slot's context: drop them before their owner.
  while (!Outputs.empty()) Outputs.pop_back();
  while (!Inputs.empty()) Inputs.pop_back();
  JoinMode = false;
}

}  // namespace qv
