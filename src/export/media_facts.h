// What a trim or an export needs to know of a recording: its streams' codecs, its picture, its
// length and where its key frames lie (from the packets, nothing decoded).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qv {

struct TMediaFacts {
  std::string Container;          // the demuxer's first name ("avi", "matroska", "mov", ...)
  std::string VideoCodec, AudioCodec;  // the decoders' names ("msmpeg4v2", "h264", "opus"); empty: none
  int Width = 0, Height = 0;
  double FrameRate = 0;           // pictures a second
  std::int64_t DurationUs = 0;
  std::int64_t VideoBitRate = 0;  // bit/s; 0 when unknown
  std::vector<std::int64_t> KeyFramesUs;  // from the file's start, in order
};

// False with `error` when the file cannot be read or holds no pictures.
bool ReadMediaFacts(const std::string& fileName, TMediaFacts& facts, std::string& error);

// A key frame within half a picture of `us` (the end of the recording counts as one).
bool IsKeyFrameAt(const TMediaFacts& facts, std::int64_t us);
// The key frame at or before `us` (0 when none), and the one at or after it (the end when none).
std::int64_t KeyFrameBefore(const TMediaFacts& facts, std::int64_t us);
std::int64_t KeyFrameAfter(const TMediaFacts& facts, std::int64_t us);

}  // namespace qv
