#include "media/text_utils.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace qv {
namespace {

TEST(TakeToken, SplitsAtFirstDelimiter) {
  struct Case {
    const char* s;
    const char* delim;
    bool remove;
    const char* head;
    const char* rest;
  };
  const Case cases[] = {
      {"a=b=c", "=", true, "a", "b=c"},
      {"a=b=c", "=", false, "a", "a=b=c"},
      {"abc", "=", true, "abc", ""},
      {"abc", "=", false, "abc", "abc"},
      {"=x", "=", true, "", "x"},
      {"x=", "=", true, "x", ""},
      {"", ";", true, "", ""},
      {"k::v::w", "::", true, "k", "v::w"},
      {"r=;c=x", ";", true, "r=", "c=x"},
  };
  for (const Case& c : cases) {
    std::string s = c.s, head = "junk";
    TakeToken(s, c.delim, c.remove, head);
    EXPECT_EQ(head, c.head) << c.s;
    EXPECT_EQ(s, c.rest) << c.s;
  }
}

TEST(PathHelpers, SeparatorsAndParts) {
  EXPECT_EQ(AddTrailingSeparator("/tmp"), "/tmp/");
  EXPECT_EQ(AddTrailingSeparator("/tmp/"), "/tmp/");
  EXPECT_EQ(AddTrailingSeparator(""), "/");
  EXPECT_EQ(ExtractFileDir("/a/b/c.avi"), "/a/b/");
  EXPECT_EQ(ExtractFileName("/a/b/c.avi"), "c.avi");
  EXPECT_EQ(ExtractFileDir("c.avi"), "");
  EXPECT_EQ(ExtractFileName("c.avi"), "c.avi");
  EXPECT_EQ(ExtractFileName("/a/b/"), "");
  EXPECT_EQ(ExpandFileName("/a/./b/../c"), "/a/c");
  EXPECT_EQ(ExpandFileName("/../x"), "/x");
  EXPECT_EQ(ExpandFileName("/a/b/"), "/a/b/");
}

TEST(PathHelpers, FilesFoldersAndEnvironment) {
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("qv_text_utils_" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  const std::string file = (dir / "five.txt").string();
  FILE* f = std::fopen(file.c_str(), "wb");
  std::fputs("12345", f);
  std::fclose(f);

  EXPECT_TRUE(FileExists(file));
  EXPECT_FALSE(FileExists(dir.string()));  // a folder is not a file
  EXPECT_FALSE(FileExists((dir / "none").string()));
  EXPECT_EQ(GetFileSize(file), 5);
  EXPECT_EQ(GetFileSize((dir / "none").string()), -1);
  EXPECT_EQ(GetFileSize(dir.string()), -1);

  const std::string saved = GetCurrentDir();
  ASSERT_TRUE(SetCurrentDir(dir.string()));
  EXPECT_EQ(std::filesystem::path(GetCurrentDir()), std::filesystem::canonical(dir));
  EXPECT_EQ(ExpandFileName("five.txt"), AddTrailingSeparator(GetCurrentDir()) + "five.txt");
  EXPECT_EQ(ExpandFileName("sub/../five.txt"), AddTrailingSeparator(GetCurrentDir()) + "five.txt");
  EXPECT_FALSE(SetCurrentDir((dir / "none").string()));
  ASSERT_TRUE(SetCurrentDir(saved));

  const std::string longValue(5000, 'v');
  ::setenv("QV_TEXT_UTILS_TEST", longValue.c_str(), 1);
  EXPECT_EQ(GetEnvVar("QV_TEXT_UTILS_TEST"), longValue);
  ::unsetenv("QV_TEXT_UTILS_TEST");
  EXPECT_EQ(GetEnvVar("QV_TEXT_UTILS_TEST"), "");
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace qv
