// The tray program's recording path without its window, for rec_bench: the options window's
// defaults and a region, turned into a request as the tray program does it, recorded by the
// shared recording layer until the time is up.
//
//   rec_bench_tray X,Y,W,H SECONDS [--every-frame] OUTPUT.avi
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "app/recording_options.h"
#include "encoder/ff_encoder.h"
#include "media/loader.h"
#include "media/main_thread.h"
#include "media/unicode_url.h"
#include "recording/recording.h"

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: rec_bench_tray X,Y,W,H SECONDS [--every-frame] OUTPUT.avi\n");
    return 2;
  }
  qv::MarkMainThread();
  const std::string area = argv[1];
  const size_t third = area.find(',', area.find(',') + 1);
  qv::TTrayChoice choice;
  choice.Mode = qv::TCaptureMode::Region;
  choice.Offset = area.substr(0, third);
  choice.Size = area.substr(third + 1);
  choice.EveryFrame = argc > 4 && std::string(argv[3]) == "--every-frame";
  choice.FileName = argv[argc - 1];
  qv::TRecordingRequest request = qv::TrayRecordingRequest(choice);
  request.DurationUs = std::llround(std::atof(argv[2]) * 1e6);

  qv::TRecording recording;
  qv::TFFEncoder& encoder = recording.Encoder();
  if (!encoder.LibrariesLoaded() && !encoder.LoadLibraries(qv::Utf8ToWide(qv::DefaultLibraryPath()))) {
    std::fprintf(stderr, "rec_bench_tray: cannot load the media libraries\n");
    return 1;
  }
  std::optional<qv::TRecordingEnd> end;
  recording.OnEnd = [&end](const qv::TRecordingEnd& e) { end = e; };
  if (!recording.Start(request)) {
    std::fprintf(stderr, "rec_bench_tray: the recording did not start\n");
    return 1;
  }
  while (!end) qv::WaitMainThreadCalls(std::chrono::milliseconds(50));
  const qv::TRecordingProgress p = recording.Progress();
  std::fprintf(stderr, "rec_bench_tray: frames=%d dup=%d drop=%d %s\n", p.Frames, p.Duplicates, p.Drops,
               end->Failed ? end->Reason.c_str() : "");
  return end->Failed ? 1 : 0;
}
