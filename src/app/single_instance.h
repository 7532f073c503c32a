// The per-user lock "ZMX_Quorvane" that keeps a second copy of the program from starting. It is an
// flock on a file in the user's runtime folder: the system drops it when the process ends, however
// it ends, so a crashed instance never blocks the next start.
#pragma once

#include <string>

namespace qv {

// The lock of the tray program: one instance per user.
inline constexpr char kInstanceLock[] = "ZMX_Quorvane";

class TSingleInstance {
 public:
  TSingleInstance() = default;
  ~TSingleInstance();
  TSingleInstance(const TSingleInstance&) = delete;
  TSingleInstance& operator=(const TSingleInstance&) = delete;

  // True when this process now holds the lock; false when another process does (or the lock file
  // cannot be made, which is then told by LastError).
  bool Acquire(const std::string& name);
  bool AlreadyRunning() const { return FAlreadyRunning; }
  const std::string& LastError() const { return FLastError; }
  // $XDG_RUNTIME_DIR/<name>.lock, or /tmp/quorvane-<uid>/<name>.lock without a runtime folder.
  static std::string LockFileName(const std::string& name);
  // The channel of the instance that holds the lock: a socket beside the lock file
  // (<name>.socket), in the same private folder. Only the holder may listen there.
  static std::string ChannelName(const std::string& name);

 private:
  int Fd = -1;
  bool FAlreadyRunning = false;
  std::string FLastError;
};

}  // namespace qv
