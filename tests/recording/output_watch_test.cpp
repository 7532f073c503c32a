// The recording's watch over its output: a shrinking disk gives one warning and then a stop while
// finishing still fits; a removed file is noticed and its data written out again in full.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "recording/output_watch.h"
#include "support/temp_dir.h"

namespace qv {
namespace {

constexpr std::int64_t kBytesPerSecond = 100000;

// A recording of 100 kB and 25 frames a second, looked at once a second with `free` bytes left.
TDiskReading At(int second, std::int64_t free) {
  return {free, kBytesPerSecond * second, std::int64_t(second) * 1000000, 25LL * second};
}

TEST(DiskWatchTest, WarnsOnceAMinuteAheadThenStopsWhileFinishingStillFits) {
  // An AVI's closing index grows with every chunk; an MKV or MP4 lists its samples as it goes.
  const std::pair<TOutputFormat, std::int64_t> formats[] = {
      {TOutputFormat::Avi, TDiskWatch::kChunksPerFrame * TDiskWatch::kIndexBytesPerChunk},
      {TOutputFormat::Mp4, TDiskWatch::kFragmentedIndexBytesPerFrame}};
  for (const auto& [format, indexPerFrame] : formats) {
    SCOPED_TRACE(FormatName(format));
    TDiskWatch watch(format);
    std::vector<TDiskVerdict> verdicts;
    std::int64_t free = 20 << 20;
    int second = 1;
    for (; second < 300; ++second, free -= kBytesPerSecond) {
      verdicts.push_back(watch.Judge(At(second, free)));
      if (verdicts.back() == TDiskVerdict::Stop) break;
    }
    ASSERT_EQ(verdicts.back(), TDiskVerdict::Stop);
    const auto warnings = std::count(verdicts.begin(), verdicts.end(), TDiskVerdict::Warn);
    ASSERT_EQ(warnings, 1);
    const auto warnedAt = std::find(verdicts.begin(), verdicts.end(), TDiskVerdict::Warn) - verdicts.begin() + 1;
    EXPECT_NEAR(second - warnedAt, 60 - TDiskWatch::kStopLeadSeconds, 2);
    // What is left at the stop holds the index of every frame and the margin, with room for the stop
    // to land, and not much more: the recording ends no sooner than finishing its format needs.
    const std::int64_t index = 25LL * second * indexPerFrame;
    EXPECT_GE(free, TDiskWatch::kMarginBytes + index + kBytesPerSecond);
    EXPECT_LT(free, TDiskWatch::kMarginBytes + 25LL * (second + 3) * indexPerFrame + 4 * kBytesPerSecond);
    EXPECT_EQ(watch.Judge(At(second + 1, 1LL << 40)), TDiskVerdict::Stop);
  }
}

TEST(OutputWatchTest, ARemovedFileIsNoticedAndWrittenOutWhole) {
  test::TTempDir temp{"qv_output_watch"};
  const std::string folder = temp.Path + "/out", path = folder + "/rec.avi";
  std::filesystem::create_directories(folder);
  const std::string data(3 << 20, 'x');  // more than one copy buffer
  std::ofstream(path, std::ios::binary) << data;

  TOutputWatch watch;
  ASSERT_TRUE(watch.Open(path));
  EXPECT_FALSE(watch.Vanished());
  EXPECT_GT(watch.FreeBytes(), 0);
  std::filesystem::remove_all(folder);
  EXPECT_TRUE(watch.Vanished());
  EXPECT_GT(watch.FreeBytes(), 0);

  std::string error;
  ASSERT_EQ(watch.SaveCopy(temp.Path + "/spare", error), path) << error;
  EXPECT_EQ(std::filesystem::file_size(path), data.size());
  // A second copy does not overwrite the first.
  EXPECT_EQ(watch.SaveCopy(temp.Path + "/spare", error), folder + "/rec (2).avi") << error;
}

TEST(OutputWatchTest, AFileReplacedUnderItsNameCountsAsGone) {
  test::TTempDir temp{"qv_output_watch"};
  const std::string path = temp.Path + "/rec.avi";
  std::ofstream(path) << "first";
  TOutputWatch watch;
  ASSERT_TRUE(watch.Open(path));
  std::filesystem::rename(path, path + ".moved");
  std::ofstream(path) << "another";
  EXPECT_TRUE(watch.Vanished());
}

}  // namespace
}  // namespace qv
