#include "engine/custom_ffmpeg.h"
#include "media/interrupt.h"
#include "media/main_thread.h"

namespace qv {

bool TCustomFFmpeg::TimeoutCheck(void* instance) {
  if (instance != this || IoTimeout <= 0) return false;
  std::int64_t start = WatchStart.load();
  if (start == kNoWatch) return false;
  if (ff::av_gettime() - start <= std::int64_t(IoTimeout) * 1000) return false;
  // The registry calls us under its lock from inside the library: log, never throw.
  try {
    Log(llInfo, start == 0 ? "connecting/reading/writing canceled" : "connecting/reading/writing timeout");
  } catch (...) {
  }
  return true;
}

bool TCustomFFmpeg::TimeoutCheckThunk(void* object, void* instance) {
  return static_cast<TCustomFFmpeg*>(object)->TimeoutCheck(instance);
}

TIoWatch::TIoWatch(TCustomFFmpeg& engine) : Engine(engine) {
  Engine.WatchStart = kNoWatch;
  if (TInterruptCB* cb = InterruptCB())
    cb->Register(CurrentThreadId(), &Engine, TCheckMethod{&TCustomFFmpeg::TimeoutCheckThunk, &Engine});
  Restart();
}

void TIoWatch::Restart() {
  // A cancel (WatchStart 0) that arrived meanwhile must survive the next step of the same watch.
  if (Engine.WatchStart.load() != 0) Engine.WatchStart = ff::av_gettime();
}

TIoWatch::~TIoWatch() {
  Engine.WatchStart = kNoWatch;
  if (TInterruptCB* cb = InterruptCB())
    cb->Unregister(CurrentThreadId(), &Engine, TCheckMethod{&TCustomFFmpeg::TimeoutCheckThunk, &Engine});
}

}  // namespace qv
