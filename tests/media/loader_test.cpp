// The loader against the real libraries: from the system, from a library folder filled with copies
// of the system's files, with a folder that lacks a library, with broken files, and loaded twice.
// Each case that maps libraries runs in a forked child (see support/child_process.h).
#include <dlfcn.h>
#include <link.h>

#include <filesystem>
#include <fstream>
#include <set>

#include <gtest/gtest.h>

#include "media/codec_lock.h"
#include "media/elf_needed.h"
#include "media/ff_api.h"
#include "media/interrupt.h"
#include "media/loader.h"
#include "media/logger.h"
#include "media/main_thread.h"
#include "support/child_process.h"

namespace fs = std::filesystem;
using qv::test::InChild;
using qv::test::MappedFiles;

namespace qv {
namespace {

const TLibraryKind kMediaKinds[] = {kAvcodec, kSwresample, kAvdevice, kAvfilter, kAvformat, kAvutil, kSwscale};

// Where the system's search finds a library (asked in a child so this process maps nothing).
std::string SystemPath(const std::string& soname) {
  std::string path;
  std::string out = InChild([&] {
    void* h = ::dlopen(soname.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!h) return std::string("!") + ::dlerror();
    link_map* map = nullptr;
    ::dlinfo(h, RTLD_DI_LINKMAP, &map);
    return std::string(map->l_name);
  });
  return out;
}

class TempFolder {
 public:
  TempFolder() {
    char tmpl[] = "/tmp/qv-loader-XXXXXX";
    Path = ::mkdtemp(tmpl);
  }
  ~TempFolder() { fs::remove_all(Path); }
  std::string Path;
};

// A "LibAV" folder holding copies of the system's media libraries and of every media library they
// need (libpostproc too), named by soname; `skip` names files left out.
std::string FillLibraryFolder(const std::string& root, const std::set<std::string>& skip = {}) {
  std::string folder = root + "/LibAV";
  fs::create_directories(folder);
  std::vector<std::string> todo;
  for (TLibraryKind kind : kMediaKinds) todo.push_back(FFLoader().LibraryFileName(kind));
  std::set<std::string> done;
  while (!todo.empty()) {
    std::string soname = todo.back();
    todo.pop_back();
    if (!done.insert(soname).second) continue;
    std::string source = SystemPath(soname);
    if (source.empty() || source[0] == '!') continue;
    for (const std::string& dep : ElfNeededLibraries(source))
      if (dep.rfind("libav", 0) == 0 || dep.rfind("libsw", 0) == 0 || dep.rfind("libpostproc", 0) == 0)
        todo.push_back(dep);
    if (!skip.count(soname)) fs::copy_file(source, folder + "/" + soname, fs::copy_options::overwrite_existing);
  }
  return folder;
}

std::string Check(bool ok, const std::string& what) { return ok ? std::string() : what + "\n"; }

TEST(Loader, FileNamesFollowTheHeadersMajorVersions) {
  const std::pair<TLibraryKind, std::string> cases[] = {
      {kAvcodec, "libavcodec.so." + std::to_string(LIBAVCODEC_VERSION_MAJOR)},
      {kSwresample, "libswresample.so." + std::to_string(LIBSWRESAMPLE_VERSION_MAJOR)},
      {kAvdevice, "libavdevice.so." + std::to_string(LIBAVDEVICE_VERSION_MAJOR)},
      {kAvfilter, "libavfilter.so." + std::to_string(LIBAVFILTER_VERSION_MAJOR)},
      {kAvformat, "libavformat.so." + std::to_string(LIBAVFORMAT_VERSION_MAJOR)},
      {kAvutil, "libavutil.so." + std::to_string(LIBAVUTIL_VERSION_MAJOR)},
      {kSwscale, "libswscale.so." + std::to_string(LIBSWSCALE_VERSION_MAJOR)},
      {kCLibrary, "libc.so.6"},
  };
  for (const auto& [kind, name] : cases) EXPECT_EQ(FFLoader().LibraryFileName(kind), name) << kind;
  EXPECT_EQ(kEncoderLibraries & LibraryBit(kAvdevice), 0);
  EXPECT_EQ(kEncoderLibraries | LibraryBit(kAvdevice), kAllLibraries);
}

TEST(Loader, LoadsFromTheSystemAndUnloads) {
  std::string error = InChild([] {
    TFFLoader& loader = FFLoader();
    loader.SetLibraryPath("/nonexistent-folder");
    std::string e;
    e += Check(loader.LoadLibraries(kEncoderLibraries), "load: " + loader.LastError());
    e += Check(loader.AllLoaded(kEncoderLibraries) && !loader.IsLoaded(kAvdevice), "loaded set");
    e += Check(ff::avcodec_version && ff::avcodec_version() >> 16 == LIBAVCODEC_VERSION_MAJOR, "avcodec version");
    e += Check(ff::swr_alloc && ff::sws_getContext && ff::avformat_open_input && ff::av_log && ff::vsnprintf,
               "pointers of every kind");
    e += Check(ProgramInterruptCB().callback == LibraryInterruptCallback, "interrupt callback installed");
    // The device library's formats appear only once it is loaded and registered.
    e += Check(ff::av_find_input_format("lavfi") == nullptr, "lavfi before the device library");
    e += Check(loader.LoadLibrary(kAvdevice), "avdevice: " + loader.LastError());
    e += Check(ff::av_find_input_format("lavfi") != nullptr, "lavfi after the device library");
    for (const auto& path : MappedFiles("libavcodec.so"))
      e += Check(path.rfind("/nonexistent-folder", 0) != 0, "mapped " + path);
    loader.UnloadLibraries(kAllLibraries);
    e += Check(!loader.IsLoaded(kAvcodec) && !loader.AllLoaded(kAllLibraries), "unloaded");
    e += Check(!ff::avcodec_version && !ff::av_log && !ff::avdevice_register_all && !ff::fopen, "pointers cleared");
    e += Check(ProgramInterruptCB().callback == nullptr, "interrupt callback removed");
    return e;
  });
  EXPECT_EQ(error, "");
}

TEST(Loader, FolderCopiesAreTheOnesMapped) {
  TempFolder tmp;
  std::string folder = FillLibraryFolder(tmp.Path);
  // A file named like the C library in the folder must be ignored: it is always the system's.
  std::ofstream(folder + "/libc.so.6") << "not a library\n";
  std::string error = InChild([&] {
    TFFLoader& loader = FFLoader();
    loader.SetLibraryPath(folder);
    std::string e = Check(loader.LoadLibraries(kAllLibraries), "load: " + loader.LastError());
    for (const char* prefix : {"libavcodec.so", "libavformat.so", "libavutil.so", "libswresample.so",
                               "libswscale.so", "libavfilter.so", "libavdevice.so", "libpostproc.so"}) {
      auto maps = MappedFiles(prefix);
      e += Check(!maps.empty() || std::string(prefix) == "libpostproc.so", std::string(prefix) + " not mapped");
      for (const auto& path : maps) e += Check(path.rfind(folder + "/", 0) == 0, "mapped from elsewhere: " + path);
    }
    for (const auto& path : MappedFiles("libc.so")) e += Check(path.rfind(folder, 0) != 0, "libc from folder");
    return e;
  });
  EXPECT_EQ(error, "");
}

TEST(Loader, FolderLackingALibraryFallsBackToTheSystemWithoutSecondCopies) {
  TempFolder tmp;
  const std::string avcodec = FFLoader().LibraryFileName(kAvcodec);
  std::string folder = FillLibraryFolder(tmp.Path, {avcodec});
  std::string error = InChild([&] {
    TFFLoader& loader = FFLoader();
    loader.SetLibraryPath(folder + "/");  // a trailing separator is accepted as well
    std::string e = Check(loader.LoadLibraries(kEncoderLibraries), "load: " + loader.LastError());
    auto codec = MappedFiles("libavcodec.so");
    e += Check(codec.size() == 1 && codec[0].rfind(folder, 0) != 0, "avcodec not from the system");
    auto format = MappedFiles("libavformat.so");
    e += Check(format.size() == 1 && format[0].rfind(folder + "/", 0) == 0, "avformat not from the folder");
    // The system's avcodec pulled in the system's avutil; the folder's copy must not be mapped too.
    for (const char* prefix : {"libavutil.so", "libswresample.so", "libswscale.so", "libavfilter.so"})
      e += Check(MappedFiles(prefix).size() == 1, std::string("one copy of ") + prefix);
    return e;
  });
  EXPECT_EQ(error, "");
}

TEST(Loader, BrokenFilesGiveTheTextsAndLeaveTheSetUnloaded) {
  TempFolder tmp;
  const std::string avcodec = FFLoader().LibraryFileName(kAvcodec);
  const std::string swscale = FFLoader().LibraryFileName(kSwscale);
  const std::string avfilter = FFLoader().LibraryFileName(kAvfilter);
  const std::string notLibrary = tmp.Path + "/text";
  fs::create_directories(notLibrary);
  std::ofstream(notLibrary + "/" + avcodec) << "this is not a shared object\n";
  const std::string fake = tmp.Path + "/fake";
  fs::create_directories(fake);
  fs::copy_file(QV_FAKE_AVCODEC, fake + "/" + avcodec);
  // A full folder whose libswscale is broken: libavfilter needs it and must not quietly take the
  // system's copy instead.
  const std::string brokenDependency = FillLibraryFolder(tmp.Path + "/dep");
  std::ofstream(brokenDependency + "/" + swscale, std::ios::trunc) << "broken\n";
  struct Case {
    std::string Folder;
    std::string Prefix;
    std::string Contains;
  };
  const Case cases[] = {
      {notLibrary, "Load library " + notLibrary + "/" + avcodec + " error: ", notLibrary + "/" + avcodec},
      {fake, "Load function avcodec_find_encoder@" + avcodec + " error: ", "undefined symbol: avcodec_find_encoder"},
      {brokenDependency, "Load library " + brokenDependency + "/" + avfilter + " error: ",
       brokenDependency + "/" + swscale},
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    const Case& c = cases[i];
    std::string error = InChild([&] {
      TFFLoader& loader = FFLoader();
      loader.SetLibraryPath(c.Folder);
      std::string e = Check(!loader.LoadLibraries(kEncoderLibraries), "load succeeded");
      const std::string& text = loader.LastError();
      e += Check(text.rfind(c.Prefix, 0) == 0 && text.find(c.Contains) != std::string::npos, "text: " + text);
      for (int kind = 0; kind < kLibraryKindCount; ++kind)
        e += Check(!loader.IsLoaded(TLibraryKind(kind)), "still loaded: " + std::to_string(kind));
      e += Check(!ff::avcodec_version && !ff::av_log && !ff::swr_alloc, "pointers left behind");
      return e;
    });
    EXPECT_EQ(error, "") << c.Folder;
  }
}

TEST(Loader, MissingVariableHasItsOwnText) {
  std::string error = InChild([] {
    void* h = ::dlopen(FFLoader().LibraryFileName(kAvutil).c_str(), RTLD_NOW);
    try {
      ResolveVariable("libavutil.so.57", h, "qv_no_such_variable", false);
      return std::string("no exception");
    } catch (const std::runtime_error& e) {
      std::string text = e.what();
      return Check(text.rfind("Load variable qv_no_such_variable@libavutil.so.57 error: ", 0) == 0, text) +
             Check(ResolveVariable("x", h, "qv_no_such_variable", true) == nullptr, "optional") +
             Check(ResolveVariable("x", h, "av_log", false) != nullptr, "existing");
    }
  });
  EXPECT_EQ(error, "");
}

unsigned SentinelVersion() { return 0x4242; }

TEST(Loader, LoadingTwiceReinstallsHooksButResolvesNothing) {
  std::string error = InChild([] {
    MarkMainThread();
    TFFLoader& loader = FFLoader();
    std::string e = Check(loader.LoadLibraries(kAllLibraries), "load: " + loader.LastError());
    std::vector<std::string> lines;
    GetLogger()->SetLogLevel(llDebug);
    GetLogger()->OnLog = [&](const void*, std::uint32_t, TLogLevel, const std::string& msg) { lines.push_back(msg); };
    ff::avutil_version = SentinelVersion;
    ff::av_log_set_callback(ff::av_log_default_callback);  // take the log hook out
    InstallInterruptCallback(false);
    e += Check(loader.LoadLibraries(kAllLibraries), "second load: " + loader.LastError());
    e += Check(ff::avutil_version == &SentinelVersion, "avutil was resolved again");
    e += Check(ProgramInterruptCB().callback != nullptr, "interrupt callback not reinstalled");
    // The lock manager's mutex was replaced: the old one destroyed, a new one created.
    bool destroyed = false, created = false;
    for (const auto& l : lines) {
      destroyed = destroyed || l == "destory codec mutex [1].";
      created = created || (destroyed && l == "create codec mutex [2].");
    }
    e += Check(destroyed && created, "codec mutex not recreated");
    lines.clear();
    ff::av_log(nullptr, AV_LOG_ERROR, "hook is back\n");
    e += Check(lines.size() == 1 && lines[0] == "hook is back", "log hook not reinstalled");
    GetLogger()->OnLog = nullptr;
    return e;
  });
  EXPECT_EQ(error, "");
}

TEST(LoaderDeathTest, EmptySetIsAProgrammingError) {
  EXPECT_DEBUG_DEATH(EXPECT_FALSE(FFLoader().LoadLibraries(0)), "empty library set");
}

// Nothing the build produces may link the media libraries: they are bound at run time only.
TEST(Loader, NoBinaryLinksTheMediaLibraries) {
  int checked = 0;
  for (const auto& entry : fs::directory_iterator(QV_BIN_DIR)) {
    if (!entry.is_regular_file() || ::access(entry.path().c_str(), X_OK) != 0) continue;
    std::string cmd = "ldd '" + entry.path().string() + "' 2>/dev/null";
    FILE* p = ::popen(cmd.c_str(), "r");
    ASSERT_NE(p, nullptr);
    char line[1024];
    while (std::fgets(line, sizeof(line), p)) {
      std::string s(line);
      for (const char* lib : {"libavcodec", "libavformat", "libavutil", "libavdevice", "libavfilter", "libswscale",
                              "libswresample", "libpostproc"})
        EXPECT_EQ(s.find(lib), std::string::npos) << entry.path() << ": " << s;
    }
    ::pclose(p);
    ++checked;
  }
  EXPECT_GT(checked, 0);
}

}  // namespace
}  // namespace qv
