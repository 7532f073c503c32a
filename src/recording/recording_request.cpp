#include "recording/recording_request.h"

namespace qv {

namespace {

std::string Pair(int a, int b) { return std::to_string(a) + "," + std::to_string(b); }

// Only the X11 device learns which slots changed (X DAMAGE); the PipeWire stream gives every slot.
std::string UnchangedSlots(const TRecordingRequest& request) {
  if (request.Backend != TCaptureBackend::X11) return "";
  return std::string(";skipunchanged=") + (request.EveryFrame ? "0" : "1");
}

// The presses come from XInput 2, which only the X11 device reads.
std::string ClickRings(const TRecordingRequest& request) {
  return request.ShowClicks && request.Backend == TCaptureBackend::X11 ? ";showclicks=1" : "";
}

std::string ScreenOptions(const TRecordingRequest& request, std::intptr_t session) {
  const TRecordingArea& area = request.Area;
  const std::string where = area.Kind == TAreaKind::Window
                                ? "hwnd=" + std::to_string(area.Window)
                                : "offset=" + Pair(area.X, area.Y) + ";framesize=" + Pair(area.Width, area.Height);
  const std::string node = request.PipeWireNode ? ";node=" + std::to_string(request.PipeWireNode) : "";
  return where + node + ";framerate=25/1;showframe=" + (request.Blink ? "1" : "0") +
         ";cursor=1" + UnchangedSlots(request) + ";session=" + std::to_string(static_cast<long long>(session));
}

// The device always captures 44100 Hz stereo 16-bit; the output's rate is the encoder's job. Its
// pause follows the session, whose number it takes as "pause_pointer".
std::string AudioOptions(const TRecordingRequest& request, std::intptr_t session) {
  if (!request.Audio) return "";
  std::string options = "r=44100;c=2;f=16;pause_pointer=" + std::to_string(static_cast<long long>(session));
  if (!request.AudioSource.empty()) return options + ";source=" + request.AudioSource;  // takes the rest: last
  if (request.AudioInput >= 0) options += ";i=" + std::to_string(request.AudioInput);
  return options;
}

// A key frame of a desktop costs as much as a hundred or more of the frames between, so at the
// library's default of one every 12 frames the key frames alone outrun the lower bit rates even at
// the coarsest quantiser (360 kbit/s asked, over 700 written for a window being typed into). One every
// 10 s leaves the rate control room to hit its target and still lets a player seek.
constexpr int kKeyFrameInterval = 250;

// Screen content that barely changes needs few bits even at the library's finest default quantiser
// (2): the higher rates would be missed from below with quality left unused. Quantiser 1 is allowed,
// both for macroblocks (qmin) and for the frame's rate control, which counts in lambda units (lmin).
std::string RateControlOptions() {
  return "qmin=1\nlmin=" + std::to_string(FF_QP2LAMBDA);
}

TOutputOptions OutputOptions(const TRecordingRequest& request) {
  TOutputOptions out;
  out.Reset();
  // Whatever the file is called, it is an AVI: the codecs are the AVI ones.
  out.FileFormat = "avi";
  out.VideoCodec = "msmpeg4v2";
  out.VideoBitrate = request.VideoKbps * 1000;
  out.GopSize = kKeyFrameInterval;
  const int width = request.OutWidth > 0 ? request.OutWidth : request.Area.Width;
  const int height = request.OutHeight > 0 ? request.OutHeight : request.Area.Height;
  if (width > 0 && height > 0) out.FrameSize = std::to_string(width) + "x" + std::to_string(height);
  out.AudioCodec = "adpcm_ms";
  out.AudioBitrate = AdpcmBitsPerSecond(request.SampleRate, kRecordedChannels);
  out.AudioSampleRate = request.SampleRate;
  out.DisableAudio = !request.Audio;
  if (request.DurationUs > 0) out.RecordingTime = request.DurationUs;
  // The screen's BGRA becomes YUV 4:2:0 in the scaler, most often at the same size. Left to itself
  // the scaler halves the chroma horizontally on input through a slow generic path; taking full
  // chroma in and filtering it like the rest is both sharper and about twice as fast here, which is
  // a third of the recorder's processor time at 1080p.
  //
  // A recording's file is written crash-safe: a kill or a crash leaves it playable up to about where
  // it was (see the engine's crash_safe).
  out.ExtOptions = "sws_flags=bicubic+full_chroma_inp\ncrash_safe=1\n" + RateControlOptions();
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

TRecordingPlan PlanRecording(const TRecordingRequest& request, std::intptr_t session) {
  const char* device = request.Backend == TCaptureBackend::PipeWire ? "pipewirecapture" : "screencapture";
  return {device, ScreenOptions(request, session) + ClickRings(request), AudioOptions(request, session),
          OutputOptions(request)};
}

}  // namespace qv
