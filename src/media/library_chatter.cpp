#include "media/library_chatter.h"

#include <cstring>

extern "C" {
#include <libavutil/log.h>
}

namespace qv {

namespace {

// Known by their format, the same whatever the numbers in them.
constexpr const char* kChatterFormats[] = {"warning, clipping %d dct coefficients to %d..%d\n"};

// Speakers whose every "info" line is chatter: libx264 says nothing at that level that a user of a
// recording could do anything about (its warnings and errors come at their own levels).
constexpr const char* kChattySpeakers[] = {"libx264"};

const char* SpeakerName(void* object) {
  const AVClass* cls = object ? *static_cast<AVClass**>(object) : nullptr;
  if (!cls) return nullptr;
  return cls->item_name ? cls->item_name(object) : cls->class_name;
}

bool Among(const char* text, const auto& list) {
  if (!text) return false;
  for (const char* item : list)
    if (std::strcmp(text, item) == 0) return true;
  return false;
}

}  // namespace

int LibraryLineLevel(void* object, int level, const char* format) {
  if (level != AV_LOG_INFO) return level;
  return Among(format, kChatterFormats) || Among(SpeakerName(object), kChattySpeakers) ? AV_LOG_DEBUG : level;
}

}  // namespace qv
