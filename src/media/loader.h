// TFFLoader finds, loads and unloads the media libraries, fills the ff:: pointer tables and installs
// the program's hooks after each load (codec lock, log callback, "unicode" protocol, interrupt callback).
#pragma once

#include <string>
#include <vector>

#include "media/library_kind.h"

namespace qv {

class TFFLoader {
 public:
  const std::string& LastError() const { return FLastError; }
  // Folder searched before the system; initially the "LibAV" folder next to the program.
  void SetLibraryPath(const std::string& path) { LibraryPath = path; }
  const std::string& GetLibraryPath() const { return LibraryPath; }

  // "libavcodec.so.59", ..., "libc.so.6".
  std::string LibraryFileName(TLibraryKind kind) const;
  bool LoadLibrary(TLibraryKind kind);
  bool LoadLibraries(TLibrarySet set);
  bool IsLoaded(TLibraryKind kind) const;
  bool AllLoaded(TLibrarySet set) const;
  void UnloadLibrary(TLibraryKind kind);
  void UnloadLibraries(TLibrarySet set);

  // Set at shut-down; hooks that the libraries may still call become no-ops.
  bool Finalized() const { return FFinalized; }

 private:
  friend TFFLoader& FFLoader();
  friend struct TLoaderShutdown;
  TFFLoader();
  struct TLibraryStatus {
    void* Handle = nullptr;
    bool Loaded = false;
    std::vector<void*> Dependencies;  // the folder's copies of its dependencies, mapped before it
  };
  void ReleaseDependencies(TLibraryStatus& st);
  TLibraryStatus Status[kLibraryKindCount];
  std::string FLastError;
  std::string LibraryPath;
  bool FFinalized = false;
};

// The process-wide loader.
TFFLoader& FFLoader();

// "<folder of the executable>/LibAV".
std::string DefaultLibraryPath();

// Name resolution of one symbol of a loaded library. A missing name returns nullptr when `optional`,
// otherwise throws std::runtime_error "Load function %s@%s error: %s" (or "Load variable ...") with
// the name, the library's file name and the system's text.
void* ResolveFunction(const std::string& fileName, void* handle, const char* name, bool optional);
void* ResolveVariable(const std::string& fileName, void* handle, const char* name, bool optional);

}  // namespace qv
