// The per-thread interrupt registry, and the library's interrupt callback breaking a real blocking
// open (a TCP peer on 127.0.0.1 that accepts the connection but never sends a byte) on one thread
// only.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include "media/ff_api.h"
#include "media/interrupt.h"
#include "media/main_thread.h"
#include "support/media_env.h"

QV_MEDIA_TEST_ENV;

namespace qv {
namespace {

using namespace std::chrono_literals;

// A check object: answers from its flag and records what it was called with.
struct TFlag {
  std::atomic<bool> Stop{false};
  std::atomic<void*> LastInstance{nullptr};
  std::atomic<int> Calls{0};
  static bool Code(void* object, void* instance) {
    auto* self = static_cast<TFlag*>(object);
    self->LastInstance = instance;
    ++self->Calls;
    return self->Stop.load();
  }
  TCheckMethod Method() { return {&TFlag::Code, this}; }
};
bool Never(void*, void*) { return false; }

TEST(InterruptRegistry, RegisterUnregisterCheck) {
  TInterruptCB registry;
  TFlag flag;
  int instanceA = 0, instanceB = 0;
  const std::uint32_t me = CurrentThreadId(), other = me + 1;

  EXPECT_FALSE(registry.Check(me));  // nothing registered
  registry.Register(me, &instanceA, flag.Method());
  registry.Register(me, &instanceA, flag.Method());  // same thread, instance and code: kept once
  EXPECT_EQ(registry.Count(me), 1);
  registry.Register(me, &instanceB, flag.Method());
  registry.Register(other, &instanceA, TCheckMethod{Never, nullptr});
  EXPECT_EQ(registry.Count(), 3);

  EXPECT_FALSE(registry.Check(me));
  EXPECT_EQ(flag.Calls.load(), 2);  // both of the thread's checks were asked
  flag.Stop = true;
  EXPECT_TRUE(registry.Check(me));
  EXPECT_EQ(flag.LastInstance.load(), &instanceA);
  EXPECT_FALSE(registry.Check(other));     // another thread is never interrupted by our check
  EXPECT_FALSE(registry.Check(me + 2));    // nor one without registrations

  registry.Unregister(me, &instanceA, flag.Method());
  EXPECT_EQ(registry.Count(me), 1);
  EXPECT_TRUE(registry.Check(me));
  EXPECT_EQ(flag.LastInstance.load(), &instanceB);
  registry.Unregister(me, &instanceA, flag.Method());  // gone already: no effect
  registry.Unregister(me, &instanceB, TCheckMethod{Never, nullptr});  // other code: no effect
  EXPECT_EQ(registry.Count(me), 1);
  registry.Unregister(me, &instanceB, flag.Method());
  EXPECT_FALSE(registry.Check(me));
  registry.Clear();
  EXPECT_EQ(registry.Count(), 0);
}

// A check may log, and logging may wait for the main thread, which may itself be polling: so a check
// runs without the registry's lock and may even ask the registry.
TEST(InterruptRegistry, ChecksRunWithoutTheRegistryLock) {
  TInterruptCB registry;
  struct TAsker {
    TInterruptCB* Registry;
    int Seen = -1;
    static bool Code(void* object, void*) {
      auto* self = static_cast<TAsker*>(object);
      self->Seen = self->Registry->Count();
      return true;
    }
  } asker{&registry};
  registry.Register(CurrentThreadId(), nullptr, TCheckMethod{&TAsker::Code, &asker});
  EXPECT_TRUE(registry.Check(CurrentThreadId()));
  EXPECT_EQ(asker.Seen, 1);
}

TEST(InterruptRegistry, LibraryCallbackAsksTheCallingThread) {
  ASSERT_NE(InterruptCB(), nullptr);
  EXPECT_EQ(ProgramInterruptCB().callback, &LibraryInterruptCallback);
  TFlag flag;
  flag.Stop = true;
  int instance = 0;
  EXPECT_EQ(LibraryInterruptCallback(nullptr), 0);
  InterruptCB()->Register(CurrentThreadId(), &instance, flag.Method());
  EXPECT_EQ(LibraryInterruptCallback(nullptr), 1);
  int onOther = -1;
  std::thread([&] { onOther = LibraryInterruptCallback(nullptr); }).join();
  EXPECT_EQ(onOther, 0);
  InterruptCB()->Unregister(CurrentThreadId(), &instance, flag.Method());
  EXPECT_EQ(LibraryInterruptCallback(nullptr), 0);
}

// Listens on 127.0.0.1 on a free port; the kernel completes connections into the backlog, so the
// library's open connects and then waits for data that never comes.
class SilentPeer {
 public:
  SilentPeer() {
    Fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(Fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr));
    ::listen(Fd, 8);
    socklen_t len = sizeof(addr);
    ::getsockname(Fd, reinterpret_cast<sockaddr*>(&addr), &len);
    Port = ntohs(addr.sin_port);
  }
  ~SilentPeer() { ::close(Fd); }
  std::string Url() const { return "tcp://127.0.0.1:" + std::to_string(Port); }
  int Fd;
  int Port = 0;
};

// One blocking open on its own thread, watched by its own flag.
struct TBlockedOpen {
  TFlag Flag;
  std::atomic<bool> Done{false};
  std::atomic<bool> Started{false};
  int Result = 0;
  std::chrono::steady_clock::time_point Finished;
  std::thread Thread;

  void Start(const std::string& url) {
    Thread = std::thread([this, url] {
      const std::uint32_t me = CurrentThreadId();
      InterruptCB()->Register(me, this, Flag.Method());
      AVFormatContext* ctx = ff::avformat_alloc_context();
      ctx->interrupt_callback = ProgramInterruptCB();
      Started = true;
      Result = ff::avformat_open_input(&ctx, url.c_str(), nullptr, nullptr);
      Finished = std::chrono::steady_clock::now();
      if (Result >= 0) ff::avformat_close_input(&ctx);  // on failure the library freed it
      InterruptCB()->Unregister(me, this, Flag.Method());
      Done = true;
    });
  }
};

TEST(InterruptRegistry, StopsABlockingOpenOnItsThreadOnly) {
  SilentPeer peer;
  ASSERT_GT(peer.Port, 0);
  TBlockedOpen first, second;
  first.Start(peer.Url());
  second.Start(peer.Url());
  // Both are blocked in the open and being polled.
  auto deadline = std::chrono::steady_clock::now() + 10s;
  while ((first.Flag.Calls.load() < 3 || second.Flag.Calls.load() < 3) && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(10ms);
  ASSERT_GE(first.Flag.Calls.load(), 3);
  EXPECT_FALSE(first.Done.load());
  EXPECT_FALSE(second.Done.load());

  first.Flag.Stop = true;
  const auto stopped = std::chrono::steady_clock::now();
  while (!first.Done.load() && std::chrono::steady_clock::now() < stopped + 10s) std::this_thread::sleep_for(5ms);
  ASSERT_TRUE(first.Done.load());
  EXPECT_EQ(first.Result, AVERROR_EXIT);
  EXPECT_LT(first.Finished - stopped, 5s);
  // The other thread keeps waiting for its data.
  std::this_thread::sleep_for(300ms);
  EXPECT_FALSE(second.Done.load());

  second.Flag.Stop = true;
  first.Thread.join();
  second.Thread.join();
  EXPECT_EQ(second.Result, AVERROR_EXIT);
  EXPECT_EQ(InterruptCB()->Count(), 0);
}

}  // namespace
}  // namespace qv
