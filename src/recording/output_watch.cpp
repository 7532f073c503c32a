#include "recording/output_watch.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <vector>

namespace qv {

namespace {

// `name` in `folder`, numbered from 2 on: "a.avi", "a (2).avi", ...
std::string NumberedName(const std::filesystem::path& folder, const std::filesystem::path& name, int number) {
  if (number < 2) return (folder / name).string();
  return (folder / (name.stem().string() + " (" + std::to_string(number) + ")" + name.extension().string())).string();
}

std::string SystemReason(int error) { return std::generic_category().message(error); }

}  // namespace

TDiskWatch::TDiskWatch(TOutputFormat format)
    : IndexBytesPerFrame(format == TOutputFormat::Avi ? kChunksPerFrame * kIndexBytesPerChunk
                                                      : kFragmentedIndexBytesPerFrame) {}

TDiskVerdict TDiskWatch::Judge(const TDiskReading& now) {
  UpdateRates(now);
  if (Stopped || now.FreeBytes < NeedFor(now, kStopLeadSeconds)) {
    Stopped = true;
    return TDiskVerdict::Stop;
  }
  if (!Warned && now.FreeBytes < NeedFor(now, kWarnLeadSeconds)) {
    Warned = true;
    return TDiskVerdict::Warn;
  }
  return TDiskVerdict::Fine;
}

void TDiskWatch::UpdateRates(const TDiskReading& now) {
  const double total = double(now.ElapsedUs) / 1e6;
  if (total <= 0) return;
  // The run's average, or the rate since the last look when that is higher: a burst counts at
  // once, and a quiet moment does not make the space look plentiful.
  BytesPerSecond = double(now.FileBytes) / total;
  FramesPerSecond = double(now.Frames) / total;
  const double seconds = double(now.ElapsedUs - Previous.ElapsedUs) / 1e6;
  if (HavePrevious && seconds < 0.25) return;  // too soon after the last look to say much
  if (HavePrevious) {
    BytesPerSecond = std::max(BytesPerSecond, double(now.FileBytes - Previous.FileBytes) / seconds);
    FramesPerSecond = std::max(FramesPerSecond, double(now.Frames - Previous.Frames) / seconds);
  }
  Previous = now;
  HavePrevious = true;
}

std::int64_t TDiskWatch::NeedFor(const TDiskReading& now, double seconds) const {
  const double frames = double(now.Frames) + FramesPerSecond * seconds;
  return kMarginBytes + std::int64_t(frames * double(IndexBytesPerFrame) + BytesPerSecond * seconds);
}

TOutputWatch::~TOutputWatch() { Close(); }

bool TOutputWatch::Open(const std::string& path) {
  Close();
  Fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat st {};
  if (Fd < 0 || ::fstat(Fd, &st) != 0) {
    Close();
    return false;
  }
  Path = path;
  Device = st.st_dev;
  Inode = st.st_ino;
  return true;
}

void TOutputWatch::Close() {
  if (Fd >= 0) ::close(Fd);
  Fd = -1;
}

std::int64_t TOutputWatch::FreeBytes() const {
  struct statvfs fs {};
  if (Fd < 0 || ::fstatvfs(Fd, &fs) != 0) return -1;
  return std::int64_t(fs.f_bavail) * std::int64_t(fs.f_frsize);
}

bool TOutputWatch::Vanished() const {
  struct stat st {};
  if (Fd < 0 || ::fstat(Fd, &st) != 0) return false;
  if (st.st_nlink == 0) return true;
  if (::stat(Path.c_str(), &st) != 0) return errno == ENOENT || errno == ENOTDIR;
  return st.st_dev != Device || st.st_ino != Inode;
}

std::int64_t TOutputWatch::Bytes() const {
  struct stat st {};
  if (Fd < 0 || ::fstat(Fd, &st) != 0) return -1;
  return std::int64_t(st.st_size);
}

std::string TOutputWatch::SaveCopy(const std::string& spareFolder, std::string& error) const {
  const std::filesystem::path original(Path);
  const std::filesystem::path name = original.filename();
  std::vector<std::filesystem::path> folders{original.parent_path()};
  if (!spareFolder.empty()) folders.emplace_back(spareFolder);
  for (const auto& folder : folders) {
    std::error_code ec;
    // An empty folder is the current one (a name given without one), which is there.
    if (!folder.empty()) std::filesystem::create_directories(folder, ec);
    if (ec) {
      error += (error.empty() ? "" : "; ") + folder.string() + ": " + ec.message();
      continue;
    }
    for (int number = 1; number < 100; ++number) {
      const std::string target = NumberedName(folder, name, number);
      std::string reason;
      if (CopyTo(target, reason)) return target;
      if (reason.empty()) continue;  // the name is taken
      error += (error.empty() ? "" : "; ") + target + ": " + reason;
      break;
    }
  }
  return {};
}

// Empty `error` on failure: the name is taken, try another.
bool TOutputWatch::CopyTo(const std::string& path, std::string& error) const {
  const int out = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (out < 0) {
    if (errno != EEXIST) error = SystemReason(errno);
    return false;
  }
  std::vector<char> buffer(1 << 20);
  off_t offset = 0;
  int failure = 0;
  for (;;) {
    const ssize_t n = ::pread(Fd, buffer.data(), buffer.size(), offset);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      failure = n < 0 ? errno : 0;
      break;
    }
    ssize_t done = 0;
    while (done < n) {
      const ssize_t w = ::write(out, buffer.data() + done, size_t(n - done));
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) {
        failure = w < 0 ? errno : EIO;
        break;
      }
      done += w;
    }
    if (failure) break;
    offset += n;
  }
  if (!failure && ::fsync(out) != 0) failure = errno;
  if (::close(out) != 0 && !failure) failure = errno;
  if (failure) {
    ::unlink(path.c_str());
    error = SystemReason(failure);
    return false;
  }
  return true;
}

}  // namespace qv
