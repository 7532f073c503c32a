// Helpers for the tests of a transcoder run: configuring an engine by option lists, running it and
// collecting what the terminate event reported; ffprobe/ffmpeg figures of the files it wrote.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "engine/custom_ffmpeg.h"
#include "engine/engine_test_support.h"

namespace qv::test {

using TOptionList = std::vector<std::pair<std::string, std::string>>;

inline void SetOptions(TCustomFFmpeg& e, const TOptionList& options) {
  for (const auto& [name, value] : options) e.SetOption(name, value);
}

// Counts terminate events and keeps what they saw.
struct TTerminateProbe {
  std::atomic<int> Count{0};
  bool Failed = false;
  bool Completed = false;
  std::string Text;
  void Attach(TCustomFFmpeg& e) {
    e.OnTerminate = [this](TCustomFFmpeg& sender) {
      Failed = sender.Failed;
      Completed = sender.CompletedNormally;
      Text = sender.FailText;
      ++Count;
    };
  }
};

// Opens `inputs` (each with the options given before it) and `output`, then runs inline.
inline void OpenAll(TCustomFFmpeg& e, const std::vector<std::pair<TOptionList, std::string>>& inputs,
                    const TOptionList& outputOptions, const std::string& output) {
  for (const auto& [opts, name] : inputs) {
    SetOptions(e, opts);
    ASSERT_TRUE(e.OpenInput(name)) << e.LastError();
  }
  SetOptions(e, outputOptions);
  ASSERT_GE(e.OpenOutput(output), 0) << e.LastError();
}

// ffprobe's number of decoded video frames.
inline int FrameCount(const std::string& path) {
  return std::atoi(Probe(path, "stream=nb_read_frames", "v:0 -count_frames").c_str());
}

inline double Duration(const std::string& path) { return std::atof(Probe(path, "format=duration").c_str()); }

// Average PSNR (dB) of `a` against `b` (same size) from ffmpeg's psnr filter; -1 when not measured.
inline double Psnr(const std::string& a, const std::string& b) {
  std::string out = RunCommand("ffmpeg -nostdin -hide_banner -i " + Quote(a) + " -i " + Quote(b) +
                               " -lavfi psnr -f null - 2>&1 | grep -o 'average:[0-9.inf]*' | tail -1");
  if (out.rfind("average:", 0) != 0) return -1;
  std::string v = out.substr(8);
  return v == "inf" ? 1000 : std::atof(v.c_str());
}

// pts_time of every video packet, and its key flag.
inline std::vector<std::pair<double, bool>> Packets(const std::string& path) {
  std::string out = RunCommand("ffprobe -v error -select_streams v:0 -show_entries packet=pts_time,flags -of csv=p=0 " +
                               Quote(path) + " 2>/dev/null");
  std::vector<std::pair<double, bool>> list;
  size_t pos = 0;
  while (pos < out.size()) {
    size_t nl = out.find('\n', pos);
    std::string line = out.substr(pos, nl == std::string::npos ? std::string::npos : nl - pos);
    size_t comma = line.find(',');
    if (comma != std::string::npos)
      list.emplace_back(std::atof(line.substr(0, comma).c_str()), line.find('K', comma) != std::string::npos);
    if (nl == std::string::npos) break;
    pos = nl + 1;
  }
  return list;
}

}  // namespace qv::test
