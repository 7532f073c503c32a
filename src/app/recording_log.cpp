#include "app/recording_log.h"

#include <sys/time.h>

#include <algorithm>
#include <filesystem>
#include <vector>

#include "app/unit_general.h"

namespace qv {

namespace fs = std::filesystem;

namespace {
constexpr const char* kPrefix = "recording-";
constexpr const char* kSuffix = ".log";
}  // namespace

bool TRecordingLog::Open(const std::string& folder, const std::tm& local) {
  Close();
  if (folder.empty()) return false;
  std::error_code ec;
  fs::create_directories(folder, ec);
  RemoveOldLogs(folder);
  char stamp[32];
  std::strftime(stamp, sizeof(stamp), "%Y-%m-%d,%H_%M_%S", &local);
  std::string name = JoinPath(folder, std::string(kPrefix) + stamp + kSuffix);
  // Two recordings started within one second (a failed start and a retry) keep both logs.
  for (int n = 2; fs::exists(name, ec) && n < 100; ++n)
    name = JoinPath(folder, std::string(kPrefix) + stamp + "-" + std::to_string(n) + kSuffix);
  std::FILE* file = std::fopen(name.c_str(), "w");
  if (!file) return false;
  std::lock_guard<std::mutex> lock(Lock);
  File.reset(file);
  Name = name;
  return true;
}

void TRecordingLog::Line(const std::string& text) {
  timeval now{};
  gettimeofday(&now, nullptr);
  std::tm local{};
  localtime_r(&now.tv_sec, &local);
  char stamp[32];
  std::strftime(stamp, sizeof(stamp), "%H:%M:%S", &local);
  std::lock_guard<std::mutex> lock(Lock);
  if (!File) return;
  std::string line = text;
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
  std::fprintf(File.get(), "%s.%03ld %s\n", stamp, long(now.tv_usec / 1000), line.c_str());
  // Flushed line by line: the lines that matter most come just before a crash or a hang.
  std::fflush(File.get());
}

void TRecordingLog::Close() {
  std::lock_guard<std::mutex> lock(Lock);
  File.reset();
}

std::string TRecordingLog::FileName() const {
  std::lock_guard<std::mutex> lock(Lock);
  return Name;
}

void TRecordingLog::RemoveOldLogs(const std::string& folder) {
  std::error_code ec;
  std::vector<fs::path> logs;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder, ec)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind(kPrefix, 0) == 0 && name.size() > 4 && name.compare(name.size() - 4, 4, kSuffix) == 0)
      logs.push_back(entry.path());
  }
  // The names sort by their time stamps; room is made for the log about to start.
  std::sort(logs.begin(), logs.end());
  for (std::size_t i = 0; i + kKept <= logs.size(); ++i) fs::remove(logs[i], ec);
}

}  // namespace qv
