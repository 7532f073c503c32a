// Preset helpers visible to tests and to the component's option listing.
#pragma once

#include <string>
#include <utility>
#include <vector>

struct AVCodecContext;

namespace qv {

// The text of a built-in preset (name compared without regard to case), or nullptr.
const char* BuiltinPresetText(const std::string& name);

// One preset line of the older generation in the names the loaded library knows; `probe` is a codec
// context used to ask whether an old name or flag still exists.
std::vector<std::pair<std::string, std::string>> TranslateLegacyLine(AVCodecContext* probe, const std::string& key,
                                                                     const std::string& value);

}  // namespace qv
