#include "recording/recording_request.h"

#include "capture/sound_sources.h"

namespace qv {

namespace {

std::string Pair(int a, int b) { return std::to_string(a) + "," + std::to_string(b); }

// Both devices learn which slots changed: the X11 one from X DAMAGE, the PipeWire one from the
// stream, which sends a picture only when the screen changed.
std::string UnchangedSlots(const TRecordingRequest& request) {
  return std::string(";skipunchanged=") + (request.EveryFrame ? "0" : "1");
}

// The presses come from XInput 2, which only the X11 device reads; so does the pointer's place.
std::string ClickRings(const TRecordingRequest& request) {
  if (request.Backend != TCaptureBackend::X11) return "";
  return std::string(request.ShowClicks ? ";showclicks=1" : "") + (request.Spotlight ? ";spotlight=1" : "");
}

// Keys too are read through XInput 2. A font family never holds ";" in practice; one that did
// would end the segment, so it is cut there.
std::string KeyLabels(const TRecordingRequest& request) {
  if (!request.ShowKeys || request.Backend != TCaptureBackend::X11) return "";
  const TKeysChoice& keys = *request.ShowKeys;
  std::string text = ";showkeys=" + std::to_string(static_cast<int>(keys.Mode)) +
                     ";keyscorner=" + std::to_string(static_cast<int>(keys.Corner));
  if (!keys.Family.empty()) text += ";keysfont=" + keys.Family.substr(0, keys.Family.find(';'));
  return text;
}

std::string ScreenOptions(const TRecordingRequest& request, std::intptr_t session) {
  const TRecordingArea& area = request.Area;
  // A window's own area, not the window manager's frame: the title bar is not what was picked. The
  // portal's window is picked in the desktop's dialog, and its stream is the window alone.
  const bool portalWindow = area.Kind == TAreaKind::Window && request.Backend == TCaptureBackend::PipeWire;
  const std::string where = portalWindow ? "portalwindow=1"
                            : area.Kind == TAreaKind::Window
                                ? "hwnd=" + std::to_string(area.Window) + ";client=1"
                                : "offset=" + Pair(area.X, area.Y) + ";framesize=" + Pair(area.Width, area.Height);
  const std::string node = request.PipeWireNode ? ";node=" + std::to_string(request.PipeWireNode) : "";
  return where + node + ";framerate=" + std::to_string(request.FrameRate) + "/1;showframe=" +
         (request.Blink ? "1" : "0") + ";cursor=1" + UnchangedSlots(request) +
         ";session=" + std::to_string(static_cast<long long>(session));
}

// The device always captures 44100 Hz stereo 16-bit; the output's rate is the encoder's job. Its
// pause follows the session, whose number it takes as "pause_pointer". Sound comes in buffers of
// 100 ms: the device's default of 23 ms woke the capture and the engine 43 times a second, the
// larger part of what a still screen costs, and a tenth of a second is still far finer than the
// engine's sync needs.
constexpr int kSoundBufferBytes = 44100 / 10 * 2 * 2;

bool Mixed(const TRecordingRequest& request) {
  const auto& mix = request.SoundMix;
  return mix.size() > 1 || (mix.size() == 1 && (mix[0].Volume != 100 || mix[0].Muted));
}

std::string MixOptions(const TRecordingRequest& request, std::intptr_t session) {
  std::string options = "r=44100;c=2;f=16;bufsize=" + std::to_string(kSoundBufferBytes) +
                        ";session=" + std::to_string(static_cast<long long>(session));
  for (const TWaveMixInputOptions& input : request.SoundMix) options += ";" + MixInputOption(input);
  return options;
}

std::string AudioOptions(const TRecordingRequest& request, std::intptr_t session) {
  if (!request.Audio) return "";
  if (Mixed(request)) return MixOptions(request, session);
  std::string options = "r=44100;c=2;f=16;bufsize=" + std::to_string(kSoundBufferBytes) +
                        ";pause_pointer=" + std::to_string(static_cast<long long>(session));
  if (request.SoundMix.size() == 1 && !request.SoundMix[0].Source.empty() &&
      request.SoundMix[0].Source != kDefaultSoundSource)
    return options + ";source=" + request.SoundMix[0].Source;  // takes the rest: last
  if (!request.AudioSource.empty()) return options + ";source=" + request.AudioSource;  // takes the rest: last
  if (request.AudioInput >= 0) options += ";i=" + std::to_string(request.AudioInput);
  return options;
}

// A key frame of a desktop costs as much as a hundred or more of the frames between, so at the
// library's default of one every 12 frames the key frames alone outrun the lower bit rates even at
// the coarsest quantiser (360 kbit/s asked, over 700 written for a window being typed into). One every
// 10 s leaves the rate control room to hit its target and still lets a player seek.
constexpr int kKeyFrameSeconds = 10;

// Screen content that barely changes needs few bits even at the library's finest default quantiser
// (2): the higher rates would be missed from below with quality left unused. Quantiser 1 is allowed,
// both for macroblocks (qmin) and for the frame's rate control, which counts in lambda units (lmin).
std::string RateControlOptions() {
  return "qmin=1\nlmin=" + std::to_string(FF_QP2LAMBDA);
}

// x264 starts at a speed that keeps up with everyday content; full motion at 1080p outruns it on
// two cores, so the preset follows the load (the engine steps to a faster one and back), each step a
// new encoder whose key frames carry their own parameter sets. Players want 4:2:0.
// Unchanged slots are left out, so a still desktop yields a picture every few seconds: x264's
// look-ahead and B-frames would hold pictures back until more came, and with them every packet of
// sound behind them (a kill lost it all), and a B-frame's reordering delay, counted in pictures that
// far apart, put seconds between the MP4's video and its sound; zero latency has neither, and
// its sliced threads put both cores on each picture without holding one back (libavcodec would
// take frame threads unless asked; the faster presets take those, see the engine). 4:2:0 takes
// even sizes only, and a dragged region is as often odd as even: its picture keeps every pixel in a
// frame one column or row larger that repeats its edge, so the file is the area's size rounded up
// to even.
std::string H264Options(const TRecordingRequest& request) {
  return "preset=veryfast\ntune=zerolatency\ncrf=" + std::to_string(QualityCrf(request.Quality)) +
         "\npix_fmt=yuv420p\nedge_pad=1\nx264-params=threads=2:sliced-threads=1:repeat-headers=1\nfollow_load=1\n";
}

// What a kill leaves playable. The AVI goes through the program's crash-safe file (whole chunks on
// the disk, repaired at the next start). A Matroska cluster and an MP4 fragment reach the file only
// when they are closed, so both are closed each second: a kill loses about a second. The MP4's
// index is in its fragments (an empty moov up front), since the one at the end is never written
// when the program dies.
std::string MuxerOptions(TOutputFormat format) {
  switch (format) {
    case TOutputFormat::Mkv: return "cluster_time_limit=1000\nflush_packets=1\n";
    case TOutputFormat::Mp4:
      return "movflags=frag_keyframe+empty_moov+default_base_moof\nfrag_duration=1000000\nflush_packets=1\n";
    case TOutputFormat::Avi: break;
  }
  return "crash_safe=1\n";
}

// Scaled to fit inside the output size and padded to it (black bars), even-sized for 4:2:0.
std::string KeepProportionsFilter(int width, int height) {
  const std::string w = std::to_string(width), h = std::to_string(height);
  return "scale=w=" + w + ":h=" + h + ":force_original_aspect_ratio=decrease:force_divisible_by=2,pad=" + w + ":" +
         h + ":(ow-iw)/2:(oh-ih)/2";
}

// The bars are black whatever their width, so 4:2:0's even size is had by widening them.
int EvenForH264(const TRecordingRequest& request, int size) { return UsesH264(request.Format) ? (size + 1) & ~1 : size; }

void SetFrameSize(const TRecordingRequest& request, TOutputOptions& out) {
  const bool chosen = request.OutWidth > 0 && request.OutHeight > 0;
  if (chosen && request.KeepProportions) {
    out.VideoFilters =
        KeepProportionsFilter(EvenForH264(request, request.OutWidth), EvenForH264(request, request.OutHeight));
    return;
  }
  const int width = chosen ? request.OutWidth : request.Area.Width;
  const int height = chosen ? request.OutHeight : request.Area.Height;
  if (width > 0 && height > 0) out.FrameSize = std::to_string(width) + "x" + std::to_string(height);
}

void SetVideoCodec(const TRecordingRequest& request, TOutputOptions& out) {
  out.GopSize = kKeyFrameSeconds * request.FrameRate;
  if (UsesH264(request.Format)) {
    out.VideoCodec = "libx264";
    out.ExtOptions += H264Options(request);
    // Every slot coded means every slot in the file, one whose capture came late too: Matroska's
    // timestamps would let the engine leave it out, where the AVI and the MP4 repeat the picture.
    if (request.EveryFrame && request.Format == TOutputFormat::Mkv) out.ExtOptions += "vsync=1\n";
  } else {
    out.VideoCodec = "msmpeg4v2";
    out.VideoBitrate = request.VideoKbps * 1000;
    out.ExtOptions += RateControlOptions() + "\n";
  }
}

void SetSoundCodec(const TRecordingRequest& request, TOutputOptions& out) {
  out.AudioCodec = FactsOf(request.Format).SoundEncoder;
  out.AudioSampleRate = SoundSampleRate(request.Format, request.SampleRate);
  out.AudioBitrate = SoundBitsPerSecond(request.Format, request.SampleRate);
  out.DisableAudio = !request.Audio;
}

// The screen's BGRA becomes YUV 4:2:0, most often at the same size, where only the chroma is halved.
// Averaging each 2x2 block ("area", the textbook 4:2:0 subsampling) keeps a desktop's coloured edges
// as well as bicubic filtering does (a round trip back to RGB measured the same, or 0.1 dB better on
// sharp test patterns). At the same size it lets libyuv do the conversion at a third of the scaler's
// cost; where the scaler still works (a size change, no libyuv), full chroma in with "area" costs
// half its default path. A picture made larger gets bicubic filtering, which averaging is not made for.
std::string ScalerFlags(const TRecordingRequest& request) {
  const TRecordingArea& area = request.Area;
  const bool enlarged = area.Width > 0 && area.Height > 0 &&
                        (request.OutWidth > area.Width || request.OutHeight > area.Height);
  return enlarged ? "bicubic+full_chroma_inp" : "area+full_chroma_inp";
}

TOutputOptions OutputOptions(const TRecordingRequest& request) {
  TOutputOptions out;
  out.Reset();
  out.FileFormat = FactsOf(request.Format).Muxer;
  if (request.DurationUs > 0) out.RecordingTime = request.DurationUs;
  out.ExtOptions = "sws_flags=" + ScalerFlags(request) + "\n" + MuxerOptions(request.Format);
  SetFrameSize(request, out);
  SetVideoCodec(request, out);
  SetSoundCodec(request, out);
  return out;
}

}  // namespace

int AdpcmBitsPerSecond(int sampleRate, int channels) {
  // The encoder's blocks are 1024 bytes; each starts with 7 header bytes a channel that also carry
  // two samples a channel, and the rest holds two samples a byte.
  constexpr int kBlockBytes = 1024;
  if (sampleRate <= 0 || channels <= 0) return 0;
  const int samplesPerBlock = (kBlockBytes - 7 * channels) * 2 / channels + 2;
  return int(std::int64_t(sampleRate) * kBlockBytes * 8 / samplesPerBlock);
}

int SoundSampleRate(TOutputFormat format, int sampleRate) {
  // Opus codes 48 kHz (or a fraction of it), never 44.1 kHz.
  return format == TOutputFormat::Mkv ? 48000 : sampleRate;
}

int SoundBitsPerSecond(TOutputFormat format, int sampleRate) {
  switch (format) {
    case TOutputFormat::Mkv: return 96000;   // Opus is transparent for stereo well below this
    case TOutputFormat::Mp4: return 128000;  // the native AAC encoder needs more for the same
    case TOutputFormat::Avi: break;
  }
  return AdpcmBitsPerSecond(sampleRate, kRecordedChannels);
}

TRecordingPlan PlanRecording(const TRecordingRequest& request, std::intptr_t session) {
  const char* device = request.Backend == TCaptureBackend::PipeWire ? "pipewirecapture" : "screencapture";
  return {device, ScreenOptions(request, session) + ClickRings(request) + KeyLabels(request),
          Mixed(request) && request.Audio ? "wavemix" : "wavecapture", AudioOptions(request, session),
          OutputOptions(request)};
}

}  // namespace qv
