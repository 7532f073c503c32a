// Shared by the wave device's tests: a log sink on the media libraries' log callback and small
// helpers around the device host.
#pragma once

#include <chrono>
#include <condition_variable>
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
  std::string Who;  // the class name of the object that logged
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
  // The next thread that logs a line starting with `prefix` waits inside the log call until
  // Release: a test's way to catch a device's thread in the middle of its callback.
  void HoldOn(const std::string& prefix) {
    std::lock_guard guard(Lock);
    HoldPrefix = prefix;
    Held = false;
  }
  bool WaitHeld(std::chrono::milliseconds timeout) {
    std::unique_lock guard(Lock);
    return Changed.wait_for(guard, timeout, [this] { return Held; });
  }
  void Release() {
    std::lock_guard guard(Lock);
    HoldPrefix.clear();
    Changed.notify_all();
  }
  bool SaidBy(const std::string& who, int level, const std::string& text) const {
    std::lock_guard guard(Lock);
    for (const TLogLine& line : Lines)
      if (line.Who == who && line.Level == level && line.Text == text) return true;
    return false;
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
  static void Callback(void* object, int level, const char* format, va_list args) {
    char text[1024];
    std::vsnprintf(text, sizeof(text), format, args);
    const AVClass* cls = object ? *static_cast<const AVClass**>(object) : nullptr;
    TWaveLog& log = Get();
    std::unique_lock guard(log.Lock);
    log.Lines.push_back({level, text, cls && cls->class_name ? cls->class_name : ""});
    if (log.HoldPrefix.empty() || log.Held || log.Lines.back().Text.rfind(log.HoldPrefix, 0) != 0) return;
    log.Held = true;
    log.Changed.notify_all();
    log.Changed.wait(guard, [&log] { return log.HoldPrefix.empty(); });
  }
  mutable std::mutex Lock;
  std::condition_variable Changed;
  std::vector<TLogLine> Lines;
  std::string HoldPrefix;
  bool Held = false;
};

}  // namespace qv::test
