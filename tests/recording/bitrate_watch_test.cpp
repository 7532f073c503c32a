// The bit rate watch against file growth as a run reports it: twice a second, with and without sound.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "recording/bitrate_watch.h"

namespace qv {
namespace {

// Feeds 30 s of reports of a file growing at `videoRate` (plus the sound) and returns every notice.
// `firstBytes` arrive before the second report (the header and the first key frame).
std::vector<std::string> Notices(int target, int soundRate, std::int64_t videoRate, std::int64_t firstBytes) {
  TBitrateWatch watch(target, soundRate);
  std::vector<std::string> notices;
  for (std::int64_t us = 0; us <= 30'000'000; us += 500'000) {
    const std::int64_t bytes = (us > 0 ? firstBytes : 0) + (videoRate + soundRate) * us / 8'000'000;
    if (std::string notice = watch.Judge(us, bytes); !notice.empty()) notices.push_back(notice);
  }
  return notices;
}

TEST(BitrateWatch, SaysOnceWhenTheVideoRunsAboveTheTarget) {
  struct {
    const char* Name;
    int Target, Sound;
    std::int64_t Video, First;
    const char* Notice;  // "" for none
  } cases[] = {
      {"on target", 360'000, 0, 360'000, 0, ""},
      {"on target with sound, which is not the video's", 360'000, 356'983, 400'000, 0, ""},
      {"a dear start is not a rate", 360'000, 0, 360'000, 2'000'000, ""},
      {"full motion at a low rate", 360'000, 356'983, 1'260'000, 0,
       "The video needs about 1.3 Mbit/s, more than the chosen 360 kbit/s; the file will be larger than planned."},
      {"just over a fifth above", 1'600'000, 0, 2'000'000, 0,
       "The video needs about 2.0 Mbit/s, more than the chosen 1.6 Mbit/s; the file will be larger than planned."},
      {"nothing asked, nothing said", 0, 0, 5'000'000, 0, ""},
  };
  for (const auto& c : cases) {
    const std::vector<std::string> notices = Notices(c.Target, c.Sound, c.Video, c.First);
    if (*c.Notice)
      EXPECT_EQ(notices, std::vector<std::string>{c.Notice}) << c.Name;
    else
      EXPECT_TRUE(notices.empty()) << c.Name << ": " << notices.front();
  }
}

}  // namespace
}  // namespace qv
