// The ExtOptions text: line breaks of every kind, "<CRLF>", keys and values, held-back keys, and the
// metadata timestamp's text.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <time.h>

#include "encoder/ext_options.h"

namespace qv {
namespace {

using TLines = std::vector<std::pair<std::string, std::string>>;

TLines Parse(const std::string& text) {
  TLines out;
  for (const auto& l : ParseOptionText(text)) out.emplace_back(l.Key, l.Value);
  return out;
}

TEST(ExtOptions, SplitsLinesAndKeys) {
  struct TCase {
    const char* Text;
    TLines Expected;
  } cases[] = {
      {"", {}},
      {"   \r\n  ", {}},
      {"vcodec=mpeg4", {{"vcodec", "mpeg4"}}},
      {"a=1\r\nb=2\nc=3\rd=4", {{"a", "1"}, {"b", "2"}, {"c", "3"}, {"d", "4"}}},
      {"a=1<CRLF>b=2", {{"a", "1"}, {"b", "2"}}},
      {"a=1<CRLF><CRLF>b=2\r\n\r\n", {{"a", "1"}, {"b", "2"}}},
      // The value is everything after the first "=", blanks and further "=" included.
      {"metadata=title=A B", {{"metadata", "title=A B"}}},
      {"vf=scale=320:240, hflip", {{"vf", "scale=320:240, hflip"}}},
      // Keys are compared lower-case; a line without "=" is a key with an empty value.
      {"VCodec=MPEG4\nAN\nnewvideo", {{"vcodec", "MPEG4"}, {"an", ""}, {"newvideo", ""}}},
      {"  b = 800k  ", {{"b", " 800k"}}},
      {"t=", {{"t", ""}}},
      // "<crlf>" in another case is text, not a break.
      {"title=x<crlf>y", {{"title", "x<crlf>y"}}},
  };
  for (const auto& c : cases) EXPECT_EQ(Parse(c.Text), c.Expected) << "text: " << c.Text;
}

TEST(ExtOptions, HeldBackKeys) {
  struct TCase {
    const char* Key;
    bool Input, Output;
  } cases[] = {
      {"newvideo", true, true}, {"newaudio", true, true}, {"newsubtitle", true, true}, {"apre", true, true},
      {"vpre", true, true},     {"spre", true, true},     {"vfilters", true, true},    {"vf", true, true},
      {"acodec", false, true},  {"vcodec", false, true},  {"scodec", false, true},     {"s", false, true},
      {"b", false, false},      {"f", false, false},      {"t", false, false},         {"fpre", false, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(IsHeldBackInputKey(c.Key), c.Input) << c.Key;
    EXPECT_EQ(IsHeldBackOutputKey(c.Key), c.Output) << c.Key;
  }
}

TEST(ExtOptions, TimestampText) {
  const char* old = getenv("TZ");
  std::string saved = old ? old : "";
  // 40606.2132291667 days after 1899-12-30 is 2011-03-04 05:07:03 local time.
  struct TCase {
    const char* Zone;
    double Days;
    const char* Expected;
  } cases[] = {
      {"UTC0", -1.0, ""},
      {"UTC0", -0.5, ""},
      {"UTC0", 0.0, "now"},
      {"UTC0", 40606.2132291667, "2011-03-04T05:07:03Z"},
      {"UTC0", 25569.0, "1970-01-01T00:00:00Z"},
      // Local time two hours east of UTC: the moment is two hours earlier in UTC.
      {"XST-2", 40606.2132291667, "2011-03-04T03:07:03Z"},
      {"XST-2", 40606.0, "2011-03-03T22:00:00Z"},
  };
  for (const auto& c : cases) {
    setenv("TZ", c.Zone, 1);
    tzset();
    EXPECT_EQ(TimestampOptionText(c.Days), c.Expected) << c.Zone << " " << c.Days;
  }
  if (old)
    setenv("TZ", saved.c_str(), 1);
  else
    unsetenv("TZ");
  tzset();
}

}  // namespace
}  // namespace qv
