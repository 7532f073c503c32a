// The codec lock manager: every operation and message, the mutex's exclusion across threads, and the
// codec open/close wrappers with a real encoder.
#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

#include <gtest/gtest.h>

#include "media/codec_lock.h"
#include "media/ff_api.h"
#include "media/logger.h"
#include "media/main_thread.h"
#include "support/media_env.h"

QV_MEDIA_TEST_ENV;

namespace qv {
namespace {

using namespace std::chrono_literals;

struct TLine {
  TLogLevel Level;
  std::string Msg;
};

class CodecLockTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Logger = GetLogger();
    Logger->TriggerEventInMainThread = false;
    Logger->SetLogLevel(llDebug);
    Logger->OnLog = [this](const void* sender, std::uint32_t, TLogLevel level, const std::string& msg) {
      std::lock_guard<std::mutex> lock(Lock);
      if (sender == nullptr) Lines.push_back({level, msg});  // the lock manager logs without a sender
    };
  }
  void TearDown() override {
    Logger->OnLog = nullptr;
    Logger->SetLogLevel(llInfo);
    Logger->TriggerEventInMainThread = true;
  }
  std::vector<TLine> Take() {
    std::lock_guard<std::mutex> lock(Lock);
    return std::exchange(Lines, {});
  }
  TFFLogger* Logger = nullptr;
  std::mutex Lock;
  std::vector<TLine> Lines;
};

int HandleOf(const std::string& msg) {
  auto open = msg.find('[');
  return open == std::string::npos ? -1 : std::atoi(msg.c_str() + open + 1);
}

TEST_F(CodecLockTest, OperationsAndTheirMessages) {
  ASSERT_EQ(LockManagerRegister(nullptr), 0);  // destroys the mutex the loader created
  auto destroyed = Take();
  ASSERT_EQ(destroyed.size(), 1u);
  EXPECT_EQ(destroyed[0].Msg.rfind("destory codec mutex [", 0), 0u) << destroyed[0].Msg;

  void* slot = nullptr;
  struct Step {
    int Op;
    int Result;
    TLogLevel Level;
    std::string Text;  // "%d" is replaced by the handle of the mutex created in the third step
  };
  const Step steps[] = {
      {kLockObtain, -1, llError, "error, codec mutex not available."},
      {kLockRelease, -1, llError, "error, codec mutex not available."},
      {kLockCreate, 0, llDebug, "create codec mutex [%d]."},
      {kLockCreate, -1, llError, "error, codec mutex [%d] already exist."},
      {kLockObtain, 0, llDebug, "obtain codec mutex [%d]."},
      {kLockObtain, 0, llDebug, "obtain codec mutex [%d]."},  // the owner may take it again
      {kLockRelease, 0, llDebug, "release codec mutex [%d]."},
      {kLockRelease, 0, llDebug, "release codec mutex [%d]."},
      {kLockRelease, -1, llError, "error, could not release codec mutex [%d]: Operation not permitted."},
      {7, -1, llError, "error, invalid codec mutex operation 7."},
      {-1, -1, llError, "error, invalid codec mutex operation -1."},
      {kLockDestroy, 0, llDebug, "destory codec mutex [%d]."},
      {kLockDestroy, 0, llDebug, ""},  // nothing left to destroy: still 0, no message
      {kLockObtain, -1, llError, "error, codec mutex not available."},
  };
  int handle = -1;
  for (const Step& s : steps) {
    EXPECT_EQ(CodecLockManager(&slot, s.Op), s.Result) << s.Op << " " << s.Text;
    auto lines = Take();
    if (s.Text.empty()) {
      EXPECT_TRUE(lines.empty());
      continue;
    }
    ASSERT_EQ(lines.size(), 1u) << s.Text;
    if (handle < 0 && s.Op == kLockCreate) handle = HandleOf(lines[0].Msg);
    std::string expected = s.Text;
    if (auto at = expected.find("%d"); at != std::string::npos) expected.replace(at, 2, std::to_string(handle));
    EXPECT_EQ(lines[0].Msg, expected);
    EXPECT_EQ(lines[0].Level, s.Level) << expected;
  }
  EXPECT_EQ(slot, nullptr);
  EXPECT_GT(handle, 0);

  // A new slot while the program's mutex still exists: the stale one is reported and replaced.
  void* first = nullptr;
  void* second = nullptr;
  ASSERT_EQ(CodecLockManager(&first, kLockCreate), 0);
  int stale = HandleOf(Take()[0].Msg);
  ASSERT_EQ(CodecLockManager(&second, kLockCreate), 0);
  auto lines = Take();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].Msg, "warning, local codec mutex [" + std::to_string(stale) + "] not destroyed.");
  EXPECT_EQ(lines[0].Level, llWarning);
  EXPECT_EQ(lines[1].Msg, "create codec mutex [" + std::to_string(stale + 1) + "].");
  EXPECT_EQ(CodecLockManager(&second, kLockDestroy), 0);

  // Put the loader's registration back for the other tests.
  ASSERT_EQ(LockManagerRegister(CodecLockManager), 0);
  Take();
}

