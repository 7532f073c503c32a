// Whole runs with sound: generated clips with a 440 Hz tone become msmpeg4v2 + adpcm_ms AVI files
// that ffprobe and ffmpeg judge: codec, rate, duration, the tone's frequency, clean frame joins.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <iterator>
#include <numeric>
#include <tuple>

#include "engine/run_test_support.h"
#include "support/media_env.h"

QV_MEDIA_TEST_ENV;

namespace qv {
namespace {

using namespace test;

constexpr double kTone = 440;

class AudioTranscode : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    Dir = new TTempDir;
    const std::string video = "-f lavfi -i testsrc=duration=3:size=320x240:rate=25 ";
    const std::string tone = "-f lavfi -i sine=frequency=440:sample_rate=44100:duration=3 ";
    MakeClip(*Dir / "av.mkv", video + tone + "-ac 2 -c:v ffv1 -c:a pcm_s16le");
    MakeClip(*Dir / "v.mkv", video + "-c:v ffv1");
    MakeClip(*Dir / "a.wav", tone + "-ac 2 -c:a pcm_s16le");
    // Clips to join, each ending 900 samples (at 44100 Hz) into an adpcm_ms frame of 1012.
    for (const auto& [name, rate, samples] : {std::tuple{"join1.wav", 22050, 29292}, std::tuple{"join2.wav", 44100, 31260},
                                              std::tuple{"join3.wav", 22050, 24255}})
      MakeClip(*Dir / name, "-f lavfi -i sine=frequency=440:sample_rate=" + std::to_string(rate) +
                                " -af atrim=end_sample=" + std::to_string(samples) + " -ac 2 -c:a pcm_s16le");
    // Left channel 20000, right channel -3, as exact 16-bit values.
    MakeClip(*Dir / "levels.wav",
             "-f lavfi -i 'aevalsrc=exprs=20000/32768|-3/32768:sample_rate=44100:duration=0.5' -c:a pcm_s16le");
  }
  static void TearDownTestSuite() { delete Dir; }
  static std::string Path(const std::string& name) { return *Dir / name; }
  static TTempDir* Dir;
};
TTempDir* AudioTranscode::Dir = nullptr;

