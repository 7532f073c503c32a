// Typed setters the encoder component uses for its option records; each has the effect of the
// option of the same meaning.
#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "engine/custom_ffmpeg.h"
#include "engine/option_values.h"
#include "media/c_numbers.h"

namespace qv {

void TCustomFFmpeg::SetForceFormat(const std::string& name) { Opt.FormatName = name; }

void TCustomFFmpeg::SetRecordingTime(std::int64_t us) {
  if (us == AV_NOPTS_VALUE) return;
  Opt.RecordingTime = us;
  TotalDuration = us;
}

void TCustomFFmpeg::TakeStopTime(std::int64_t startUs) {
  // An end point is the length from the start given with it; a length of its own wins.
  if (Opt.StopTime == kNoLimitTime) return;
  if (Opt.RecordingTime == kNoLimitTime) SetRecordingTime(std::max<std::int64_t>(Opt.StopTime - startUs, 0));
  Opt.StopTime = kNoLimitTime;
}

void TCustomFFmpeg::SetStartTime(std::int64_t us) {
  if (us != AV_NOPTS_VALUE) Opt.StartTime = us;
}

void TCustomFFmpeg::SetProgramId(int id) {
  if (id >= 0) Opt.OptProgramId = id;
}

void TCustomFFmpeg::SetAudioVolume(int volume) {
  if (volume >= 0) Opt.AudioVolume = volume;
}

void TCustomFFmpeg::SetAudioSampleRate(int rate) {
  if (rate > 0) Opt.AudioSampleRate = rate;
}

void TCustomFFmpeg::SetAudioChannels(int channels) {
  if (channels > 0) Opt.AudioChannels = channels;
}

void TCustomFFmpeg::SetAudioSyncMethod(int method) { Opt.AudioSyncMethod = method; }
void TCustomFFmpeg::SetVideoSyncMethod(int method) { Opt.VideoSyncMethod = method; }

void TCustomFFmpeg::SetMuxDelay(double seconds) {
  if (!(seconds > 0)) return;
  CheckRange("muxdelay", seconds, 0, kMaxMuxSeconds);
  Opt.MuxMaxDelay = seconds;
}

void TCustomFFmpeg::SetMuxPreload(double seconds) {
  if (!(seconds > 0)) return;
  CheckRange("muxpreload", seconds, 0, kMaxMuxSeconds);
  Opt.MuxPreload = seconds;
}

void TCustomFFmpeg::SetAudioCodec(const std::string& name) { SetCodecName("acodec", name); }
void TCustomFFmpeg::SetVideoCodec(const std::string& name) { SetCodecName("vcodec", name); }
void TCustomFFmpeg::SetSubtitleCodec(const std::string& name) { SetCodecName("scodec", name); }

void TCustomFFmpeg::SetFrameSize(const std::string& text) {
  int w = 0, h = 0;
  if (ff::av_parse_video_size(&w, &h, text.c_str()) < 0) RaiseFFmpeg("Incorrect frame size");
  // Said now, in the user's terms, rather than as a failed allocation when the run starts.
  if (ff::av_image_check_size(unsigned(w), unsigned(h), 0, nullptr) < 0) RaiseFFmpegFmt("Frame size %dx%d is too large", w, h);
  Opt.FrameWidth = w;
  Opt.FrameHeight = h;
}

void TCustomFFmpeg::SetFrameRate(const std::string& text) {
  AVRational rate{0, 0};
  if (ff::av_parse_video_rate(&rate, text.c_str()) < 0) RaiseFFmpeg("Incorrect frame rate");
  Opt.FrameRate = rate;
}

void TCustomFFmpeg::SetFrameAspectRatio(const std::string& text) {
  double ar = 0;
  auto colon = text.find(':');
  if (colon != std::string::npos) {
    char* end = nullptr;
    long x = std::strtol(text.c_str(), &end, 10);
    if (end == text.c_str() + colon) {
      long y = std::strtol(end + 1, &end, 10);
      if (*end == '\0' && y > 0 && x > 0) ar = double(x) / double(y);
    }
  } else {
    try {
      ar = ParseFloatValue(text);
    } catch (const FFmpegException&) {
      ar = 0;
    }
  }
  // A negative or non-finite ratio cannot describe a picture either.
  if (!(ar > 0) || !std::isfinite(ar)) RaiseFFmpeg("Incorrect aspect ratio specification.");
  Opt.FrameAspectRatio = ar;
}

void TCustomFFmpeg::SetVideoFilters(const std::string& text) { Opt.VFilters = text; }
void TCustomFFmpeg::SetAudioTag(const std::string& text) { SetCodecTag("atag", text); }
void TCustomFFmpeg::SetVideoTag(const std::string& text) { SetCodecTag("vtag", text); }
void TCustomFFmpeg::SetSubtitleTag(const std::string& text) { SetCodecTag("stag", text); }

void TCustomFFmpeg::SetMetadata(const std::string& key, const std::string& value) {
  if (key.empty()) RaiseFFmpeg("wrong parameter of metadata");
  AVDictionary* d = Opt.Metadata.release();
  ff::av_dict_set(&d, key.c_str(), value.c_str(), 0);
  Opt.Metadata.reset(d);
}

void TCustomFFmpeg::SetVerbosity(int level) { Opt.Verbose = level; }

void TCustomFFmpeg::SetPreset(char kind, const std::string& name) { ApplyPreset(kind, name); }

void TCustomFFmpeg::SetGenericNumber(const std::string& name, double value) {
  std::string text;
  if (std::isfinite(value) && value == std::trunc(value) && std::fabs(value) < 9.2e18)
    text = Format("%lld", static_cast<long long>(value));
  else
    text = FormatDecimal(value);
  SetGeneric(name, text);
}

}  // namespace qv
