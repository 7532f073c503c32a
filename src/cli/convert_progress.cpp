#include "cli/convert_progress.h"

#include <cstdio>

#include "cli/console.h"

namespace qv {

std::string ProgressLine(const TProgressInfo& info, int dup, int drop) {
  char buf[256];
  std::snprintf(buf, sizeof(buf), "frame=%5d fps=%3d q=%3.1f size=%8.0fkB time=%s bitrate=%6.1fkbits/s",
                info.FrameNumber, info.FPS, double(info.Quality), double(info.TotalSize) / 1024.0,
                ClockText(info.CurrentTime).c_str(), double(info.Bitrate));
  std::string line = buf;
  if (info.TotalDuration > 0) {
    long long pct = (long long)(info.CurrentTime * 100 / info.TotalDuration);
    if (pct > 100) pct = 100;
    if (pct < 0) pct = 0;
    line += " " + std::to_string(pct) + "%";
  }
  if (dup || drop) line += " dup=" + std::to_string(dup) + " drop=" + std::to_string(drop);
  return line;
}

std::string FinalLine(const TTerminateInfo& info, const TProgressInfo* last, const std::string& output) {
  std::string what = info.Failed ? "Failed" : info.Completed ? "Completed" : "Stopped";
  std::string line = what + ": " + output;
  if (last) {
    char buf[160];
    std::snprintf(buf, sizeof(buf), " (%d frames, %s, %.0f kB)", last->FrameNumber,
                  ClockText(last->CurrentTime).c_str(), double(last->TotalSize) / 1024.0);
    line += buf;
  }
  if (info.Failed && !info.ErrorMessage.empty()) line += ": " + info.ErrorMessage;
  return line;
}

}  // namespace qv
