// The process-wide logger: direct messages from the program's media code and every line the media
// libraries log, each handed to OnLog with its thread, level and text.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "media/locked_handler.h"

namespace qv {

enum TLogLevel : int { llQuiet, llPanic, llFatal, llError, llWarning, llInfo, llVerbose, llDebug };

// (ordinal - 1) * 8: -8, 0, 8, 16, 24, 32, 40, 48.
int LibraryLevelOf(TLogLevel level);
// trunc(level / 8) + 1, clamped to llQuiet..llDebug.
TLogLevel LogLevelOfLibrary(int libraryLevel);

using TLogEvent =
    std::function<void(const void* Sender, std::uint32_t AThreadID, TLogLevel ALogLevel, const std::string& ALogMsg)>;

// OnLog's slot. The handler is set and cleared on the main thread while workers, capture threads and
// the libraries' own threads log, so it is read and written under a lock; a caller works on a copy.
using TLogEventSlot = TLockedHandler<TLogEvent>;

// "[name @ 0x…] ": how a line says who speaks, the form the libraries give their own objects'
// lines. For the program's own speakers that are no library object (the transcoder).
std::string LogSpeaker(const char* name, const void* object);

class TFFLogger {
 public:
  TFFLogger();  // an explicitly created logger replaces an auto-created one; a second explicit one asserts
  ~TFFLogger();
  TFFLogger(const TFFLogger&) = delete;
  TFFLogger& operator=(const TFFLogger&) = delete;

  TLogLevel LogLevel() const;
  void SetLogLevel(TLogLevel level);
  void SetLogLevelByName(const std::string& text);  // throws std::invalid_argument on a bad number
  std::atomic<bool> TriggerEventInMainThread{true};
  TLogEventSlot OnLog;

  void Log(const void* sender, TLogLevel level, const std::string& msg);
  void LogFmt(const void* sender, TLogLevel level, const char* format, ...) __attribute__((format(printf, 4, 5)));

  // Installs the library log callback; the loader calls it after each load of libavutil.
  void HookLibraryLog();

 private:
  friend struct TLoggerAccess;
  explicit TFFLogger(bool autoCreated);
  void ApplyLevel();
  // Hands one message to OnLog, on the main thread when TriggerEventInMainThread.
  void Raise(const void* sender, std::uint32_t thread, TLogLevel level, const std::string& msg);
  std::atomic<TLogLevel> Level{llInfo};  // read by every thread that logs
  bool AutoCreated = false;
};

// The singleton; created on first use (auto-created) when no logger was placed explicitly.
TFFLogger* GetLogger();

// Shut-down of the media runtime: frees the singleton if it was auto-created.
void FreeAutoCreatedLogger();

}  // namespace qv
