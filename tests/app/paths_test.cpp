#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>

#include "app/recent_recordings.h"
#include "app/single_instance.h"
#include "app/unit_general.h"

namespace qv {
namespace {

// Sets environment variables for one test and puts them back afterwards.
class ScopedEnv {
 public:
  void Set(const char* name, const char* value) {
    if (!Saved.count(name)) {
      const char* old = std::getenv(name);
      Saved[name] = old ? std::optional<std::string>(old) : std::nullopt;
    }
    if (value) setenv(name, value, 1);
    else unsetenv(name);
  }
  ~ScopedEnv() {
    for (auto& [name, value] : Saved) {
      if (value) setenv(name.c_str(), value->c_str(), 1);
      else unsetenv(name.c_str());
    }
  }

 private:
  std::map<std::string, std::optional<std::string>> Saved;
};

TEST(Paths, OptionsFileName) {
  struct {
    const char *ConfigHome, *Home, *Expected;
  } cases[] = {
      {"/cfg", "/home/u", "/cfg/Quorvane/Options.ini"},
      {"/cfg/", "/home/u", "/cfg/Quorvane/Options.ini"},        // exactly one separator
      {nullptr, "/home/u", "/home/u/.config/Quorvane/Options.ini"},
      {"", "/home/u", "/home/u/.config/Quorvane/Options.ini"},
      {"relative/cfg", "/home/u", "/home/u/.config/Quorvane/Options.ini"},  // not a valid base
      {nullptr, "/", "/.config/Quorvane/Options.ini"},
  };
  for (const auto& c : cases) {
    ScopedEnv env;
    env.Set("XDG_CONFIG_HOME", c.ConfigHome);
    env.Set("HOME", c.Home);
    std::string name = GetOptionsFileName();
    EXPECT_EQ(name, c.Expected);
    EXPECT_NE(name.back(), '/');
  }
}

TEST(Paths, DefaultOutputFolder) {
  char pattern[] = "/tmp/qv_paths_XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  std::string home = pattern;
  std::filesystem::create_directories(home + "/.config");
  struct {
    const char* DocumentsEnv;
    const char* UserDirs;  // content of ~/.config/user-dirs.dirs, or nullptr
    std::string Expected;
  } cases[] = {
      {nullptr, nullptr, home + "/Documents/Quorvane/"},
      {"/data/docs", nullptr, "/data/docs/Quorvane/"},
      {"/data/docs/", nullptr, "/data/docs/Quorvane/"},
      {nullptr, "# comment\nXDG_DOCUMENTS_DIR=\"$HOME/Dokumente\"\n", home + "/Dokumente/Quorvane/"},
      {nullptr, "XDG_DOCUMENTS_DIR=\"/srv/papers\"\n", "/srv/papers/Quorvane/"},
      {nullptr, "XDG_DOCUMENTS_DIR=\"relative\"\n", home + "/Documents/Quorvane/"},
      {"relative", nullptr, home + "/Documents/Quorvane/"},
  };
  for (const auto& c : cases) {
    ScopedEnv env;
    env.Set("HOME", home.c_str());
    env.Set("XDG_CONFIG_HOME", nullptr);
    env.Set("XDG_DOCUMENTS_DIR", c.DocumentsEnv);
    std::filesystem::remove(home + "/.config/user-dirs.dirs");
    if (c.UserDirs) std::ofstream(home + "/.config/user-dirs.dirs") << c.UserDirs;
    std::string folder = GetDefaultOutputFolder();
    EXPECT_EQ(folder, c.Expected) << (c.UserDirs ? c.UserDirs : "");
    EXPECT_EQ(folder.back(), '/');
  }
  // The first recording makes the folder with its parents; a file in the way is said, not hidden.
  std::string error;
  EXPECT_TRUE(CreateFolder(home + "/Documents/Quorvane/", error)) << error;
  EXPECT_TRUE(std::filesystem::is_directory(home + "/Documents/Quorvane"));
  EXPECT_TRUE(CreateFolder(home + "/Documents/Quorvane", error)) << error;
  std::ofstream(home + "/blocker") << "a file";
  EXPECT_FALSE(CreateFolder(home + "/blocker/Quorvane/", error));
  EXPECT_FALSE(error.empty());
  std::filesystem::remove_all(home);
}

TEST(Paths, ProgramAndLibraryFolders) {
  std::string program = GetProgramFolder();
  ASSERT_FALSE(program.empty());
  EXPECT_EQ(program.back(), '/');
  EXPECT_TRUE(std::filesystem::exists(program + "app_paths_test"));
  EXPECT_EQ(GetLibraryFolder(), program + "LibAV");
  EXPECT_EQ(JoinPath("/", "help.html"), "/help.html");
  EXPECT_EQ(JoinPath("/opt/q/", "help.html"), "/opt/q/help.html");
}

TEST(Paths, MoveToTrashKeepsTheFileWhereTheDesktopFindsIt) {
  const std::filesystem::path dir = std::filesystem::temp_directory_path() / ("qv_trash_" + std::to_string(getpid()));
  std::filesystem::create_directories(dir / "rec");
  ScopedEnv env;
  env.Set("XDG_DATA_HOME", (dir / "data").c_str());
  const std::string file = (dir / "rec" / "a b%.avi").string();
  std::ofstream(file) << "picture";
  TRecentRecordings recent((dir / "recent.txt").string());
  recent.Add(file);
  recent.Add((dir / "rec" / "gone.avi").string());  // never made: drops out
  ASSERT_EQ(recent.Files(), std::vector<std::string>{file});

  std::string error;
  ASSERT_TRUE(MoveToTrash(file, error)) << error;
  recent.Remove(file);
  EXPECT_FALSE(std::filesystem::exists(file));
  EXPECT_TRUE(recent.Files().empty());
  std::ifstream kept(dir / "data/Trash/files/a b%.avi");
  std::string content;
  kept >> content;
  EXPECT_EQ(content, "picture");
  std::ifstream info(dir / "data/Trash/info/a b%.avi.trashinfo");
  std::string header, path;
  std::getline(info, header);
  std::getline(info, path);
  EXPECT_EQ(header, "[Trash Info]");
  EXPECT_EQ(path, "Path=" + (dir / "rec").string() + "/a%20b%25.avi");
  std::filesystem::remove_all(dir);
}

TEST(SingleInstance, SecondHolderIsRefusedUntilTheFirstIsGone) {
  char pattern[] = "/tmp/qv_lock_XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  ScopedEnv env;
  env.Set("XDG_RUNTIME_DIR", pattern);
  std::string name = "ZMX_Quorvane_test_" + std::to_string(getpid());
  EXPECT_EQ(TSingleInstance::LockFileName(name), std::string(pattern) + "/" + name + ".lock");
  {
    TSingleInstance first;
    ASSERT_TRUE(first.Acquire(name)) << first.LastError();
    TSingleInstance second;
    EXPECT_FALSE(second.Acquire(name));
    EXPECT_TRUE(second.AlreadyRunning());
  }
  TSingleInstance third;
  EXPECT_TRUE(third.Acquire(name)) << third.LastError();
  std::filesystem::remove_all(pattern);
}

TEST(SingleInstance, WithoutRuntimeFolderThePrivateTmpFolderIsUsed) {
  ScopedEnv env;
  env.Set("XDG_RUNTIME_DIR", nullptr);
  std::string name = "ZMX_Quorvane_test_" + std::to_string(getpid());
  std::string file = TSingleInstance::LockFileName(name);
  EXPECT_EQ(file, "/tmp/quorvane-" + std::to_string(getuid()) + "/" + name + ".lock");
  TSingleInstance lock;
  ASSERT_TRUE(lock.Acquire(name)) << lock.LastError();
  EXPECT_EQ(std::filesystem::status(file.substr(0, file.rfind('/'))).permissions(), std::filesystem::perms::owner_all);
  std::filesystem::remove(file);
}

}  // namespace
}  // namespace qv
