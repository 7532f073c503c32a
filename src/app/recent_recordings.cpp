#include "app/recent_recordings.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>

#include "app/unit_general.h"

namespace qv {

namespace fs = std::filesystem;

TRecentRecordings::TRecentRecordings(std::string listFile) : ListFile(std::move(listFile)) {}

std::vector<std::string> TRecentRecordings::Read() const {
  std::vector<std::string> files;
  std::ifstream in(ListFile);
  for (std::string line; std::getline(in, line);)
    if (!line.empty()) files.push_back(line);
  return files;
}

void TRecentRecordings::Write(const std::vector<std::string>& files) const {
  std::error_code ignored;
  fs::create_directories(fs::path(ListFile).parent_path(), ignored);
  // Written whole beside the list, then put in its place: a crash leaves the old list or the new.
  const std::string temp = ListFile + ".new";
  {
    std::ofstream out(temp, std::ios::trunc);
    for (const std::string& f : files) out << f << '\n';
    if (!out) return;
  }
  fs::rename(temp, ListFile, ignored);
}

std::vector<std::string> TRecentRecordings::Files() const {
  std::vector<std::string> files = Read();
  std::error_code ec;
  files.erase(std::remove_if(files.begin(), files.end(), [&](const std::string& f) { return !fs::is_regular_file(f, ec); }),
              files.end());
  return files;
}

void TRecentRecordings::Add(const std::string& file) {
  std::vector<std::string> files = Files();
  files.erase(std::remove(files.begin(), files.end(), file), files.end());
  files.insert(files.begin(), file);
  if (files.size() > kRecentRecordingsKept) files.resize(kRecentRecordingsKept);
  Write(files);
}

void TRecentRecordings::Remove(const std::string& file) {
  std::vector<std::string> files = Read();
  files.erase(std::remove(files.begin(), files.end(), file), files.end());
  Write(files);
}

std::string RecentListFile() { return GetStateFolder() + "recent-recordings.txt"; }

namespace {

// The path as the trash's info file writes it: escaped as in a URL, '/' kept.
std::string EscapedPath(const std::string& path) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : path) {
    if (std::isalnum(c) || std::strchr("/-_.~", c)) {
      out += char(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

std::string HomeTrash() {
  const char* data = std::getenv("XDG_DATA_HOME");
  const char* home = std::getenv("HOME");
  const std::string base = data && *data ? data : std::string(home ? home : "") + "/.local/share";
  return base + "/Trash";
}

// Claims a name in the trash by creating its info file; the name, or "" when none could be made.
std::string WriteTrashInfo(const std::string& trash, const std::string& file) {
  const fs::path src = fs::absolute(file);
  const std::string stem = src.stem().string(), ext = src.extension().string();
  char when[32];
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  std::strftime(when, sizeof(when), "%Y-%m-%dT%H:%M:%S", &local);
  const std::string info = "[Trash Info]\nPath=" + EscapedPath(src.string()) + "\nDeletionDate=" + when + "\n";
  for (int n = 1; n < 1000; ++n) {
    const std::string name = n == 1 ? src.filename().string() : stem + "." + std::to_string(n) + ext;
    const std::string infoFile = trash + "/info/" + name + ".trashinfo";
    const int fd = ::open(infoFile.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      return "";
    }
    const bool ok = ::write(fd, info.data(), info.size()) == ssize_t(info.size());
    ::close(fd);
    if (ok && !fs::exists(trash + "/files/" + name)) return name;
    ::unlink(infoFile.c_str());
    if (!ok) return "";
  }
  return "";
}

bool GioTrash(const std::string& file) {
  const pid_t pid = ::fork();
  if (pid < 0) return false;
  if (pid == 0) {
    ::execlp("gio", "gio", "trash", "--", file.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

bool MoveToTrash(const std::string& file, std::string& error) {
  const std::string trash = HomeTrash();
  std::error_code ec;
  fs::create_directories(trash + "/files", ec);
  fs::create_directories(trash + "/info", ec);
  const std::string name = WriteTrashInfo(trash, file);
  if (!name.empty()) {
    if (::rename(file.c_str(), (trash + "/files/" + name).c_str()) == 0) return true;
    const int why = errno;
    ::unlink((trash + "/info/" + name + ".trashinfo").c_str());
    if (why != EXDEV) {
      error = "Cannot move " + file + " to the trash: " + std::strerror(why);
      return false;
    }
  }
  // Another file system: its own trash folder is the desktop's business.
  if (GioTrash(file) && !fs::exists(file, ec)) return true;
  error = "Cannot move " + file + " to the trash; it was left where it is.";
  return false;
}

}  // namespace qv