// The first audio stream of a file decoded by the ffmpeg command line: interleaved 16-bit samples.
std::vector<std::int16_t> DecodedAudio(const std::string& path, const std::string& raw) {
  int status = 0;
  RunCommand("ffmpeg -nostdin -v error -y -i " + Quote(path) + " -map 0:a:0 -f s16le -c:a pcm_s16le " + Quote(raw),
             &status);
  EXPECT_EQ(status, 0) << path;
  std::ifstream in(raw, std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<std::int16_t> pcm(bytes.size() / 2);
  std::memcpy(pcm.data(), bytes.data(), pcm.size() * 2);
  return pcm;
}

std::vector<double> Channel(const std::vector<std::int16_t>& pcm, int channels, int which) {
  std::vector<double> out;
  for (size_t i = size_t(which); i < pcm.size(); i += size_t(channels)) out.push_back(pcm[i]);
  return out;
}

// Frequency from the rising zero crossings between the first and the last one in [from, to).
double ToneFrequency(const std::vector<double>& s, size_t from, size_t to, int rate) {
  long first = -1, last = -1, count = 0;
  for (size_t n = std::max<size_t>(from, 1); n < std::min(to, s.size()); ++n)
    if (s[n - 1] < 0 && s[n] >= 0) {
      if (first < 0) first = long(n);
      last = long(n);
      ++count;
    }
  return count > 1 ? double(count - 1) * rate / double(last - first) : 0;
}

// How far each sample strays from a pure tone through its neighbours: s[n-1] + s[n+1] = 2cos(w)s[n].
// A click (a gap or a jump at a join) shows as a spike.
std::vector<double> ToneResidual(const std::vector<double>& s, int rate) {
  const double k = 2 * std::cos(2 * M_PI * kTone / rate);
  std::vector<double> r(s.size(), 0);
  for (size_t n = 1; n + 1 < s.size(); ++n) r[n] = std::fabs(s[n - 1] + s[n + 1] - k * s[n]);
  return r;
}

std::int64_t AudioPacketBytes(const std::string& path) {
  std::string out = RunCommand("ffprobe -v error -select_streams a:0 -show_entries packet=size -of csv=p=0 " +
                               Quote(path) + " 2>/dev/null");
  std::int64_t sum = 0;
  size_t pos = 0;
  while (pos < out.size()) {
    sum += std::atoll(out.c_str() + pos);
    size_t nl = out.find('\n', pos);
    if (nl == std::string::npos) break;
    pos = nl + 1;
  }
  return sum;
}

// Seconds of the first audio stream from ffprobe's frame count (the AVI header) and time base.
double ProbedLength(const std::string& path) {
  const double frames = std::atof(Probe(path, "stream=nb_frames", "a:0").c_str());
  const std::string tb = Probe(path, "stream=time_base", "a:0");
  const size_t slash = tb.find('/');
  if (slash == std::string::npos) return 0;
  return frames * std::atof(tb.c_str()) / std::atof(tb.c_str() + slash + 1);
}

TEST_F(AudioTranscode, ToneBecomesAdpcmMsAtTheChosenRate) {
  for (int rate : {44100, 22050}) {
    SCOPED_TRACE(testing::Message() << rate << " Hz");
    const std::string out = Path("tone" + std::to_string(rate) + ".avi");
    TCustomFFmpeg e;
    TTerminateProbe probe;
    probe.Attach(e);
    OpenAll(e, {{{}, Path("av.mkv")}},
            {{"vcodec", "msmpeg4v2"}, {"acodec", "adpcm_ms"}, {"ar", std::to_string(rate)}, {"ac", "2"},
             {"s", "320x240"}},
            out);
    e.Start(false, tpNormal);
    ASSERT_EQ(probe.Count, 1);
    ASSERT_FALSE(probe.Failed) << probe.Text;
    EXPECT_EQ(Probe(out, "stream=codec_name", "v:0"), "msmpeg4v2");
    EXPECT_EQ(Probe(out, "stream=codec_name", "a:0"), "adpcm_ms");
    EXPECT_EQ(Probe(out, "stream=sample_rate,channels", "a:0"), std::to_string(rate) + "\n2");
    EXPECT_EQ(e.AudioSize, AudioPacketBytes(out));

    // adpcm_ms in 1024-byte blocks: 1012 stereo samples per encoder frame.
    const int frame = 1012;
    const double frameTime = double(frame) / rate;
    // ffprobe gives no duration for ADPCM in AVI (nor for the command line's own files): the stream
    // length in blocks from the header times the time base (one block) stands for it.
    const double probed = ProbedLength(out);
    const std::vector<std::int16_t> pcm = DecodedAudio(out, Path("decoded.raw"));
    const double decoded = double(pcm.size() / 2) / rate;
    EXPECT_NEAR(probed, 3.0, frameTime);
    EXPECT_NEAR(decoded, 3.0, frameTime);
    ASSERT_EQ(pcm.size() / 2 % frame, 0u);

    const std::vector<double> left = Channel(pcm, 2, 0), right = Channel(pcm, 2, 1);
    const size_t end = left.size() - 2 * frame;  // the padded last frame ends in silence
    const double fl = ToneFrequency(left, frame, end, rate), fr = ToneFrequency(right, frame, end, rate);
    EXPECT_NEAR(fl, kTone, kTone * 0.002);
    EXPECT_NEAR(fr, kTone, kTone * 0.002);

    // Joins between encoder frames are no rougher than the inside of the frames.
    const std::vector<double> r = ToneResidual(left, rate);
    double atJoins = 0, inside = 0;
    for (size_t n = frame; n < end; ++n) {
      const size_t pos = n % frame;
      double& worst = pos == 0 || pos == frame - 1 ? atJoins : inside;
      worst = std::max(worst, r[n]);
    }
    EXPECT_LE(atJoins, inside * 1.5 + 16);
    // And no rougher than adpcm_ms made by the ffmpeg command line from the same input.
    const std::string ref = Path("ref.avi");
    MakeClip(ref, "-i " + Quote(Path("av.mkv")) + " -vn -c:a adpcm_ms -ar " + std::to_string(rate));
    const std::vector<std::int16_t> refPcm = DecodedAudio(ref, Path("ref.raw"));
    const std::vector<double> refLeft = Channel(refPcm, 2, 0);
    const std::vector<double> rr = ToneResidual(refLeft, rate);
    const double refMax = *std::max_element(rr.begin() + frame, rr.begin() + std::ptrdiff_t(refLeft.size() - 2 * frame));
    EXPECT_LE(std::max(atJoins, inside), refMax * 1.5 + 16);
    std::printf("%d Hz: ffprobe %.4f s, decoded %.4f s (input 3.0000 s, frame %.4f s), tone %.3f/%.3f Hz, "
                "residual joins %.0f inside %.0f command-line %.0f, %lld audio bytes\n",
                rate, probed, decoded, frameTime, fl, fr, atJoins, inside, refMax, static_cast<long long>(e.AudioSize));
  }
}

TEST_F(AudioTranscode, AudioStartingHalfASecondLateGetsSilenceInFront) {
  const std::string out = Path("late.avi");
  TCustomFFmpeg e;
  TTerminateProbe probe;
  probe.Attach(e);
  OpenAll(e, {{{}, Path("v.mkv")}, {{{"itsoffset", "0.5"}}, Path("a.wav")}},
          {{"vcodec", "msmpeg4v2"}, {"acodec", "adpcm_ms"}, {"ar", "44100"}, {"ac", "2"}, {"async", "1"}}, out);
  e.Start(false, tpNormal);
  ASSERT_EQ(probe.Count, 1);
  ASSERT_FALSE(probe.Failed) << probe.Text;
  const std::vector<double> left = Channel(DecodedAudio(out, Path("late.raw")), 2, 0);
  size_t firstLoud = 0;
  while (firstLoud < left.size() && std::fabs(left[firstLoud]) < 200) ++firstLoud;
  // 0.5 s of silence, then the tone from its first sample (it rises past 200 within two samples).
  EXPECT_NEAR(double(firstLoud), 22050, 3);
  EXPECT_NEAR(double(left.size()) / 44100, 3.5, 1012.0 / 44100);
  EXPECT_NEAR(ToneFrequency(left, 23000, left.size() - 2024, 44100), kTone, kTone * 0.002);
  std::printf("late audio: tone from sample %zu (%.4f s), %.4f s in all\n", firstLoud, firstLoud / 44100.0,
              left.size() / 44100.0);
}

TEST_F(AudioTranscode, JoinedClipsKeepEverySampleAcrossTheSplices) {
  const std::string out = Path("joined.avi");
  TCustomFFmpeg e;
  TTerminateProbe probe;
  probe.Attach(e);
  for (const char* name : {"join1.wav", "join2.wav", "join3.wav"}) ASSERT_TRUE(e.OpenInput(Path(name))) << e.LastError();
  SetOptions(e, {{"acodec", "adpcm_ms"}, {"ar", "44100"}, {"ac", "2"}});
  ASSERT_GE(e.OpenOutput(out, true), 0) << e.LastError();
  e.PrepareJoin();
  e.Start(false, tpNormal);
  ASSERT_FALSE(probe.Failed) << probe.Text;
  const std::int64_t parts = 2 * 29292 + 31260 + 2 * 24255;  // at 44100 Hz
  const std::int64_t joined = std::int64_t(DecodedAudio(out, Path("joined.raw")).size() / 2);
  std::printf("joined: %lld samples, parts %lld\n", static_cast<long long>(joined), static_cast<long long>(parts));
  // The last frame is padded up to a whole one.
  EXPECT_GE(joined, parts);
  EXPECT_LT(joined, parts + 1012);
}

TEST_F(AudioTranscode, VolumeScalesDecodedSamples) {
  struct TCase {
    int Volume;
    int Left, Right;
  };
  for (const TCase c : {TCase{512, 32767, -6}, TCase{128, 10000, -1}, TCase{256, 20000, -3}}) {
    SCOPED_TRACE(testing::Message() << "volume " << c.Volume);
    const std::string out = Path("levels" + std::to_string(c.Volume) + ".wav");
    TCustomFFmpeg e;
    TTerminateProbe probe;
    probe.Attach(e);
    OpenAll(e, {{{}, Path("levels.wav")}},
            {{"acodec", "pcm_s16le"}, {"ar", "44100"}, {"ac", "2"}, {"vol", std::to_string(c.Volume)}}, out);
    e.Start(false, tpNormal);
    ASSERT_EQ(probe.Count, 1);
    ASSERT_FALSE(probe.Failed) << probe.Text;
    const std::vector<std::int16_t> pcm = DecodedAudio(out, Path("levels.raw"));
    ASSERT_EQ(pcm.size(), 22050u * 2);
    for (size_t i = 0; i < pcm.size(); i += 2) {
      ASSERT_EQ(pcm[i], c.Left) << "sample " << i / 2;
      ASSERT_EQ(pcm[i + 1], c.Right) << "sample " << i / 2;
    }
  }
}

}  // namespace
}  // namespace qv
