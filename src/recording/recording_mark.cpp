#include "recording/recording_mark.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <filesystem>

namespace qv {

namespace {

namespace fs = std::filesystem;

constexpr char kMarkSuffix[] = ".mark";

bool WriteAll(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += size_t(n);
  }
  return true;
}

std::string ReadAll(int fd) {
  std::string text;
  char buffer[4096];
  ssize_t n;
  while ((n = ::read(fd, buffer, sizeof buffer)) > 0) text.append(buffer, size_t(n));
  return text;
}

// Locked, written and on the disk under a hidden name first, then renamed into place (the lock
// goes with the file): whoever looks for marks never finds one half written or not yet locked.
int WriteLockedMark(const std::string& folder, const std::string& fileName, std::string& path) {
  const std::string stem = "recording-" + std::to_string(std::time(nullptr)) + "-";
  std::string temp = (fs::path(folder) / ("." + stem + "XXXXXX")).string();
  const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
  if (fd < 0) return -1;
  path = (fs::path(folder) / (stem + temp.substr(temp.size() - 6) + kMarkSuffix)).string();
  if (::flock(fd, LOCK_EX) != 0 || !WriteAll(fd, fileName + "\n") || ::fdatasync(fd) != 0 ||
      ::rename(temp.c_str(), path.c_str()) != 0) {
    const int error = errno;
    ::unlink(temp.c_str());
    ::close(fd);
    errno = error;
    return -1;
  }
  return fd;
}

}  // namespace

std::unique_ptr<TRecordingMark> TRecordingMark::Create(const std::string& folder, const std::string& fileName,
                                                       std::string& error) {
  std::error_code ec;
  fs::create_directories(folder, ec);
  std::string path;
  const int fd = WriteLockedMark(folder, fileName, path);
  if (fd < 0) {
    error = "The recording cannot be marked as under way in " + folder + ": " + std::strerror(errno);
    return nullptr;
  }
  return std::unique_ptr<TRecordingMark>(new TRecordingMark(fd, path));
}

TRecordingMark::~TRecordingMark() { ::close(Fd); }

void TRecordingMark::Remove() { ::unlink(Path.c_str()); }

std::vector<TLeftMark> FindLeftMarks(const std::string& folder) {
  std::vector<TLeftMark> marks;
  std::error_code ec;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder, ec)) {
    const std::string name = entry.path().filename().string();
    if (name.empty() || name[0] == '.' || !entry.path().string().ends_with(kMarkSuffix)) continue;
    const int fd = ::open(entry.path().c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) continue;
    // A lock we can take belongs to no running recording.
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
      std::string text = ReadAll(fd);
      if (!text.empty() && text.back() == '\n') text.pop_back();
      marks.push_back({entry.path().string(), text});
    }
    ::close(fd);
  }
  std::sort(marks.begin(), marks.end(), [](const TLeftMark& a, const TLeftMark& b) { return a.Path < b.Path; });
  return marks;
}

void RemoveMark(const TLeftMark& mark) { ::unlink(mark.Path.c_str()); }

}  // namespace qv
