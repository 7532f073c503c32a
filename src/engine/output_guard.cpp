#include "engine/output_guard.h"

#include <sys/stat.h>

#include "engine/custom_ffmpeg.h"

namespace qv {

namespace {

// The file a name stands for; "file:" names the same file as the bare path. False for names that
// are no file (a device's option string, a network URL) or not there yet.
bool StatName(const std::string& name, struct stat& st) {
  if (::stat(name.c_str(), &st) == 0) return true;
  return name.rfind("file:", 0) == 0 && ::stat(name.c_str() + 5, &st) == 0;
}

}  // namespace

void RefuseOutputThatIsAnInput(TCustomFFmpeg& engine, const std::string& output) {
  struct stat out{};
  if (!StatName(output, out)) return;
  for (int i = 0; i < engine.InputCount(); ++i) {
    const std::string& input = engine.Input(i).FileName;
    struct stat in{};
    if (StatName(input, in) && in.st_dev == out.st_dev && in.st_ino == out.st_ino)
      RaiseFFmpegFmt("Output file '%s' is the same as input file '%s'.", output.c_str(), input.c_str());
  }
}

}  // namespace qv
