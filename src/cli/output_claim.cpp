#include "cli/output_claim.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace qv {

namespace {

std::string Refusal(const std::string& name, TOverwrite overwrite) {
  return "File '" + name + "' already exists." + (overwrite == TOverwrite::Never ? " Exiting." : " Use -y to overwrite.");
}

}  // namespace

std::string ExistingOutputRefusal(const std::string& name, TOverwrite overwrite) {
  struct stat st{};
  if (overwrite == TOverwrite::Always || ::lstat(name.c_str(), &st) != 0) return "";
  return Refusal(name, overwrite);
}

std::string TOutputClaim::Take(const std::string& name, TOverwrite overwrite) {
  const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) return errno == EEXIST && overwrite != TOverwrite::Always ? Refusal(name, overwrite) : "";
  struct stat st{};
  if (::fstat(fd, &st) == 0) {
    Name = name;
    Created = true;
    Device = st.st_dev;
    Inode = st.st_ino;
  }
  ::close(fd);
  return "";
}

TOutputClaim::~TOutputClaim() {
  struct stat st{};
  if (Created && ::lstat(Name.c_str(), &st) == 0 && st.st_dev == Device && st.st_ino == Inode && st.st_size == 0)
    ::unlink(Name.c_str());
}

}  // namespace qv
