// The logger with the real libavutil: level mappings, the direct-message filter, the singleton rules,
// and lines the library logs through av_log (prefixes, partial lines, repeat folding, long texts, two
// threads at once).
#include <atomic>
#include <cstddef>
#include <mutex>
#include <thread>

#include <gtest/gtest.h>

#include "media/ff_api.h"
#include "media/logger.h"
#include "media/main_thread.h"
#include "support/media_env.h"

QV_MEDIA_TEST_ENV;

namespace qv {
namespace {

struct TRecord {
  const void* Sender;
  std::uint32_t Thread;
  TLogLevel Level;
  std::string Msg;
  bool OnMainThread;
};

// Captures what reaches OnLog and puts the logger back as it was afterwards.
class LoggerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    MarkMainThread();
    Logger = GetLogger();
    Logger->TriggerEventInMainThread = false;
    Logger->SetLogLevel(llInfo);
    Logger->OnLog = [this](const void* sender, std::uint32_t thread, TLogLevel level, const std::string& msg) {
      std::lock_guard<std::mutex> lock(Lock);
      Records.push_back({sender, thread, level, msg, IsMainThread()});
    };
  }
  void TearDown() override {
    Logger->OnLog = nullptr;
    Logger->TriggerEventInMainThread = true;
    Logger->SetLogLevel(llInfo);
  }
  std::vector<std::string> Messages() {
    std::lock_guard<std::mutex> lock(Lock);
    std::vector<std::string> out;
    for (const auto& r : Records) out.push_back(r.Msg);
    return out;
  }
  TFFLogger* Logger = nullptr;
  std::mutex Lock;
  std::vector<TRecord> Records;
};

// A program-defined logging context with a parent, as the library's own contexts have.
struct TParentCtx {
  const AVClass* Class;
};
struct TChildCtx {
  const AVClass* Class;
  TParentCtx* Parent;
};
const char* ParentName(void*) { return "parentname"; }
const char* ChildName(void*) { return "childname"; }
const AVClass kParentClass = {.class_name = "Parent", .item_name = ParentName, .version = LIBAVUTIL_VERSION_INT};
const AVClass kChildClass = {.class_name = "Child",
                             .item_name = ChildName,
                             .version = LIBAVUTIL_VERSION_INT,
                             .parent_log_context_offset = offsetof(TChildCtx, Parent)};

std::string Format(const char* format, const void* p) {
  char text[128];
  std::snprintf(text, sizeof(text), format, p);
  return text;
}

TEST(LogLevels, MapBothWays) {
  const std::pair<TLogLevel, int> levels[] = {{llQuiet, -8}, {llPanic, 0},  {llFatal, 8},    {llError, 16},
                                              {llWarning, 24}, {llInfo, 32}, {llVerbose, 40}, {llDebug, 48}};
  for (const auto& [level, library] : levels) {
    EXPECT_EQ(LibraryLevelOf(level), library);
    EXPECT_EQ(LogLevelOfLibrary(library), level);
  }
  const std::pair<int, TLogLevel> reverse[] = {{20, llError}, {-100, llQuiet}, {100, llDebug}, {56, llDebug},
                                               {-7, llPanic}, {-9, llQuiet},   {7, llPanic},   {31, llWarning}};
  for (const auto& [library, level] : reverse) EXPECT_EQ(LogLevelOfLibrary(library), level) << library;
}

TEST_F(LoggerTest, SetLogLevelByNameAppliesToTheLibrary) {
  const std::pair<const char*, TLogLevel> cases[] = {{"Warning", llWarning}, {"20", llError},  {"-100", llQuiet},
                                                     {"100", llDebug},       {"QUIET", llQuiet}, {"verbose", llVerbose},
                                                     {"+24", llWarning},     {"info", llInfo}};
  for (const auto& [text, level] : cases) {
    Logger->SetLogLevelByName(text);
    EXPECT_EQ(Logger->LogLevel(), level) << text;
    EXPECT_EQ(ff::av_log_get_level(), LibraryLevelOf(level)) << text;
  }
  for (const char* bad : {"", "loud", "12abc", "0x10", "99999999999"})
    EXPECT_THROW(Logger->SetLogLevelByName(bad), std::invalid_argument) << bad;
  EXPECT_EQ(Logger->LogLevel(), llInfo);
}

