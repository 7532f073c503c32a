#include "cli/console.h"

#include <unistd.h>

#include <cstdio>

#include "media/logger.h"

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

TConsoleLog::TConsoleLog(TConsole& console, TSkip skip) {
  GetLogger()->TriggerEventInMainThread = false;
  GetLogger()->OnLog = [&console, skip = std::move(skip)](const void*, std::uint32_t, TLogLevel level,
                                                           const std::string& msg) {
    if (level != llQuiet && !(skip && skip(msg))) console.Line(msg);
  };
}

TConsoleLog::~TConsoleLog() { GetLogger()->OnLog = nullptr; }

std::string ClockText(std::int64_t us) {
  if (us < 0) us = 0;
  const long long cs = (long long)(us / 10000);
  char buf[48];
  std::snprintf(buf, sizeof(buf), "%02lld:%02lld:%02lld.%02lld", cs / 360000, cs / 6000 % 60, cs / 100 % 60, cs % 100);
  return buf;
}

}  // namespace qv
