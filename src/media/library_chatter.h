// Library lines a user cannot act on, which the libraries log at "info" as if they were news: the
// MPEG-4 family's "warning, clipping N dct coefficients to ..." for every busy picture (most of a
// recording's log, with the "Last message repeated" lines it brings along), and libx264's banner,
// its whole option string and its closing statistics. The logger takes them at debug level: out
// of the way by default, there for whoever asks for that level.
#pragma once

namespace qv {

// The library level (AV_LOG_*) a library line is taken at: `level`, or debug for chatter. `object`
// is the logging object as the library's log callback gets it (may be null).
int LibraryLineLevel(void* object, int level, const char* format);

}  // namespace qv
