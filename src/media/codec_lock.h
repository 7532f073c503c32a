// The codec lock: serialises codec opening and closing across threads. Current libavcodec no longer
// lets a program register a lock manager, so the program's own open/close wrappers call the lock
// manager callback around the library calls, the way the library used to.
#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
}

namespace qv {

// Operations of the lock manager callback (the library's old numbering).
enum TLockOp : int { kLockCreate = 0, kLockObtain = 1, kLockRelease = 2, kLockDestroy = 3 };

// The callback: `mutex` is the caller's slot (it refers to the program's mutex once created).
// 0 on success, -1 on failure; every failure is logged, nothing is thrown.
int CodecLockManager(void** mutex, int op);

using TLockManager = int (*)(void** mutex, int op);

// Stand-in for the library's old registration call: destroys the mutex of a manager registered
// before, then (with a manager) creates a new one. nullptr unregisters. 0 or -1.
int LockManagerRegister(TLockManager manager);

// The slot the open/close wrappers hand to the lock manager (it refers to the program's mutex while a
// manager is registered): lets other code take the same lock.
void** LibraryCodecMutex();

// avcodec_open2 / avcodec_close under the codec lock. OpenCodec returns -1 when the lock cannot be
// obtained, otherwise what avcodec_open2 returns.
int OpenCodec(AVCodecContext* ctx, const AVCodec* codec, AVDictionary** options);
void CloseCodec(AVCodecContext* ctx);

}  // namespace qv
