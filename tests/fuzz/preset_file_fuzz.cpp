// Preset files ("-fpre FILE", or "-vpre NAME" when no built-in preset has that name) are text the
// user hands over. Input: the file's content, applied once with bad options raising and once with
// them only logged.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "engine_fuzz_support.h"
#include "fuzz_support.h"

namespace {

// In the current folder (scripts/fuzz.sh gives each run its own), so a run that ends in a finding
// leaves nothing behind elsewhere. A plain array: the exit handler needs the name after static
// objects are gone.
const char* PresetPath() {
  static char path[64] = "";
  if (!*path) std::snprintf(path, sizeof(path), "preset_%d.ffpreset", int(::getpid()));
  return path;
}

void RemovePresetFile() { std::remove(PresetPath()); }

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  qv::fuzz::LoadMediaLibraries();
  std::atexit(RemovePresetFile);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::FILE* file = std::fopen(PresetPath(), "wb");
  QV_FUZZ_CHECK(file != nullptr);
  const bool written = std::fwrite(data, 1, size, file) == size;
  QV_FUZZ_CHECK(std::fclose(file) == 0 && written);

  for (const bool raise : {true, false}) {
    qv::TCustomFFmpeg engine;
    engine.RaiseOnBadOption = raise;
    qv::fuzz::TrySetOption(engine, "fpre", PresetPath());
  }
  return 0;
}
