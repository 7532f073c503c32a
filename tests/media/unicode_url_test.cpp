// File names to library URLs under the "C" locale, whose charset (ASCII) cannot carry "ü".
#include <gtest/gtest.h>
#include <stdlib.h>

#include "media/unicode_url.h"

namespace {
// Before anything asks for the locale: the program takes it from the environment.
const int kLocale = (setenv("LC_ALL", "C", 1), 0);
}  // namespace

namespace qv {
namespace {

TEST(UnicodeUrl, LocaleIsAscii) {
  (void)kLocale;
  EXPECT_EQ(LocaleCharset(), "ANSI_X3.4-1968");
}

TEST(UnicodeUrl, WhichNamesAreWrapped) {
  struct TCase {
    std::string Name;
    bool Needs;
    std::string Url;
  };
  const TCase cases[] = {
      {"/tmp/videos/a.avi", false, "/tmp/videos/a.avi"},
      {"/tmp/vidéos/ü.avi", true, "unicode:utf8:/tmp/vidéos/ü.avi"},
      {"http://host/ü.avi", false, "http://host/ü.avi"},
      {"udp://239.0.0.1:1234", false, "udp://239.0.0.1:1234"},
      {"pipe:1", false, "pipe:1"},
      {"HTTP://host/ü.avi", true, "unicode:utf8:HTTP://host/ü.avi"},  // the list is case-sensitive
      {"HTTP://host/a.avi", false, "HTTP://host/a.avi"},
      {"unicode:utf8:/tmp/ü.avi", false, "unicode:utf8:/tmp/ü.avi"},  // never wrapped twice
      {"offset=0,0;framesize=640,480;framerate=25/1", false, "offset=0,0;framesize=640,480;framerate=25/1"},
      {"", false, ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(NeedsUnicodeURL(c.Name), c.Needs) << c.Name;
    EXPECT_EQ(FileNameToURL(c.Name), c.Url) << c.Name;
    EXPECT_EQ(URLToFileNameUtf8(FileNameToURL(c.Name)), c.Name.rfind("unicode:", 0) == 0 ? "/tmp/ü.avi" : c.Name);
  }
}

TEST(UnicodeUrl, WideNamesRoundTrip) {
  const std::wstring name = L"/tmp/\u00fc\u4e2d\U0001F600.avi";
  EXPECT_TRUE(NeedsUnicodeURL(name));
  std::string url = FileNameToURL(name);
  EXPECT_EQ(url, "unicode:utf8:/tmp/\xc3\xbc\xe4\xb8\xad\xf0\x9f\x98\x80.avi");
  EXPECT_TRUE(IsUnicodeURL(url));
  EXPECT_EQ(URLToFileName(url), name);
  EXPECT_EQ(DecodeUnicodeURL(EncodeUnicodeURL(name)), name);
  EXPECT_EQ(URLToFileName("/plain/a.avi"), L"/plain/a.avi");
}

TEST(UnicodeUrl, PrefixRules) {
  EXPECT_FALSE(IsUnicodeURL("unicode:utf8:"));  // 13 bytes: no name
  EXPECT_TRUE(IsUnicodeURL("unicode:utf8:a"));
  EXPECT_FALSE(IsUnicodeURL("Unicode:utf8:a"));
  EXPECT_EQ(DecodeUnicodeURLUtf8("foo:bar:baz:qux"), "baz:qux");  // the words are not compared
  EXPECT_EQ(DecodeUnicodeURLUtf8("nocolon"), "nocolon");
  EXPECT_EQ(Utf8ToWide("a\xff" "b"), L"a\uFFFDb");  // invalid bytes do not end the text
}

TEST(UnicodeUrl, OverLongNamesAreRefused) {
  const std::string plain(2047, 'a');
  EXPECT_EQ(FileNameToURL(plain).size(), 2047u);
  EXPECT_THROW(FileNameToURL(plain + "a"), EFileNameTooLong);
  // The prefix counts: 2034 bytes of name + 13 of prefix reach the limit.
  const std::string wide = "/" + std::string(2031, 'b') + "\xc3\xbc";
  EXPECT_EQ(FileNameToURL(wide.substr(0, wide.size() - 3) + "\xc3\xbc").size(), 2046u);
  try {
    FileNameToURL(wide + "c");
    ADD_FAILURE() << "expected a refusal";
  } catch (const EFileNameTooLong& e) {
    EXPECT_NE(std::string(e.what()).find("File name too long"), std::string::npos);
  }
}

}  // namespace
}  // namespace qv
