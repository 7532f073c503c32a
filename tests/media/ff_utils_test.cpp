#include "media/ff_utils.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "media/ff_api.h"
#include "support/media_env.h"

QV_MEDIA_TEST_ENV;

namespace qv {
namespace {

TEST(ErrorCodeText, TableHistoricCodesAndDefault) {
  struct Case {
    int code;
    const char* text;
  };
  const std::string exitText = "Error number " + std::to_string(AVERROR_EXIT) + " occurred";
  const std::string bugText = "Error number " + std::to_string(AVERROR_BUG) + " occurred";
  const Case cases[] = {
      {-2, "No such file or directory"},
      {-41, "Error number -41 occurred"},
      {-58, "Error number -58 occurred"},
      {-1, "Operation not permitted"},
      {-131, "State not recoverable"},
      {-132, "Error number -132 occurred"},
      {-10035, "WSAEWOULDBLOCK"},
      {-11004, "WSANO_DATA"},
      {AVERROR_EOF, "End of file"},
      {AVERROR_INVALIDDATA, "Invalid argument / Invalid data found when processing input"},
      {AVERROR(EINVAL), "Invalid argument / Invalid data found when processing input"},
      {AVERROR_DECODER_NOT_FOUND, "Decoder not found"},
      {AVERROR_ENCODER_NOT_FOUND, "Encoder not found"},
      {AVERROR_PATCHWELCOME, "Not yet implemented in FFmpeg"},
      {AVERROR_BSF_NOT_FOUND, "Bitstream filter not found"},
      {AVERROR_FILTER_NOT_FOUND, "Filter not found"},
      {AVERROR_DEMUXER_NOT_FOUND, "Demuxer not found"},
      {AVERROR_PROTOCOL_NOT_FOUND, "Protocol not found"},
      {AVERROR_STREAM_NOT_FOUND, "Stream not found"},
      {AVERROR_MUXER_NOT_FOUND, "Muxer not found"},
      {AVERROR_EXIT, exitText.c_str()},
      {AVERROR_BUG, bugText.c_str()},
      {0, "Error number 0 occurred"},
  };
  for (const Case& c : cases) EXPECT_EQ(ErrorCodeText("in.avi", c.code), std::string("in.avi: ") + c.text) << c.code;
}

TEST(TimeToText, FormatsMicroseconds) {
  const std::pair<std::int64_t, const char*> cases[] = {
      {3723004000LL, "01:02:03.004"},
      {360000000000LL, "100:00:00.000"},  // hours are not wrapped at 24 or 99
      {AV_NOPTS_VALUE, "N/A"},
      {0, "00:00:00.000"},
      {999, "00:00:00.000"},   // milliseconds are truncated
      {1999, "00:00:00.001"},
      {59999999, "00:00:59.999"},
      {60000000, "00:01:00.000"},
  };
  for (const auto& [t, text] : cases) EXPECT_EQ(TimeToText(t), text) << t;
}

TEST(LengthText, RoundsToSecondsAndShowsHoursOnlyWhenThere) {
  const std::pair<std::int64_t, const char*> cases[] = {
      {6600000, "0:07"}, {12499999, "0:12"}, {750000000, "12:30"}, {3599400000LL, "59:59"},
      {3723000000LL, "1:02:03"}, {0, "0:00"}, {-5, "0:00"},
  };
  for (const auto& [us, text] : cases) EXPECT_EQ(LengthText(us), text) << us;
}

TEST(MediaTypeName, KnownAndUnknown) {
  const char* names[] = {"Video", "Audio", "Data", "Subtitle", "Attachment"};
  for (int i = 0; i < 5; ++i) EXPECT_EQ(MediaTypeName(i), names[i]);
  EXPECT_EQ(MediaTypeName(-1), "Unknown");
  EXPECT_EQ(MediaTypeName(5), "Unknown");
}

TEST(GuessCorrectPts, PrefersPtsUntilItIsFaultierThanDts) {
  TPtsCorrection s;
  s.FaultyPts = 9;
  s.LastDts = 5;
  NewPtsCorrection(s);
  EXPECT_EQ(s.FaultyPts, 0);
  EXPECT_EQ(s.LastPts, INT64_MIN);
  EXPECT_EQ(s.LastDts, INT64_MIN);

  const std::int64_t N = AV_NOPTS_VALUE;
  struct Step {
    std::int64_t pts, dts, expected, faultyPts, faultyDts;
  };
  const Step steps[] = {
      {10, 10, 10, 0, 0},  // both present and equal: pts
      {N, 20, 20, 0, 0},   // no pts: dts
      {30, N, 30, 0, 0},   // no dts: pts
      {25, 40, 40, 1, 0},  // pts went back: pts faultier than dts, dts wins
      {50, 50, 50, 1, 0},  // still dts
      {60, 45, 60, 1, 1},  // dts went back too: equal fault counts, pts wins again
      {N, N, N, 1, 1},
  };
  for (const Step& st : steps) {
    EXPECT_EQ(GuessCorrectPts(s, st.pts, st.dts), st.expected) << st.pts << "/" << st.dts;
    EXPECT_EQ(s.FaultyPts, st.faultyPts);
    EXPECT_EQ(s.FaultyDts, st.faultyDts);
  }
  // pts absent but faultier counts do not matter: dts is the only value.
  EXPECT_EQ(GuessCorrectPts(s, N, 70), 70);
  EXPECT_EQ(s.LastPts, 60);
}

class ReadFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Dir = std::filesystem::temp_directory_path() / ("qv_readfile_" + std::to_string(::getpid()));
    std::filesystem::create_directories(Dir);
  }
  void TearDown() override { std::filesystem::remove_all(Dir); }
  std::string Write(const std::string& name, const std::string& bytes) {
    const std::string path = (Dir / name).string();
    FILE* f = std::fopen(path.c_str(), "wb");
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
    return path;
  }
  std::filesystem::path Dir;
};

TEST_F(ReadFileTest, WholeFileWithZeroAppended) {
  const std::string content("ab\0cd\xff", 6);
  for (const std::string& bytes : {content, std::string()}) {
    TAvMemPtr<std::uint8_t> buf;
    int size = -7;
    ASSERT_EQ(ReadFile(Write("f.bin", bytes), buf, size), 0);
    ASSERT_NE(buf, nullptr);
    EXPECT_EQ(size, int(bytes.size()) + 1);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf.get()), bytes.size()), bytes);
    EXPECT_EQ(buf.get()[bytes.size()], 0);
  }
}

TEST_F(ReadFileTest, MissingFileFolderOrOversizeFileFails) {
  TAvMemPtr<std::uint8_t> buf(static_cast<std::uint8_t*>(ff::av_malloc(1)));
  int size = 5;
  EXPECT_EQ(ReadFile((Dir / "missing").string(), buf, size), -1);
  EXPECT_EQ(buf, nullptr);
  EXPECT_EQ(ReadFile(Dir.string(), buf, size), -1);
  EXPECT_EQ(buf, nullptr);
  EXPECT_EQ(ReadFile(Write("f.bin", "12345"), buf, size, 4), -27);
  EXPECT_EQ(buf, nullptr);
}

}  // namespace
}  // namespace qv
