// Helpers for the engine's tests: clips made with the ffmpeg command-line tool into a temporary
// folder, ffprobe answers, and a recorder of the logger's lines.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "media/logger.h"

namespace qv::test {

// Runs a shell command; its standard output, trimmed of the final line break.
inline std::string RunCommand(const std::string& cmd, int* status = nullptr) {
  std::string out;
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return out;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof(buf), p)) > 0) out.append(buf, n);
  int rc = pclose(p);
  if (status) *status = rc;
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
  return out;
}

inline std::string Quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

// Makes a clip with the ffmpeg command line; `args` are the inputs and codec options.
inline void MakeClip(const std::string& path, const std::string& args) {
  int status = 0;
  RunCommand("ffmpeg -nostdin -hide_banner -loglevel error -y " + args + " " + Quote(path) + " 2>&1", &status);
  ASSERT_EQ(status, 0) << "ffmpeg could not make " << path;
  ASSERT_TRUE(std::filesystem::exists(path)) << path;
}

// ffprobe's value of one entry, e.g. ("stream=codec_name", "v:0").
inline std::string Probe(const std::string& path, const std::string& entries, const std::string& streams = "") {
  std::string sel = streams.empty() ? "" : " -select_streams " + streams;
  return RunCommand("ffprobe -v error" + sel + " -show_entries " + entries +
                    " -of default=noprint_wrappers=1:nokey=1 " + Quote(path) + " 2>/dev/null");
}

// A temporary folder removed with its content at the end of the test program.
class TTempDir {
 public:
  TTempDir() {
    char tmpl[] = "/tmp/qv_engine_XXXXXX";
    Path = mkdtemp(tmpl) ? tmpl : "/tmp";
  }
  ~TTempDir() {
    std::error_code ec;
    if (Path != "/tmp") std::filesystem::remove_all(Path, ec);
  }
  std::string operator/(const std::string& name) const { return Path + "/" + name; }
  std::string Path;
};

// Collects what the logger hands out while it lives.
class TLogRecorder {
 public:
  TLogRecorder() {
    GetLogger()->TriggerEventInMainThread = false;
    GetLogger()->OnLog = [this](const void*, std::uint32_t, TLogLevel, const std::string& msg) {
      std::lock_guard<std::mutex> lock(Lock);
      Lines.push_back(msg);
    };
  }
  ~TLogRecorder() { GetLogger()->OnLog = nullptr; }
  bool Contains(const std::string& text) {
    std::lock_guard<std::mutex> lock(Lock);
    for (const auto& l : Lines)
      if (l.find(text) != std::string::npos) return true;
    return false;
  }
  std::mutex Lock;
  std::vector<std::string> Lines;
};

}  // namespace qv::test
