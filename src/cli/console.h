// The command-line programs' standard-error console. The progress line stays on one terminal line
// (rewritten with CR); every other line breaks it. Without a terminal every report is a line of its
// own, so a log shows the whole course of a run. Safe to call from any thread.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

namespace qv {

class TConsole {
 public:
  TConsole();
  void Progress(const std::string& line);
  // Adds the line break unless the text has one (library log lines come with their own).
  void Line(const std::string& text);

 private:
  void BreakLine();
  std::mutex Lock;
  bool Tty;
  bool OpenLine = false;
};

// While it lives, the media logger's lines go straight to the console (the command-line programs
// have no event loop to deliver them on); failures, logged at "quiet", are left for the caller to
// print once at the end, and so are the lines `skip` picks (it is called on whichever thread logs).
class TConsoleLog {
 public:
  using TSkip = std::function<bool(const std::string& line)>;
  explicit TConsoleLog(TConsole& console, TSkip skip = nullptr);
  ~TConsoleLog();
  TConsoleLog(const TConsoleLog&) = delete;
  TConsoleLog& operator=(const TConsoleLog&) = delete;
};

// Microseconds as "hh:mm:ss.cc", the clock of the progress lines; negative times show as zero.
std::string ClockText(std::int64_t us);

}  // namespace qv
