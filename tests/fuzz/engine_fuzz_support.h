// What the transcoder's fuzz targets share: the media libraries loaded once per process, as the
// programs load them at start, and an option call that turns the transcoder's own refusal (an
// FFmpegException, which every caller handles) into a normal outcome. Any other exception escapes
// and ends the run as a finding.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

#include "engine/custom_ffmpeg.h"
#include "media/loader.h"
#include "media/logger.h"
#include "media/main_thread.h"

namespace qv::fuzz {

inline void LoadMediaLibraries() {
  MarkMainThread();
  if (!FFLoader().LoadLibraries(kAllLibraries)) {
    std::fprintf(stderr, "fuzz: cannot load the media libraries: %s\n", FFLoader().LastError().c_str());
    std::abort();
  }
  // Nobody reads the lines; formatting them would only slow the run down.
  GetLogger()->SetLogLevel(llQuiet);
}

inline bool TrySetOption(TCustomFFmpeg& engine, const std::string& name, const std::string& value) {
  try {
    engine.SetOption(name, value);
    return true;
  } catch (const FFmpegException&) {
    return false;
  }
}

}  // namespace qv::fuzz
