#include "engine/convert_thread.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace qv {

void TManualEvent::Set() {
  {
    std::lock_guard<std::mutex> lock(Lock);
    State = true;
  }
  Cond.notify_all();
}

void TManualEvent::Reset() {
  std::lock_guard<std::mutex> lock(Lock);
  State = false;
}

bool TManualEvent::WaitFor(std::chrono::milliseconds timeout) const {
  std::unique_lock<std::mutex> lock(Lock);
  return Cond.wait_for(lock, timeout, [this] { return State; });
}

namespace {

int NiceOf(TThreadPriority p) {
  static const int kNice[] = {19, 10, 5, 0, -5, -10, -15};
  return kNice[int(p) < 0 || int(p) > 6 ? int(tpNormal) : int(p)];
}

}  // namespace

TConvertThread::TConvertThread(std::function<void()> body, TThreadPriority priority)
    : Body(std::move(body)), FPriority(priority), Thread([this] { Main(); }) {}

TConvertThread::~TConvertThread() {
  Release();
  Join();
}

void TConvertThread::Join() {
  if (Thread.joinable() && Thread.get_id() != std::this_thread::get_id()) Thread.join();
}

void TConvertThread::Main() {
  // Linux threads have their own nice value (setpriority on the thread id). A refusal (raising the
  // priority without the privilege) leaves the worker at normal priority.
  int nice = NiceOf(FPriority);
  if (nice != 0) setpriority(PRIO_PROCESS, id_t(syscall(SYS_gettid)), nice);
  Gate();
  // Released before it was ever resumed, the body still runs, so the run ends the normal way.
  if (Body) Body();
}

void TConvertThread::Resume() {
  {
    std::lock_guard<std::mutex> lock(Lock);
    FSuspended = false;
  }
  Cond.notify_all();
}

void TConvertThread::Suspend() {
  std::lock_guard<std::mutex> lock(Lock);
  FSuspended = true;
}

bool TConvertThread::Suspended() const {
  std::lock_guard<std::mutex> lock(Lock);
  return FSuspended && !Released;
}

void TConvertThread::Release() {
  {
    std::lock_guard<std::mutex> lock(Lock);
    Released = true;
  }
  Cond.notify_all();
}

void TConvertThread::Gate() {
  std::unique_lock<std::mutex> lock(Lock);
  Cond.wait(lock, [this] { return !FSuspended || Released; });
}

}  // namespace qv
