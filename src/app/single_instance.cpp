#include "app/single_instance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace qv {

std::string TSingleInstance::LockFileName(const std::string& name) {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime && runtime[0] == '/') {
    struct stat st;
    if (stat(runtime, &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == getuid())
      return std::string(runtime) + "/" + name + ".lock";
  }
  return "/tmp/quorvane-" + std::to_string(getuid()) + "/" + name + ".lock";
}

std::string TSingleInstance::ChannelName(const std::string& name) {
  const std::string lock = LockFileName(name);
  return lock.substr(0, lock.size() - std::strlen(".lock")) + ".socket";
}

bool TSingleInstance::Acquire(const std::string& name) {
  std::string file = LockFileName(name);
  std::string dir = file.substr(0, file.rfind('/'));
  if (dir.rfind("/tmp/quorvane-", 0) == 0) {
    // A folder in the shared /tmp must be ours and private, or another user could hold our lock.
    if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
      FLastError = "Cannot create " + dir + ": " + std::strerror(errno);
      return false;
    }
    struct stat st;
    if (lstat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != getuid()) {
      FLastError = dir + " does not belong to this user";
      return false;
    }
  }
  Fd = open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (Fd < 0) {
    FLastError = "Cannot open " + file + ": " + std::strerror(errno);
    return false;
  }
  if (flock(Fd, LOCK_EX | LOCK_NB) != 0) {
    if (errno == EWOULDBLOCK) FAlreadyRunning = true;
    else FLastError = "Cannot lock " + file + ": " + std::strerror(errno);
    close(Fd);
    Fd = -1;
    return false;
  }
  return true;
}

TSingleInstance::~TSingleInstance() {
  if (Fd >= 0) close(Fd);
}

}  // namespace qv
