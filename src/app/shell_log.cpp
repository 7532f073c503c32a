#include "app/shell_log.h"

#include <cstdio>

#include "app/recording_log.h"

namespace qv {

namespace {
// The sender of the program's own lines: what tells them from the libraries' and the devices'.
const char kShell[] = "quorvane";
}  // namespace

void ShellLog(TLogLevel level, const std::string& text) { GetLogger()->Log(kShell, level, text); }

void AttachShellLog(TRecordingLog* recording) {
  TFFLogger* logger = GetLogger();
  logger->TriggerEventInMainThread = false;
  logger->OnLog = [recording](const void* sender, std::uint32_t thread, TLogLevel, const std::string& text) {
    if (sender == kShell) {
      std::fprintf(stderr, "%s: %s\n", kShell, text.c_str());
      std::fflush(stderr);
    }
    if (recording) recording->Line("[" + std::to_string(thread) + "] " + text);
  };
}

}  // namespace qv
