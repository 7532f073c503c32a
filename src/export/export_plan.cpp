#include "export/export_plan.h"

#include <algorithm>
#include <filesystem>

#include "export/gif_passes.h"
#include "media/c_numbers.h"

namespace qv {

namespace {

namespace fs = std::filesystem;

std::string Seconds(std::int64_t us) { return FormatDecimal(double(us) / 1e6); }

// The encoder that writes what the recording's decoder reads, so a trimmed copy is made with the
// recording's own settings.
std::string EncoderFor(const std::string& decoder) {
  static const std::pair<const char*, const char*> kEncoders[] = {
      {"h264", "libx264"}, {"opus", "libopus"}, {"libopus", "libopus"}, {"vorbis", "libvorbis"},
      {"mp3float", "libmp3lame"}, {"mp3", "libmp3lame"}};
  for (const auto& [dec, enc] : kEncoders)
    if (decoder == dec) return enc;
  return decoder;
}

constexpr std::int64_t kLeastVideoBitRate = 1600000;

std::string Line(const std::string& name, const std::string& value) { return name + "=" + value + "\n"; }

// The recording's own codecs; H.264 at a quality close to a recording's, quickly, on every core
// (the transcoder's default is one thread, a recording's share beside the capture).
std::string OwnSettings(const TMediaFacts& facts) {
  std::string text = Line("vcodec", EncoderFor(facts.VideoCodec));
  if (facts.VideoCodec == "h264")
    text += Line("crf", "20") + Line("preset", "veryfast") + Line("threads", "0");
  else
    // A recording of a still screen states a tiny average rate; the pictures that do change need
    // the rate the recorder codes them at.
    text += Line("b", std::to_string(std::max<std::int64_t>(facts.VideoBitRate, kLeastVideoBitRate)));
  if (!facts.AudioCodec.empty()) text += Line("acodec", EncoderFor(facts.AudioCodec));
  return text;
}

std::string SharingSettings(const TExportRequest& r, const TMediaFacts& facts) {
  static const char* const kCrf[] = {"18", "23", "28"};
  std::string text = Line("vcodec", "libx264") + Line("crf", kCrf[int(r.Quality)]) + Line("preset", "veryfast") +
                     Line("threads", "0") + Line("pix_fmt", "yuv420p") + Line("movflags", "+faststart");
  const int height = r.Size == TExportSize::Height1080 ? 1080 : r.Size == TExportSize::Height720 ? 720 : 0;
  // Never larger than the recording; H.264 in 4:2:0 wants even sides.
  if (height > 0 && facts.Height > height)
    text += Line("vf", "scale=-2:" + std::to_string(height));
  else
    text += Line("vf", "scale=trunc(iw/2)*2:trunc(ih/2)*2");
  if (!facts.AudioCodec.empty()) text += Line("acodec", "aac") + Line("ab", "128000");
  return text;
}

std::string GifSettings(const TExportRequest& r, const TMediaFacts& facts) {
  const int fps = r.GifFps > 0 ? r.GifFps : 10;
  // Each picture of the GIF shows the source's picture at its own instant, counted from the cut.
  std::string chain = "fps=" + std::to_string(fps) + ":round=up:start_time=0";
  if (r.GifWidth > 0 && r.GifWidth < facts.Width) chain += ",scale=" + std::to_string(r.GifWidth) + ":-1:flags=lanczos";
  return Line("r", std::to_string(fps)) + Line("vf", chain);
}

}  // namespace

std::string ExportFileName(const std::string& source, TExportKind kind) {
  const fs::path src(source);
  const std::string stem = src.stem().string();
  const std::string base = kind == TExportKind::Trim  ? stem + " (trimmed)"
                           : kind == TExportKind::Mp4 ? stem + " (for sharing)"
                                                      : stem;
  const std::string ext = kind == TExportKind::Trim ? src.extension().string() : kind == TExportKind::Mp4 ? ".mp4" : ".gif";
  for (int n = 1;; ++n) {
    const fs::path candidate = src.parent_path() / (base + (n > 1 ? " " + std::to_string(n) : "") + ext);
    std::error_code ec;
    if (!fs::exists(fs::symlink_status(candidate, ec)) && candidate != src) return candidate.string();
  }
}

TExportPlan PlanExport(const TExportRequest& r, const TMediaFacts& facts, const std::string& paletteFile) {
  TExportPlan plan;
  plan.Source = r.Source;
  plan.Output = ExportFileName(r.Source, r.Kind);
  std::int64_t in = std::clamp<std::int64_t>(r.InUs, 0, facts.DurationUs);
  std::int64_t out = r.OutUs < 0 ? facts.DurationUs : std::clamp<std::int64_t>(r.OutUs, in, facts.DurationUs);
  if (r.Kind == TExportKind::Trim) {
    plan.Copies = r.FastAtKeyFrames || (IsKeyFrameAt(facts, in) && IsKeyFrameAt(facts, out));
    if (plan.Copies) {
      in = KeyFrameBefore(facts, in);
      out = KeyFrameAfter(facts, out);
    }
  }
  plan.InUs = in;
  plan.DurationUs = out - in;
  const std::string inputOptions = in > 0 ? Line("ss", Seconds(in)) : "";
  const std::string cut = out < facts.DurationUs ? Line("t", Seconds(out - in)) : "";
  switch (r.Kind) {
    case TExportKind::Trim:
      plan.Passes.push_back({inputOptions, plan.Output,
                             cut + (plan.Copies ? Line("vcodec", "copy") + Line("acodec", "copy") : OwnSettings(facts))});
      break;
    case TExportKind::Mp4:
      plan.Passes.push_back({inputOptions, plan.Output, cut + SharingSettings(r, facts)});
      break;
    case TExportKind::Gif: {
      const TGifPasses gif = PlanGifPasses(cut + GifSettings(r, facts), paletteFile);
      plan.Passes.push_back({inputOptions, paletteFile, gif.PaletteOptions});
      plan.Passes.push_back({inputOptions, plan.Output, gif.PictureOptions});
      break;
    }
  }
  return plan;
}

std::int64_t EstimateGifBytes(const TExportRequest& r, const TMediaFacts& facts) {
  const int width = r.GifWidth > 0 && r.GifWidth < facts.Width ? r.GifWidth : facts.Width;
  const double height = facts.Width > 0 ? double(facts.Height) * width / facts.Width : 0;
  const std::int64_t out = r.OutUs < 0 ? facts.DurationUs : std::min(r.OutUs, facts.DurationUs);
  const double pictures = double(std::max<std::int64_t>(out - r.InUs, 0)) / 1e6 * (r.GifFps > 0 ? r.GifFps : 10);
  // The first picture whole at about a byte a pixel, the others as what changed: on a screen, a
  // tenth of the picture on average.
  return std::int64_t(width * height * (1.0 + 0.1 * std::max(pictures - 1, 0.0)));
}

}  // namespace qv
