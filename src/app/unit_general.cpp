#include "app/unit_general.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <vector>

namespace qv {

std::string SelectedOffset;
std::string SelectedSize;
std::uint64_t SelectedWindow = 0;

namespace {

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value ? std::string(value) : std::string();
}

std::string HomeFolder() {
  std::string home = Env("HOME");
  if (!home.empty()) return home;
  if (const passwd* entry = getpwuid(getuid()); entry && entry->pw_dir) return entry->pw_dir;
  return {};
}

// XDG base folders must be absolute; a relative value is to be ignored.
std::string ConfigHome() {
  std::string dir = Env("XDG_CONFIG_HOME");
  if (!dir.empty() && dir[0] == '/') return dir;
  std::string home = HomeFolder();
  return home.empty() ? std::string() : JoinPath(home, ".config");
}

// One value of user-dirs.dirs: XDG_DOCUMENTS_DIR="$HOME/Documents" (only "$HOME/" or an absolute
// path are allowed by the format; anything else is ignored).
std::string DocumentsFromUserDirs(const std::string& configHome, const std::string& home) {
  if (configHome.empty()) return {};
  std::ifstream in(JoinPath(configHome, "user-dirs.dirs"));
  std::string line;
  const std::string key = "XDG_DOCUMENTS_DIR=";
  std::string result;
  while (std::getline(in, line)) {
    size_t start = line.find_first_not_of(" \t");
    if (start == std::string::npos || line.compare(start, key.size(), key) != 0) continue;
    std::string value = line.substr(start + key.size());
    while (!value.empty() && (value.back() == '\r' || value.back() == ' ' || value.back() == '\t')) value.pop_back();
    if (value.size() < 2 || value.front() != '"' || value.back() != '"') continue;
    value = value.substr(1, value.size() - 2);
    if (value.rfind("$HOME", 0) == 0) {
      if (home.empty()) continue;
      value = home + value.substr(5);
    } else if (value.empty() || value[0] != '/') {
      continue;
    }
    result = value;  // the last assignment wins, as when the file is sourced by a shell
  }
  return result;
}

// What an install without its packaged settings file starts from: every key at the value the
// options window falls back to (an empty OutputFolder becomes the documents folder at the start).
constexpr const char* kBuiltInOptions =
    "; Settings of Quorvane. The options window (tray menu, \"Options...\") edits this file.\n"
    "[Recorder]\nBoolRecordAudio=1\nBoolBlinkRecord=1\nBoolEveryFrame=0\nBoolShowClicks=0\nBoolShowKeys=0\nBoolSpotlight=0\nBoolPlayback=1\n"
    "StartHotkey=\nStopHotkey=\nPauseHotkey=\nResumeHotkey=\nRegionToCapture=Region\nShowTip=1\n\n"
    "[OutputType]\nBoolSameToOriginal=1\nWidth=320\nHeight=240\nFrameSize=6\nVideoBitrate=3\n"
    "AudioBitrate=7\nAudioSamplerate=1\n\n"
    "[Save]\nBoolAutoSave=1\nOutputFolder=\n";

std::string DocumentsFolder() {
  std::string dir = Env("XDG_DOCUMENTS_DIR");
  if (!dir.empty() && dir[0] == '/') return dir;
  std::string home = HomeFolder();
  dir = DocumentsFromUserDirs(ConfigHome(), home);
  if (!dir.empty()) return dir;
  return home.empty() ? std::string() : JoinPath(home, "Documents");
}

}  // namespace

std::string JoinPath(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  if (folder.back() == '/') return folder + name;
  return folder + "/" + name;
}

std::string GetOptionsFileName() {
  std::string dir = ConfigHome();
  if (dir.empty()) return {};
  return JoinPath(dir, "Quorvane/Options.ini");
}

std::string GetDefaultOutputFolder() {
  std::string dir = DocumentsFolder();
  if (dir.empty()) return {};
  return JoinPath(dir, "Quorvane/");
}

std::string GetStateFolder() {
  std::string dir = Env("XDG_STATE_HOME");
  if (dir.empty() || dir[0] != '/') {
    std::string home = HomeFolder();
    if (home.empty()) return {};
    dir = JoinPath(home, ".local/state");
  }
  return JoinPath(dir, "Quorvane/");
}

std::string GetProgramFolder() {
  std::vector<char> buffer(4096);
  ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
  if (length <= 0) return "./";
  std::string path(buffer.data(), size_t(length));
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string("./") : path.substr(0, slash + 1);
}

std::string GetPackagedOptionsFileName() { return JoinPath(GetProgramFolder(), "default-options.ini"); }

bool CreateOptionsFile(const std::string& path, std::string& error) {
  const std::filesystem::path file(path);
  if (!CreateFolder(file.parent_path().string(), error)) return false;
  std::error_code ec;
  const std::string packaged = GetPackagedOptionsFileName();
  if (std::filesystem::is_regular_file(packaged, ec)) {
    if (std::filesystem::copy_file(packaged, file, ec)) return true;
    error = "Cannot copy " + packaged + " to " + path + ": " + ec.message();
    return false;
  }
  std::ofstream out(file, std::ios::binary);
  out << kBuiltInOptions;
  out.close();
  if (out) return true;
  error = "Cannot write " + path + ".";
  return false;
}

bool CreateFolder(const std::string& folder, std::string& error) {
  std::error_code ec;
  if (folder.empty() || std::filesystem::is_directory(folder, ec)) return true;
  if (std::filesystem::create_directories(folder, ec)) return true;
  // Another program may have made it meanwhile; only a folder still missing is a failure.
  if (std::filesystem::is_directory(folder, ec)) return true;
  error = ec ? ec.message() : "a file of that name is in the way";
  return false;
}

std::string GetLibraryFolder() { return JoinPath(GetProgramFolder(), "LibAV"); }

}  // namespace qv
