// Shared by the wave device's tests: a log sink on the media libraries' log callback and small
// helpers around the device host.
#pragma once

#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "media/ff_api.h"

namespace qv::test {

struct TLogLine {
  int Level;
  std::string Text;
};

class TWaveLog {
 public:
  static TWaveLog& Get() {
    static TWaveLog log;
    return log;
  }
  // Takes over the library log (debug level included) for this test program.
  void Install() {
    ff::av_log_set_level(AV_LOG_DEBUG);
    ff::av_log_set_callback(&TWaveLog::Callback);
    Clear();
  }
  void Clear() {
    std::lock_guard guard(Lock);
    Lines.clear();
  }
  bool Has(int level, const std::string& text) const {
    std::lock_guard guard(Lock);
    for (const TLogLine& line : Lines)
      if (line.Level == level && line.Text == text) return true;
    return false;
  }
  int Count(const std::string& prefix) const {
    std::lock_guard guard(Lock);
    int n = 0;
    for (const TLogLine& line : Lines)
      if (line.Text.compare(0, prefix.size(), prefix) == 0) ++n;
    return n;
  }
  std::string Dump() const {
    std::lock_guard guard(Lock);
    std::string all;
    for (const TLogLine& line : Lines) all += std::to_string(line.Level) + ": " + line.Text;
    return all;
  }

 private:
  static void Callback(void*, int level, const char* format, va_list args) {
    char text[1024];
    std::vsnprintf(text, sizeof(text), format, args);
    TWaveLog& log = Get();
    std::lock_guard guard(log.Lock);
    log.Lines.push_back({level, text});
  }
  mutable std::mutex Lock;
  std::vector<TLogLine> Lines;
};

}  // namespace qv::test
