// Recovery at start: the recordings whose marks were left behind (recording_mark.h) never got their
// files finished. Each such file is repaired in place (the engine's repair of its format), and the
// user is told what came of it.
//
// Threads: runs on whatever thread calls it, which must not be one that a recording's events need
// (a repair of a long recording takes seconds); it shares nothing.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qv {

struct TRecovered {
  std::string FileName;
  bool Ok = false;
  std::int64_t DurationUs = 0;  // of the repaired file
  std::string Error;            // in words, when not Ok
  // "Recovered the interrupted recording <file> (<length>)", or why it could not be.
  std::string Message() const;
};

// Repairs the file of every mark left behind in `folder` and removes the marks. A file that is gone,
// or that was finished after all, is passed over in silence; every other one has its result. Needs
// the media libraries loaded.
std::vector<TRecovered> RecoverInterruptedRecordings(const std::string& folder);

}  // namespace qv
