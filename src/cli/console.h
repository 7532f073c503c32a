// The command-line programs' standard-error console. The progress line stays on one terminal line
// (rewritten with CR); every other line breaks it. Without a terminal every report is a line of its
// own, so a log shows the whole course of a run. Safe to call from any thread.
#pragma once

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

}  // namespace qv