TEST_F(LoggerTest, DirectMessagesPassByLevelWithTheVerboseException) {
  int sender = 0;
  struct Case {
    TLogLevel LoggerLevel, MessageLevel;
    bool Passes;
  };
  const Case cases[] = {{llQuiet, llVerbose, false}, {llInfo, llVerbose, true},  {llInfo, llDebug, false},
                        {llInfo, llError, true},     {llError, llWarning, false}, {llQuiet, llPanic, false},
                        {llError, llVerbose, true},  {llDebug, llDebug, true}};
  for (const Case& c : cases) {
    Records.clear();
    Logger->SetLogLevel(c.LoggerLevel);
    Logger->Log(&sender, c.MessageLevel, "direct");
    Logger->LogFmt(&sender, c.MessageLevel, "fmt %d %s", 7, "x");
    ASSERT_EQ(Records.size(), c.Passes ? 2u : 0u) << c.LoggerLevel << " " << c.MessageLevel;
    if (c.Passes) {
      EXPECT_EQ(Records[0].Msg, "direct");
      EXPECT_EQ(Records[1].Msg, "fmt 7 x");
      EXPECT_EQ(Records[0].Sender, &sender);
      EXPECT_EQ(Records[1].Level, c.MessageLevel);
      EXPECT_EQ(Records[1].Thread, CurrentThreadId());
    }
  }
  Logger->OnLog = nullptr;  // nothing is formed without a handler
  Logger->Log(&sender, llError, "dropped");
  EXPECT_EQ(Records.size(), 2u);
}

TEST_F(LoggerTest, LibraryLinesCarryPrefixesAndJoinPartialText) {
  TParentCtx parent{&kParentClass};
  TChildCtx child{&kChildClass, &parent};
  ff::av_log(&child, AV_LOG_WARNING, "first %s", "part, ");
  ff::av_log(&child, AV_LOG_WARNING, "second part %d\nrest", 2);
  ff::av_log(&parent, AV_LOG_ERROR, " and more\n");
  ff::av_log(nullptr, AV_LOG_ERROR, "no context\n");
  ff::av_log(&parent, AV_LOG_DEBUG, "filtered by the library level\n");
  ff::av_log(&parent, AV_LOG_INFO, "%s", "");  // an empty "%s" adds nothing
  ff::av_log(&parent, AV_LOG_INFO, "parent only\n");
  const std::string childPrefix =
      Format("[parentname @ %p] ", &parent) + Format("[childname @ %p] ", &child);
  ASSERT_EQ(Records.size(), 4u);
  EXPECT_EQ(Records[0].Msg, childPrefix + "first part, second part 2");
  EXPECT_EQ(Records[0].Level, llWarning);
  EXPECT_EQ(Records[0].Sender, Logger);
  // The continuation of an unfinished line gets no prefix, even from another context.
  EXPECT_EQ(Records[1].Msg, "rest and more");
  EXPECT_EQ(Records[1].Level, llError);
  EXPECT_EQ(Records[2].Msg, "no context");
  EXPECT_EQ(Records[3].Msg, Format("[parentname @ %p] ", &parent) + "parent only");
  EXPECT_EQ(Records[3].Level, llInfo);
}

// What the encoders say at "info" that nobody can act on stays out of the log (and brings no "Last
// message repeated" with it) unless debug lines are asked for; their warnings still come.
TEST_F(LoggerTest, LibraryChatterIsTakenAtDebugLevel) {
  const AVClass x264Class = {.class_name = "AVCodecContext",
                             .item_name = [](void*) { return "libx264"; },
                             .version = LIBAVUTIL_VERSION_INT};
  TParentCtx x264{&x264Class};
  auto chatter = [&] {
    for (int i = 0; i < 5; ++i) ff::av_log(nullptr, AV_LOG_INFO, "warning, clipping %d dct coefficients to %d..%d\n", 1, -2048, 2047);
    ff::av_log(&x264, AV_LOG_INFO, "%s\n", "264 - core 164 - options: cabac=1 ref=3");
    ff::av_log(&x264, AV_LOG_WARNING, "width not divisible by 2 (301x201)\n");
  };
  chatter();
  const std::string speaker = Format("[libx264 @ %p] ", &x264);
  EXPECT_EQ(Messages(), std::vector<std::string>{speaker + "width not divisible by 2 (301x201)"});
  Logger->SetLogLevel(llDebug);
  Records.clear();
  chatter();
  const std::vector<std::string> all = {"warning, clipping 1 dct coefficients to -2048..2047",
                                        "    Last message repeated 4 times",
                                        speaker + "264 - core 164 - options: cabac=1 ref=3",
                                        speaker + "width not divisible by 2 (301x201)"};
  EXPECT_EQ(Messages(), all);
  EXPECT_EQ(Records[0].Level, llDebug);
}

TEST_F(LoggerTest, RepeatedLinesAreFolded) {
  const char* const thrice[] = {"fold A\n", "fold A\n", "fold A\n", "fold B\n", "fold B\n", "fold C\n",
                                "fold D\n", "fold D\n", "fold D\n", "fold D\n", "fold E\n"};
  for (const char* line : thrice) ff::av_log(nullptr, AV_LOG_ERROR, "%s", line);
  const std::vector<std::string> expected = {"fold A", "    Last message repeated 2 times", "fold B", "fold C",
                                             "fold D", "    Last message repeated 3 times", "fold E"};
  EXPECT_EQ(Messages(), expected);
}

