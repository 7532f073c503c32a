#include "media/codec_lock.h"

#include <pthread.h>

#include <atomic>
#include <cstring>
#include <string>

#include "media/ff_api.h"
#include "media/loader.h"
#include "media/logger.h"

namespace qv {

namespace {

// The program's mutex. A recursive pthread mutex behaves like the system mutex the lock was designed
// around: the owner may take it again, and releasing it from another thread fails instead of
// corrupting it.
struct TCodecMutex {
  pthread_mutex_t Mutex;
  int Handle;  // the number the messages show
};

std::atomic<TCodecMutex*> gHandle{nullptr};  // the process-wide handle slot
std::atomic<int> gNextHandle{0};

// The slot the library side keeps (libavcodec's own, in the days it had one) and its manager.
void* gLibraryMutex = nullptr;
std::atomic<TLockManager> gManager{nullptr};

void LogLock(TLogLevel level, const char* format, ...) __attribute__((format(printf, 2, 3)));
void LogLock(TLogLevel level, const char* format, ...) {
  char text[512];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof(text), format, args);
  va_end(args);
  GetLogger()->Log(nullptr, level, text);
}

std::string ErrorText(int code) { return std::strerror(code); }

TCodecMutex* HeldMutex(void** mutex) {
  if (!mutex || !*mutex) return nullptr;
  return static_cast<std::atomic<TCodecMutex*>*>(*mutex)->load();
}

int Create(void** mutex) {
  if (*mutex) {
    TCodecMutex* held = HeldMutex(mutex);
    LogLock(llError, "error, codec mutex [%d] already exist.", held ? held->Handle : 0);
    return -1;
  }
  if (TCodecMutex* stale = gHandle.exchange(nullptr)) {
    LogLock(llWarning, "warning, local codec mutex [%d] not destroyed.", stale->Handle);
    pthread_mutex_destroy(&stale->Mutex);
    delete stale;
  }
  auto* created = new TCodecMutex;
  pthread_mutexattr_t attr;
  pthread_mutexattr_init(&attr);
  pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
  int rc = pthread_mutex_init(&created->Mutex, &attr);
  pthread_mutexattr_destroy(&attr);
  if (rc != 0) {
    delete created;
    LogLock(llError, "error, failed to create codec mutex: %s.", ErrorText(rc).c_str());
    return -1;
  }
  created->Handle = ++gNextHandle;
  gHandle.store(created);
  LogLock(llDebug, "create codec mutex [%d].", created->Handle);
  *mutex = &gHandle;
  return 0;
}

int Obtain(void** mutex) {
  TCodecMutex* m = HeldMutex(mutex);
  if (!m) {
    LogLock(llError, "error, codec mutex not available.");
    return -1;
  }
  int rc = pthread_mutex_lock(&m->Mutex);
  if (rc != 0) {
    LogLock(llError, "error, could not wait on codec mutex [%d]: %s.", m->Handle, ErrorText(rc).c_str());
    return -1;
  }
  LogLock(llDebug, "obtain codec mutex [%d].", m->Handle);
  return 0;
}

int Release(void** mutex) {
  TCodecMutex* m = HeldMutex(mutex);
  if (!m) {
    LogLock(llError, "error, codec mutex not available.");
    return -1;
  }
  int rc = pthread_mutex_unlock(&m->Mutex);
  if (rc != 0) {
    LogLock(llError, "error, could not release codec mutex [%d]: %s.", m->Handle, ErrorText(rc).c_str());
    return -1;
  }
  LogLock(llDebug, "release codec mutex [%d].", m->Handle);
  return 0;
}

int Destroy(void** mutex) {
  if (TCodecMutex* m = HeldMutex(mutex)) {
    LogLock(llDebug, "destory codec mutex [%d].", m->Handle);
    gHandle.store(nullptr);
    pthread_mutex_destroy(&m->Mutex);
    delete m;
  }
  if (mutex) *mutex = nullptr;
  return 0;
}

}  // namespace

int CodecLockManager(void** mutex, int op) {
  // At shut-down the logger may be gone already; the libraries are being unloaded anyway.
  if (FFLoader().Finalized()) return 0;
  try {
    switch (op) {
      case kLockCreate: return Create(mutex);
      case kLockObtain: return Obtain(mutex);
      case kLockRelease: return Release(mutex);
      case kLockDestroy: return Destroy(mutex);
      default:
        LogLock(llError, "error, invalid codec mutex operation %d.", op);
        return -1;
    }
  } catch (...) {
    // A throwing OnLog handler must not unwind through codec code.
    return -1;
  }
}

int LockManagerRegister(TLockManager manager) {
  if (TLockManager old = gManager.exchange(nullptr)) old(&gLibraryMutex, kLockDestroy);
  gLibraryMutex = nullptr;
  if (manager) {
    gManager.store(manager);
    if (manager(&gLibraryMutex, kLockCreate)) return -1;
  }
  return 0;
}

void** LibraryCodecMutex() { return &gLibraryMutex; }

int OpenCodec(AVCodecContext* ctx, const AVCodec* codec, AVDictionary** options) {
  TLockManager manager = gManager.load();
  if (manager && manager(&gLibraryMutex, kLockObtain)) return -1;
  int rc = ff::avcodec_open2(ctx, codec, options);
  if (manager) manager(&gLibraryMutex, kLockRelease);
  return rc;
}

void CloseCodec(AVCodecContext* ctx) {
  TLockManager manager = gManager.load();
  // Closing without the lock would race another thread's open; skip the close rather than do that.
  if (manager && manager(&gLibraryMutex, kLockObtain)) return;
  ff::avcodec_close(ctx);
  if (manager) manager(&gLibraryMutex, kLockRelease);
}

}  // namespace qv
