#include "media/loader.h"

#include <dlfcn.h>
#include <gnu/lib-names.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cassert>
#include <cfenv>
#include <stdexcept>

#include "media/c_numbers.h"
#include "media/codec_lock.h"
#include "media/elf_needed.h"
#include "media/ff_api.h"
#include "media/fifo_protocol.h"
#include "media/interrupt.h"
#include "media/logger.h"
#include "media/unicode_protocol.h"

namespace qv {

namespace {

struct TLibraryItem {
  const char* Name;
  bool IsSystem;  // never taken from the library folder
  int Version;
};

const TLibraryItem kLibraries[kLibraryKindCount] = {
    {"avcodec", false, LIBAVCODEC_VERSION_MAJOR}, {"swresample", false, LIBSWRESAMPLE_VERSION_MAJOR},
    {"avdevice", false, LIBAVDEVICE_VERSION_MAJOR}, {"avfilter", false, LIBAVFILTER_VERSION_MAJOR},
    {"avformat", false, LIBAVFORMAT_VERSION_MAJOR}, {"avutil", false, LIBAVUTIL_VERSION_MAJOR},
    {"swscale", false, LIBSWSCALE_VERSION_MAJOR},   {"c", true, -1},
};

// Unloading drops the pointers, the hooks and our references, but the code stays mapped: the media
// libraries pull in dozens of others (drivers, codecs, TLS users) that start threads or register
// handlers and are not safe to unmap while the process runs, and memory they keep would turn into
// leaks once their data is unmapped.
constexpr int kOpenFlags = RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE;

bool IsRegularFile(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string DlError() {
  const char* text = ::dlerror();
  return text ? text : "unknown error";
}

// Maps the folder's copies of the libraries `file` needs, dependencies first, so that when `file`
// itself is mapped its needed sonames match objects already in the process and never go to the
// system search. This is what the program's directory and PATH did for the libraries' own
// dependencies on the platform this design comes from: Linux resolves dependencies by soname and
// reads LD_LIBRARY_PATH only at process start, so preloading the folder's copies is the equivalent.
// Returns false with `error` set when a folder copy exists but cannot be mapped: loading the library
// anyway would quietly bind it to the system's copy of that dependency.
bool PreloadFolderDependencies(const std::string& folder, const std::string& file, std::vector<void*>& handles,
                               std::string& error, int depth) {
  if (depth > 16) return true;  // shared-object graphs have no cycles; this only guards a broken folder
  for (const std::string& soname : ElfNeededLibraries(file)) {
    if (soname.find('/') != std::string::npos) continue;
    const std::string candidate = folder + soname;
    if (!IsRegularFile(candidate)) continue;
    // A copy under this soname is mapped already (perhaps the system's, pulled in by a library the
    // folder lacks): a second copy would split that library's global state, so keep the first.
    if (void* mapped = ::dlopen(soname.c_str(), RTLD_NOW | RTLD_NOLOAD)) {
      ::dlclose(mapped);
      continue;
    }
    if (!PreloadFolderDependencies(folder, candidate, handles, error, depth + 1)) return false;
    void* handle = ::dlopen(candidate.c_str(), kOpenFlags);
    if (!handle) {
      error = DlError();
      return false;
    }
    handles.push_back(handle);
  }
  return true;
}

void ClearPointers(TLibraryKind kind) {
  int count = 0;
  const TFunctionEntry* entries = FunctionEntries(count);
  for (int i = 0; i < count; ++i)
    if (entries[i].Kind == kind) *entries[i].Slot = nullptr;
}

// Resolves every name of the kind's table; throws with the resolution text on a missing mandatory
// name (the caller clears the table again).
void ResolveTable(TLibraryKind kind, const std::string& fileName, void* handle) {
  int count = 0;
  const TFunctionEntry* entries = FunctionEntries(count);
  for (int i = 0; i < count; ++i)
    if (entries[i].Kind == kind)
      *entries[i].Slot = ResolveFunction(fileName, handle, entries[i].Name, entries[i].Optional);
  // The device library's formats become visible to the format library only once registered.
  if (kind == kAvdevice) ff::avdevice_register_all();
}

void* Resolve(const char* what, const std::string& fileName, void* handle, const char* name, bool optional) {
  ::dlerror();
  void* address = ::dlsym(handle, name);
  if (address || optional) return address;
  const std::string error = DlError();
  throw std::runtime_error(std::string("Load ") + what + " " + name + "@" + fileName + " error: " + error);
}

// The hooks the program keeps in each library; run after every load, also of a library that was
// loaded already.
void InstallHooks(TLibraryKind kind) {
  switch (kind) {
    case kAvcodec: LockManagerRegister(CodecLockManager); break;
    case kAvutil:
      GetLogger()->HookLibraryLog();
      KeepNumbersInCLocale();
      break;
    case kAvformat:
      RegisterUnicodeProtocol();
      RegisterFifoProtocol();
      InstallInterruptCallback(true);
      break;
    default: break;
  }
}

}  // namespace

void* ResolveFunction(const std::string& fileName, void* handle, const char* name, bool optional) {
  return Resolve("function", fileName, handle, name, optional);
}

void* ResolveVariable(const std::string& fileName, void* handle, const char* name, bool optional) {
  return Resolve("variable", fileName, handle, name, optional);
}

std::string DefaultLibraryPath() {
  char exe[4096];
  ssize_t n = ::readlink("/proc/self/exe", exe, sizeof(exe) - 1);
  if (n <= 0) return "LibAV";
  std::string path(exe, std::size_t(n));
  return path.substr(0, path.rfind('/') + 1) + "LibAV";
}

TFFLoader::TFFLoader() : LibraryPath(DefaultLibraryPath()) {}

std::string TFFLoader::LibraryFileName(TLibraryKind kind) const {
  if (kind == kCLibrary) return LIBC_SO;
  const TLibraryItem& item = kLibraries[kind];
  std::string name = std::string("lib") + item.Name + ".so";
  if (item.Version >= 0) name += "." + std::to_string(item.Version);
  return name;
}

bool TFFLoader::LoadLibrary(TLibraryKind kind) {
  if (kind < 0 || kind >= kLibraryKindCount) return false;
  TLibraryStatus& st = Status[kind];
  if (!st.Handle) {
    const std::string name = LibraryFileName(kind);
    std::string folder;
    if (!LibraryPath.empty() && !kLibraries[kind].IsSystem)
      folder = LibraryPath.back() == '/' ? LibraryPath : LibraryPath + "/";
    std::string path = name;
    if (!folder.empty() && IsRegularFile(folder + name)) {
      path = folder + name;
      // Mapped already under its soname (as a dependency of a library loaded before): share it.
      st.Handle = ::dlopen(name.c_str(), RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
      std::string dependencyError;
      if (!st.Handle && PreloadFolderDependencies(folder, path, st.Dependencies, dependencyError, 0))
        st.Handle = ::dlopen(path.c_str(), kOpenFlags);
      if (!st.Handle && !dependencyError.empty()) {
        FLastError = "Load library " + path + " error: " + dependencyError;
        ReleaseDependencies(st);
        return false;
      }
    } else {
      st.Handle = ::dlopen(name.c_str(), kOpenFlags);
    }
    if (!st.Handle) {
      // Names the folder even after a system search: that is where the program expects its copy.
      FLastError = "Load library " + folder + name + " error: " + DlError();
      ReleaseDependencies(st);
      return false;
    }
  }
  if (!st.Loaded) {
    try {
      ResolveTable(kind, LibraryFileName(kind), st.Handle);
      st.Loaded = true;
    } catch (const std::exception& e) {
      FLastError = e.what();
      ClearPointers(kind);
    }
  }
  if (!st.Loaded) {
    UnloadLibrary(kind);
    return false;
  }
  try {
    InstallHooks(kind);
  } catch (const std::exception& e) {
    FLastError = e.what();
    return false;
  }
  return true;
}

bool TFFLoader::LoadLibraries(TLibrarySet set) {
  assert(set != 0 && "LoadLibraries: empty library set");
  if (set == 0) {
    FLastError = "No library to load.";
    return false;
  }
  for (int kind = 0; kind < kLibraryKindCount; ++kind) {
    if (!(set & LibraryBit(TLibraryKind(kind)))) continue;
    if (!LoadLibrary(TLibraryKind(kind))) {
      UnloadLibraries(set);
      return false;
    }
  }
  return true;
}

bool TFFLoader::IsLoaded(TLibraryKind kind) const {
  if (kind < 0 || kind >= kLibraryKindCount) return false;
  return Status[kind].Handle && Status[kind].Loaded;
}

bool TFFLoader::AllLoaded(TLibrarySet set) const {
  assert(set != 0 && "AllLoaded: empty library set");
  if (set == 0) return false;
  for (int kind = 0; kind < kLibraryKindCount; ++kind)
    if ((set & LibraryBit(TLibraryKind(kind))) && !IsLoaded(TLibraryKind(kind))) return false;
  return true;
}

void TFFLoader::UnloadLibrary(TLibraryKind kind) {
  if (kind < 0 || kind >= kLibraryKindCount) return;
  TLibraryStatus& st = Status[kind];
  if (st.Loaded) {
    if (kind == kAvcodec) LockManagerRegister(nullptr);
    if (kind == kAvformat) InstallInterruptCallback(false);
    ClearPointers(kind);
    st.Loaded = false;
  }
  if (st.Handle) {
    ::dlclose(st.Handle);
    st.Handle = nullptr;
  }
  ReleaseDependencies(st);
}

void TFFLoader::UnloadLibraries(TLibrarySet set) {
  assert(set != 0 && "UnloadLibraries: empty library set");
  for (int kind = 0; kind < kLibraryKindCount; ++kind)
    if (set & LibraryBit(TLibraryKind(kind))) UnloadLibrary(TLibraryKind(kind));
}

void TFFLoader::ReleaseDependencies(TLibraryStatus& st) {
  for (auto it = st.Dependencies.rbegin(); it != st.Dependencies.rend(); ++it) ::dlclose(*it);
  st.Dependencies.clear();
}

TFFLoader& FFLoader() {
  // Never destroyed: the shut-down object below unloads the libraries explicitly, and other units'
  // static objects may still ask the loader while they are torn down.
  static TFFLoader* loader = new TFFLoader;
  return *loader;
}

// Start-up and shut-down of the media runtime.
struct TLoaderShutdown {
  std::fenv_t Saved;
  TLoaderShutdown() {
    // The libraries compute with floating point that may overflow or divide by zero on odd input;
    // mask every floating-point exception and round to nearest while the program runs.
    std::fegetenv(&Saved);
    std::fenv_t held;
    std::feholdexcept(&held);
    std::fesetround(FE_TONEAREST);
    FFLoader();
    InterruptCB();
  }
  ~TLoaderShutdown() {
    std::fesetenv(&Saved);
    TFFLoader& loader = FFLoader();
    loader.FFinalized = true;
    loader.UnloadLibraries(kAllLibraries);
    FreeInterruptCB();
    FreeAutoCreatedLogger();
    loader.FLastError.clear();
    loader.LibraryPath.clear();
  }
};

namespace {
TLoaderShutdown gRuntime;
}  // namespace

}  // namespace qv
