#include "recording/recording_request.h"

#include <cstdio>

namespace qv {

namespace {

std::string Format(const char* pattern, auto... values) {
  char text[256];
  std::snprintf(text, sizeof(text), pattern, values...);
  return text;
}

std::string ScreenOptions(const TRecordingRequest& request, std::intptr_t session) {
  const TRecordingArea& area = request.Area;
  const int showFrame = request.Blink ? 1 : 0;
  const long long number = session;
  if (area.Kind == TAreaKind::Window)
    return Format("hwnd=%lu;framerate=25/1;showframe=%d;cursor=1;session=%lld", (unsigned long)area.Window,
                  showFrame, number);
  return Format("offset=%d,%d;framesize=%d,%d;framerate=25/1;showframe=%d;cursor=1;session=%lld", area.X, area.Y,
                area.Width, area.Height, showFrame, number);
}

// The device always captures 44100 Hz stereo 16-bit; the output's rate is the encoder's job. Its
// pause follows the session, whose number it takes as "pause_pointer".
std::string AudioOptions(const TRecordingRequest& request, std::intptr_t session) {
  if (!request.Audio) return "";
  std::string options = Format("r=44100;c=2;f=16;pause_pointer=%lld", (long long)session);
  if (request.AudioInput >= 0) options += Format(";i=%d", request.AudioInput);
  return options;
}

TOutputOptions OutputOptions(const TRecordingRequest& request) {
  TOutputOptions out;
  out.Reset();
  // Whatever the file is called, it is an AVI: the codecs are the AVI ones.
  out.FileFormat = "avi";
  out.VideoCodec = "msmpeg4v2";
  out.VideoBitrate = request.VideoKbps * 1000;
  const int width = request.OutWidth > 0 ? request.OutWidth : request.Area.Width;
  const int height = request.OutHeight > 0 ? request.OutHeight : request.Area.Height;
  out.FrameSize = Format("%dx%d", width, height);
  out.AudioCodec = "adpcm_ms";
  out.AudioBitrate = request.AudioKbps * 1000;
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
  out.ExtOptions = "sws_flags=bicubic+full_chroma_inp\ncrash_safe=1";
  return out;
}

}  // namespace

TRecordingPlan PlanRecording(const TRecordingRequest& request, std::intptr_t session) {
  return {ScreenOptions(request, session), AudioOptions(request, session), OutputOptions(request)};
}

}  // namespace qv
