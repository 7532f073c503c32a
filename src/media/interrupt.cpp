#include "media/interrupt.h"

#include <algorithm>
#include <atomic>

#include "media/main_thread.h"

namespace qv {

namespace {
// Made on first use: the loader's start-up object asks for it while other units' statics may not be
// initialised yet, so a namespace-scope `new` here would depend on link order.
std::atomic<TInterruptCB*>& Registry() {
  static std::atomic<TInterruptCB*> registry{new TInterruptCB};
  return registry;
}
std::atomic<bool> gInstalled{false};
}  // namespace

TInterruptCB::~TInterruptCB() { Clear(); }

void TInterruptCB::Register(std::uint32_t threadID, void* instance, TCheckMethod check) {
  std::lock_guard<std::mutex> lock(Lock);
  for (const TRegistration& r : List)
    if (r.ThreadID == threadID && r.Instance == instance && r.Check.Code == check.Code) return;
  List.push_back({threadID, check, instance});
}

void TInterruptCB::Unregister(std::uint32_t threadID, void* instance, TCheckMethod check) {
  std::lock_guard<std::mutex> lock(Lock);
  auto it = std::find_if(List.begin(), List.end(), [&](const TRegistration& r) {
    return r.ThreadID == threadID && r.Instance == instance && r.Check.Code == check.Code;
  });
  if (it != List.end()) List.erase(it);
}

bool TInterruptCB::Check(std::uint32_t threadID) {
  // The checks run outside the lock: a timeout check logs, and a log raised on the main thread waits
  // for it; were the lock held meanwhile, a main thread polling its own blocking call would wait for
  // the lock and neither could go on. A thread's registrations are added and removed by that thread
  // itself, so the copy cannot go stale while its own poll runs.
  std::vector<TRegistration> found;
  {
    std::lock_guard<std::mutex> lock(Lock);
    for (const TRegistration& r : List)
      if (r.ThreadID == threadID && r.Check.Code) found.push_back(r);
  }
  // Every registration of the thread is asked, not just the first: a transcode loop's stop check and
  // a timeout check around a blocking call inside it are both reasons to give up.
  for (const TRegistration& r : found)
    if (r.Check.Code(r.Check.Object, r.Instance)) return true;
  return false;
}

void TInterruptCB::Clear() {
  std::lock_guard<std::mutex> lock(Lock);
  List.clear();
}

int TInterruptCB::Count(std::uint32_t threadID) {
  std::lock_guard<std::mutex> lock(Lock);
  if (threadID == 0) return int(List.size());
  return int(std::count_if(List.begin(), List.end(), [&](const TRegistration& r) { return r.ThreadID == threadID; }));
}

TInterruptCB* InterruptCB() { return Registry().load(); }

int LibraryInterruptCallback(void*) {
  TInterruptCB* registry = Registry().load();
  // No exception may cross back into the library.
  try {
    return registry && registry->Check(CurrentThreadId()) ? 1 : 0;
  } catch (...) {
    return 0;
  }
}

AVIOInterruptCB ProgramInterruptCB() {
  AVIOInterruptCB cb{};
  if (gInstalled.load()) cb.callback = LibraryInterruptCallback;
  return cb;
}

void InstallInterruptCallback(bool install) { gInstalled.store(install); }

void FreeInterruptCB() {
  gInstalled.store(false);
  delete Registry().exchange(nullptr);
}

}  // namespace qv
