#include "cli/console.h"

#include <unistd.h>

#include <cstdio>

namespace qv {

TConsole::TConsole() : Tty(::isatty(2) != 0) {}

void TConsole::Progress(const std::string& line) {
  std::lock_guard<std::mutex> lock(Lock);
  if (Tty) {
    std::fprintf(stderr, "\r%s\033[K", line.c_str());
    OpenLine = true;
  } else {
    std::fprintf(stderr, "%s\n", line.c_str());
  }
  std::fflush(stderr);
}

void TConsole::Line(const std::string& text) {
  std::lock_guard<std::mutex> lock(Lock);
  BreakLine();
  std::fputs(text.c_str(), stderr);
  if (text.empty() || text.back() != '\n') std::fputc('\n', stderr);
  std::fflush(stderr);
}

void TConsole::BreakLine() {
  if (OpenLine) std::fputc('\n', stderr);
  OpenLine = false;
}

}  // namespace qv
