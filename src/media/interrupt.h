// The per-thread interrupt registry. The format library polls one interrupt callback while it blocks
// in opening, reading or writing; several tasks may block at once, each on its own thread, so the
// callback asks this registry for the check that applies to the calling thread.
#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

extern "C" {
#include <libavformat/avio.h>
}

namespace qv {

// A check is a method pointer: code plus the object it belongs to. It is called with the instance the
// registration is about and says whether the blocking call should give up.
using TCheckCode = bool (*)(void* object, void* instance);
struct TCheckMethod {
  TCheckCode Code;
  void* Object;
};

class TInterruptCB {
 public:
  TInterruptCB() = default;
  ~TInterruptCB();
  TInterruptCB(const TInterruptCB&) = delete;
  TInterruptCB& operator=(const TInterruptCB&) = delete;

  // Adds a registration unless one with the same thread, instance and check code exists.
  void Register(std::uint32_t threadID, void* instance, TCheckMethod check);
  // Removes the first registration with the same thread, instance and check code.
  void Unregister(std::uint32_t threadID, void* instance, TCheckMethod check);
  // True when a check registered for the thread says so; a thread without registrations is never
  // interrupted. Checks run without the registry's lock (they may log), but keep them short: the
  // library polls them often.
  bool Check(std::uint32_t threadID);
  void Clear();
  // Registrations of the thread (all threads when threadID is 0).
  int Count(std::uint32_t threadID = 0);

 private:
  struct TRegistration {
    std::uint32_t ThreadID;
    TCheckMethod Check;
    void* Instance;
  };
  std::mutex Lock;
  std::vector<TRegistration> List;
};

// The process-wide registry; nullptr after shut-down.
TInterruptCB* InterruptCB();

// The callback the format library polls: 1 when the calling thread's check says stop, else 0.
int LibraryInterruptCallback(void* opaque);

// What every format context the program opens carries in ctx->interrupt_callback. Until the format
// library has been loaded (and after it is unloaded) the callback is empty: nothing can block yet.
AVIOInterruptCB ProgramInterruptCB();

// Called by the loader after each load of libavformat and before it is unloaded.
void InstallInterruptCallback(bool install);

// Shut-down of the media runtime: frees the registry.
void FreeInterruptCB();

}  // namespace qv