// A piece one thread logs must never be folded away as a repeat of another thread's identical piece.
TEST_F(LoggerTest, RepeatsAreFoldedPerThread) {
  ff::av_log(nullptr, AV_LOG_ERROR, "main head, ");
  std::thread([] { ff::av_log(nullptr, AV_LOG_ERROR, "shared tail\n"); }).join();
  ff::av_log(nullptr, AV_LOG_ERROR, "shared tail\n");
  std::thread([] { ff::av_log(nullptr, AV_LOG_ERROR, "same line\n"); }).join();
  ff::av_log(nullptr, AV_LOG_ERROR, "same line\n");
  ff::av_log(nullptr, AV_LOG_ERROR, "same line\n");
  ff::av_log(nullptr, AV_LOG_ERROR, "same line\n");
  ff::av_log(nullptr, AV_LOG_ERROR, "end\n");
  const std::vector<std::string> expected = {"shared tail", "main head, shared tail", "same line", "same line",
                                             "    Last message repeated 2 times", "end"};
  EXPECT_EQ(Messages(), expected);
}

TEST_F(LoggerTest, LongLibraryMessagesAreNeverCut) {
  for (std::size_t size : {2047u, 2048u, 4095u, 4100u, 10000u}) {
    Records.clear();
    std::string text(size, 'x');
    text += std::to_string(size);
    ff::av_log(nullptr, AV_LOG_ERROR, "%s\n", text.c_str());
    ASSERT_EQ(Records.size(), 1u);
    EXPECT_EQ(Records[0].Msg, text);
  }
}

// Two workers log through the library at once, each line in two pieces, while the main thread logs
// too and runs the handler calls: every line arrives whole, attributed to its thread, none lost.
TEST_F(LoggerTest, TwoThreadsThroughTheMainThread) {
  Logger->TriggerEventInMainThread = true;
  constexpr int kLines = 300;
  std::atomic<int> finished{0};
  std::uint32_t ids[2] = {0, 0};
  auto worker = [&](int index) {
    ids[index] = CurrentThreadId();
    for (int i = 0; i < kLines; ++i) {
      ff::av_log(nullptr, AV_LOG_WARNING, "worker %d ", index);
      ff::av_log(nullptr, AV_LOG_WARNING, "line %d\n", i);
      if (i % 50 == 0) Logger->Log(&ids[index], llError, "direct " + std::to_string(index));
    }
    ++finished;
  };
  std::thread a(worker, 0), b(worker, 1);
  int own = 0;
  while (finished.load() < 2) {
    ff::av_log(nullptr, AV_LOG_WARNING, "main %d\n", own++);
    WaitMainThreadCalls(std::chrono::milliseconds(1));
  }
  a.join();
  b.join();
  RunMainThreadCalls();
  int next[2] = {0, 0}, direct[2] = {0, 0}, mainLines = 0;
  for (const auto& r : Records) {
    EXPECT_TRUE(r.OnMainThread) << r.Msg;
    if (r.Msg.rfind("main ", 0) == 0) {
      EXPECT_EQ(r.Thread, CurrentThreadId());
      ++mainLines;
      continue;
    }
    if (r.Msg.rfind("direct ", 0) == 0) {
      int index = r.Msg.back() - '0';
      ASSERT_TRUE(index == 0 || index == 1) << r.Msg;
      EXPECT_EQ(r.Sender, &ids[index]);
      EXPECT_EQ(r.Thread, ids[index]);
      EXPECT_EQ(r.Level, llError);
      ++direct[index];
      continue;
    }
    int index = -1, line = -1;
    ASSERT_EQ(std::sscanf(r.Msg.c_str(), "worker %d line %d", &index, &line), 2) << r.Msg;
    ASSERT_TRUE(index == 0 || index == 1) << r.Msg;
    EXPECT_EQ(r.Msg, "worker " + std::to_string(index) + " line " + std::to_string(line));
    EXPECT_EQ(r.Thread, ids[index]) << r.Msg;
    EXPECT_EQ(r.Level, llWarning);
    EXPECT_EQ(r.Sender, Logger);
    EXPECT_EQ(line, next[index]) << "out of order or lost";
    next[index] = line + 1;
  }
  EXPECT_EQ(next[0], kLines);
  EXPECT_EQ(next[1], kLines);
  EXPECT_EQ(direct[0], kLines / 50);
  EXPECT_EQ(direct[1], kLines / 50);
  EXPECT_EQ(mainLines, own);
}

TEST(LoggerSingleton, ExplicitLoggerReplacesTheAutoCreatedOneAndOnlyOnce) {
  TFFLogger* automatic = GetLogger();
  ASSERT_NE(automatic, nullptr);
  EXPECT_EQ(GetLogger(), automatic);
  {
    TFFLogger placed;
    EXPECT_EQ(GetLogger(), &placed);
    try {
      TFFLogger second;
      ADD_FAILURE() << "a second logger was created";
    } catch (const std::logic_error& e) {
      EXPECT_STREQ(e.what(), "Allow creating only one instance of TFFLogger.");
    }
    EXPECT_EQ(GetLogger(), &placed);
  }
  TFFLogger* again = GetLogger();
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(again->LogLevel(), llInfo);
}

}  // namespace
}  // namespace qv