TEST_F(CodecLockTest, TheMutexExcludesOtherThreads) {
  void** slot = LibraryCodecMutex();
  ASSERT_NE(*slot, nullptr) << "the loader registers the lock manager";
  ASSERT_EQ(CodecLockManager(slot, kLockObtain), 0);
  std::atomic<int> stage{0};
  int releaseByOther = 0;
  std::thread other([&] {
    releaseByOther = CodecLockManager(slot, kLockRelease);  // not the owner
    stage = 1;
    CodecLockManager(slot, kLockObtain);
    stage = 2;
    CodecLockManager(slot, kLockRelease);
  });
  while (stage.load() < 1) std::this_thread::sleep_for(1ms);
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(stage.load(), 1) << "obtained while another thread held the mutex";
  EXPECT_EQ(releaseByOther, -1);
  ASSERT_EQ(CodecLockManager(slot, kLockRelease), 0);
  other.join();
  EXPECT_EQ(stage.load(), 2);
}

TEST_F(CodecLockTest, OpenAndCloseCodecGoThroughTheLock) {
  const AVCodec* codec = ff::avcodec_find_encoder_by_name("msmpeg4v2");
  ASSERT_NE(codec, nullptr);
  AVCodecContext* ctx = ff::avcodec_alloc_context3(codec);
  ASSERT_NE(ctx, nullptr);
  ctx->width = 320;
  ctx->height = 240;
  ctx->pix_fmt = AV_PIX_FMT_YUV420P;
  ctx->time_base = AVRational{1, 25};

  // While another thread holds the codec lock, the open waits for it.
  void** slot = LibraryCodecMutex();
  std::atomic<int> held{0};
  std::thread holder([&] {
    CodecLockManager(slot, kLockObtain);
    held = 1;
    std::this_thread::sleep_for(150ms);
    held = 2;
    CodecLockManager(slot, kLockRelease);
  });
  while (held.load() == 0) std::this_thread::sleep_for(1ms);
  Take();
  EXPECT_EQ(OpenCodec(ctx, codec, nullptr), 0);
  EXPECT_EQ(held.load(), 2) << "opened while the lock was held";
  holder.join();
  EXPECT_NE(ctx->codec, nullptr);
  CloseCodec(ctx);
  auto lines = Take();
  std::vector<std::string> messages;
  for (const auto& l : lines)
    if (l.Msg.find("codec mutex") != std::string::npos) messages.push_back(l.Msg.substr(0, l.Msg.find(' ')));
  // The holder's release comes first (it may be logged after our obtain); then our four.
  std::vector<std::string> tail(messages.end() - std::min<std::size_t>(messages.size(), 3), messages.end());
  EXPECT_EQ(tail, (std::vector<std::string>{"release", "obtain", "release"}));
  EXPECT_EQ(std::count(messages.begin(), messages.end(), "obtain"), 2);
  ff::avcodec_free_context(&ctx);
}

}  // namespace
}  // namespace qv
