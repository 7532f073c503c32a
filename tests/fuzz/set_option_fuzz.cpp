// SetOption takes option names and values from command lines and from the encoder component's
// callers, and hands unknown names to the media libraries' option tables. Input: lines "name=value",
// applied in order to one transcoder. Preset files are the preset target's: a preset value naming an
// existing file (or device) is skipped here.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "engine_fuzz_support.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  qv::fuzz::LoadMediaLibraries();
  return 0;
}

namespace {

bool ReadsPresetFile(const std::string& name, const std::string& value) {
  const bool preset = name == "apre" || name == "vpre" || name == "spre" || name == "fpre";
  return preset && ::access(value.c_str(), F_OK) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  qv::TCustomFFmpeg engine;
  for (const std::string& line : qv::fuzz::SplitLines(std::string(reinterpret_cast<const char*>(data), size))) {
    const std::size_t eq = line.find('=');
    const std::string name = line.substr(0, eq);
    const std::string value = eq == std::string::npos ? std::string() : line.substr(eq + 1);
    if (name.empty() || ReadsPresetFile(name, value)) continue;
    qv::fuzz::TrySetOption(engine, name, value);
  }
  return 0;
}
