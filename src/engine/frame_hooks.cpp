// Frame hooks (`vhook`): shared objects exporting "Configure", "Process" and "Release" that process
// every decoded picture in place. A library file is loaded once per process.
#include <dlfcn.h>
#include <unistd.h>

#include <climits>
#include <cstring>
#include <map>

#include "engine/custom_ffmpeg.h"

namespace qv {

namespace {

std::mutex& HookLibraryLock() {
  static std::mutex lock;
  return lock;
}

// Loaded libraries by file name; they stay loaded for the life of the process.
std::map<std::string, void*>& HookLibraries() {
  static std::map<std::string, void*> list;
  return list;
}

}  // namespace

int TCustomFFmpeg::AddFrameHook(const std::string& argument) {
  // Split at "|" when there is one (a path may contain blanks), else at blanks.
  const char* seps = argument.find('|') != std::string::npos ? "|" : " \t";
  std::vector<std::string> tokens;
  size_t pos = 0;
  while (pos < argument.size() && tokens.size() < 254) {
    size_t start = argument.find_first_not_of(seps, pos);
    if (start == std::string::npos) break;
    size_t end = argument.find_first_of(seps, start);
    tokens.push_back(argument.substr(start, end == std::string::npos ? std::string::npos : end - start));
    pos = end == std::string::npos ? argument.size() : end;
  }
  if (tokens.empty()) return -2;

  // A hook in a folder of its own runs its set-up from that folder (it may open files there).
  std::string path = tokens[0];
  std::string previousDir;
  const size_t slash = path.rfind('/');
  if (slash != std::string::npos) {
    char cwd[PATH_MAX];
    if (getcwd(cwd, sizeof(cwd))) previousDir = cwd;
    if (path[0] != '/' && !previousDir.empty()) path = previousDir + "/" + path;
  }
  struct TRestoreDir {
    std::string Dir;
    ~TRestoreDir() {
      if (!Dir.empty() && chdir(Dir.c_str()) != 0) {
        // The old folder is gone: there is nothing to go back to.
      }
    }
  } restore{previousDir};
  if (slash != std::string::npos) {
    std::string dir = path.substr(0, path.rfind('/'));
    if (!dir.empty() && chdir(dir.c_str()) != 0) {
      // Set-up then runs from the current folder.
    }
  }

  // A library stays loaded once opened: a hook of an earlier task may still have its code in use.
  void* handle = nullptr;
  {
    std::lock_guard<std::mutex> lock(HookLibraryLock());
    auto it = HookLibraries().find(path);
    if (it != HookLibraries().end()) {
      handle = it->second;
    } else {
      handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
      if (!handle) {
        const char* err = dlerror();
        Log(llError, err ? err : ("cannot load " + path));
        return -1;
      }
      HookLibraries()[path] = handle;
    }
  }

  TFrameHook hook;
  hook.Configure = reinterpret_cast<TFrameHook::TConfigure>(dlsym(handle, "Configure"));
  hook.Process = reinterpret_cast<TFrameHook::TProcess>(dlsym(handle, "Process"));
  hook.Release = reinterpret_cast<TFrameHook::TRelease>(dlsym(handle, "Release"));
  if (!hook.Process) {
    Log(llError, Format("Failed to find Process entrypoint in %s\n", tokens[0].c_str()));
    return -2;
  }
  if (!hook.Configure && tokens.size() > 1) {
    Log(llError, Format("Failed to find Configure entrypoint in %s\n", tokens[0].c_str()));
    return -2;
  }
  if (hook.Configure) {
    std::vector<char*> argv;
    for (auto& t : tokens) argv.push_back(t.data());
    argv.push_back(nullptr);
    if (hook.Configure(&hook.Ctx, int(tokens.size()), argv.data()) != 0) {
      Log(llError, Format("Failed to Configure %s\n", tokens[0].c_str()));
      return -22;
    }
  }
  FrameHooks.push_back(hook);
  return 0;
}

void TCustomFFmpeg::RunFrameHooks(AVFrame* picture, std::int64_t pts) {
  for (TFrameHook& h : FrameHooks)
    h.Process(h.Ctx, picture->data, picture->linesize, picture->format, picture->width, picture->height, pts);
}

void TCustomFFmpeg::ReleaseFrameHooks() {
  for (TFrameHook& h : FrameHooks)
    if (h.Release) h.Release(h.Ctx);
  FrameHooks.clear();
}

}  // namespace qv
