#include "media/logger.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <charconv>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <stdexcept>
#include <vector>

#include "media/ff_api.h"
#include "media/library_chatter.h"
#include "media/main_thread.h"

namespace qv {

struct TLoggerAccess {
  // A library line: the logger is the sender, and the line is not filtered again by LogLevel.
  static void Deliver(TFFLogger* logger, std::uint32_t thread, TLogLevel level, const std::string& line) {
    if (!logger->OnLog) return;
    logger->Raise(logger, thread, level, line);
  }
  static TFFLogger* Create() { return new TFFLogger(true); }
  static bool AutoCreated(const TFFLogger* logger) { return logger->AutoCreated; }
};

namespace {

// The library level at or below which library messages are accepted; follows the logger's level.
std::atomic<int> gCurrentLibraryLevel{32};

std::mutex gSingletonLock;  // guards replacing and registering the singleton
std::mutex gCreateLock;     // guards auto-creation (the constructor takes gSingletonLock)
std::atomic<TFFLogger*> gLogger{nullptr};

// State of the library log callback. Held on the heap and never destroyed, because the libraries may
// log from another thread while static objects are being torn down.
// Repeat folding is kept per thread too: with one shared "previous message", a piece that one
// thread logs could be folded away as a repeat of another thread's identical piece, and the first
// thread's line would lose that text.
struct TLogItem {
  std::uint32_t ThreadID;
  std::string Line;  // unfinished text of the thread's current line
  std::string Previous;
  int Repeats = 0;
};
struct TCallbackState {
  std::mutex Lock;
  std::vector<TLogItem> Lines;  // one per thread that ever logged; kept until exit
};
TCallbackState& CallbackState() {
  static TCallbackState* state = new TCallbackState;
  return *state;
}

// A line ready to be handed to OnLog.
struct TPendingLine {
  std::uint32_t ThreadID;
  int LibraryLevel;
  std::string Text;
};

std::string FormatV(const char* format, va_list args) {
  // Grow the buffer until the text fits: 2048, 4096, then 2048 more each time.
  for (std::size_t size = 2048;; size = size == 2048 ? 4096 : size + 2048) {
    std::vector<char> buffer(size, '\0');
    va_list copy;
    va_copy(copy, args);
    int n = std::vsnprintf(buffer.data(), size, format, copy);
    va_end(copy);
    if (n < 0) return std::string();
    if (std::size_t(n) < size) return std::string(buffer.data(), std::size_t(n));
  }
}

std::string Prefix(void* avcl) {
  AVClass* cls = *static_cast<AVClass**>(avcl);
  if (!cls) return std::string();
  auto itemName = [](AVClass* c, void* obj) {
    const char* name = c->item_name ? c->item_name(obj) : c->class_name;
    return name ? name : "NULL";
  };
  std::string prefix;
  if (cls->parent_log_context_offset) {
    void* parent = *reinterpret_cast<void**>(static_cast<std::uint8_t*>(avcl) + cls->parent_log_context_offset);
    AVClass* parentClass = parent ? *static_cast<AVClass**>(parent) : nullptr;
    if (parentClass) prefix = LogSpeaker(itemName(parentClass, parent), parent);
  }
  return prefix + LogSpeaker(itemName(cls, avcl), avcl);
}

void LibraryLogCallback(void* avcl, int level, const char* format, va_list args) {
  // Libraries add display hints in the bits above the level. Chatter is judged before the level
  // filter, so what it drops never reaches the repeat folding either.
  level = LibraryLineLevel(avcl, level & 0xff, format);
  if (gCurrentLibraryLevel.load() < level) return;
  TFFLogger* logger = gLogger.load();
  if (!logger || !logger->OnLog) return;
  std::vector<TPendingLine> lines;
  const std::uint32_t thread = CurrentThreadId();
  try {
    std::string text;
    bool emptyArg = false;
    if (format && std::strcmp(format, "%s") == 0) {
      va_list copy;
      va_copy(copy, args);
      const char* arg = va_arg(copy, const char*);
      va_end(copy);
      emptyArg = !arg || !*arg;
    }
    if (!emptyArg && format) text = FormatV(format, args);

    TCallbackState& st = CallbackState();
    std::lock_guard<std::mutex> lock(st.Lock);
    auto item = std::find_if(st.Lines.begin(), st.Lines.end(), [&](const TLogItem& i) { return i.ThreadID == thread; });
    if (item == st.Lines.end()) item = st.Lines.insert(st.Lines.begin(), TLogItem{thread, {}, {}, 0});
    std::string full = (avcl && item->Line.empty()) ? Prefix(avcl) + text : text;
    if (!full.empty() && full.back() == '\n' && full == item->Previous) {
      ++item->Repeats;
      return;
    }
    if (item->Repeats > 1)
      lines.push_back({thread, level, "    Last message repeated " + std::to_string(item->Repeats) + " times"});
    item->Repeats = 0;
    item->Previous = full;
    item->Line += full;
    for (std::size_t eol; (eol = item->Line.find('\n')) != std::string::npos;) {
      lines.push_back({thread, level, item->Line.substr(0, eol)});
      item->Line.erase(0, eol + 1);
    }
  } catch (...) {
    return;  // out of memory: drop the message rather than unwind into the library
  }
  // Delivered outside the lock: a handler raised on the main thread must not wait for a lock that a
  // worker holds while that worker waits for the main thread.
  for (const TPendingLine& line : lines) {
    try {
      TLoggerAccess::Deliver(logger, line.ThreadID, LogLevelOfLibrary(line.LibraryLevel), line.Text);
    } catch (...) {
      // A handler's exception must not cross the library's C frames.
    }
  }
}

bool EqualsNoCase(const std::string& a, const char* b) {
  std::size_t n = std::strlen(b);
  if (a.size() != n) return false;
  for (std::size_t i = 0; i < n; ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != b[i]) return false;
  return true;
}

}  // namespace

std::string LogSpeaker(const char* name, const void* object) {
  char text[256];
  std::snprintf(text, sizeof(text), "[%s @ %p] ", name, object);
  return text;
}

int LibraryLevelOf(TLogLevel level) { return (int(level) - 1) * 8; }

TLogLevel LogLevelOfLibrary(int libraryLevel) {
  int ordinal = libraryLevel / 8 + 1;  // C++ division truncates toward zero
  return TLogLevel(std::clamp(ordinal, int(llQuiet), int(llDebug)));
}

TFFLogger::TFFLogger() : TFFLogger(false) {}

TFFLogger::TFFLogger(bool autoCreated) : AutoCreated(autoCreated) {
  std::lock_guard<std::mutex> lock(gSingletonLock);
  if (!autoCreated) {
    // An explicitly placed logger replaces an auto-created one.
    TFFLogger* current = gLogger.load();
    if (current && current->AutoCreated) {
      gLogger.store(nullptr);
      delete current;
    }
  }
  if (gLogger.load()) throw std::logic_error("Allow creating only one instance of TFFLogger.");
  Level = LogLevelOfLibrary(gCurrentLibraryLevel.load());
  gLogger.store(this);
}

TFFLogger::~TFFLogger() {
  TFFLogger* self = this;
  gLogger.compare_exchange_strong(self, nullptr);
}

TLogLevel TFFLogger::LogLevel() const { return Level; }

void TFFLogger::SetLogLevel(TLogLevel level) {
  if (Level.exchange(level) == level) return;
  ApplyLevel();
}

void TFFLogger::ApplyLevel() {
  if (!ff::av_log_set_level) return;
  gCurrentLibraryLevel.store(LibraryLevelOf(Level.load()));
  ff::av_log_set_level(gCurrentLibraryLevel.load());
}

void TFFLogger::SetLogLevelByName(const std::string& text) {
  static const char* const kNames[] = {"quiet", "panic", "fatal", "error", "warning", "info", "verbose", "debug"};
  for (int i = 0; i < 8; ++i)
    if (EqualsNoCase(text, kNames[i])) {
      SetLogLevel(TLogLevel(i));
      return;
    }
  int value = 0;
  const char* first = text.data();
  const char* last = first + text.size();
  if (first != last && *first == '+') ++first;  // "+24" is a number too
  auto [end, ec] = std::from_chars(first, last, value);
  if (first == last || ec != std::errc() || end != last)
    throw std::invalid_argument("'" + text + "' is not a valid integer value");
  SetLogLevel(LogLevelOfLibrary(value));
}

void TFFLogger::Raise(const void* sender, std::uint32_t thread, TLogLevel level, const std::string& msg) {
  // Arguments travel by value, so two threads logging at once never mix their fields.
  auto raise = [this, sender, thread, level, msg] {
    TLogEvent handler = OnLog.Load();  // it may have been cleared while the call was queued
    if (handler) handler(sender, thread, level, msg);
  };
  if (TriggerEventInMainThread)
    CallInMainThread(raise);
  else
    raise();
}

void TFFLogger::Log(const void* sender, TLogLevel level, const std::string& msg) {
  if (!OnLog) return;
  // Progress lines are logged at verbose and reach the handler at the default level.
  const TLogLevel current = Level.load();
  if (!(level <= current || (level == llVerbose && current != llQuiet))) return;
  Raise(sender, CurrentThreadId(), level, msg);
}

void TFFLogger::LogFmt(const void* sender, TLogLevel level, const char* format, ...) {
  if (!OnLog) return;
  const TLogLevel current = Level.load();
  if (!(level <= current || (level == llVerbose && current != llQuiet))) return;
  va_list args;
  va_start(args, format);
  std::string msg = FormatV(format, args);
  va_end(args);
  Raise(sender, CurrentThreadId(), level, msg);
}

void TFFLogger::HookLibraryLog() {
  if (!ff::av_log_set_callback || !ff::av_log_set_level)
    throw std::logic_error("Assertion failed: the library log functions are not resolved (logger)");
  ff::av_log_set_callback(LibraryLogCallback);
  ApplyLevel();
}

TFFLogger* GetLogger() {
  if (TFFLogger* logger = gLogger.load()) return logger;
  std::lock_guard<std::mutex> lock(gCreateLock);
  if (TFFLogger* logger = gLogger.load()) return logger;
  return TLoggerAccess::Create();
}

void FreeAutoCreatedLogger() {
  std::lock_guard<std::mutex> lock(gCreateLock);
  TFFLogger* logger = gLogger.load();
  if (logger && TLoggerAccess::AutoCreated(logger)) delete logger;
}

}  // namespace qv
