// The wave device without a sound server: option checks and failures that happen before any audio
// flows, and a system whose ALSA configuration offers no capture device at all.
#include "capture/wave_capture.h"

#include <alsa/asoundlib.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "capture/wave_capture_support.h"
#include "media/input_device.h"
#include "support/media_env.h"

QV_MEDIA_TEST_ENV;

namespace qv {
namespace {

class WaveCaptureTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RegisterWaveCapture();
    test::TWaveLog::Get().Install();
  }
};

TEST_F(WaveCaptureTest, RegistersOnceUnderItsName) {
  RegisterWaveCapture();
  RegisterWaveCapture();
  const TInputDevice* device = FindInputDevice("wavecapture");
  ASSERT_EQ(device, &WaveCaptureDevice);
  EXPECT_STREQ(device->long_name, "Wave capture using waveIn functions");
  EXPECT_EQ(device->flags, AVFMT_NOFILE);
  EXPECT_EQ(device->priv_data_size, static_cast<int>(sizeof(TWaveCaptureContext)));
}

TEST_F(WaveCaptureTest, BadOptionsFailTheOpenWithTheirMessage) {
  struct Case {
    const char* url;
    int result;
    const char* message;
  };
  const Case cases[] = {
      {"bufsize=3", AVERROR(EIO), "Error allocating wave buffer memory.\n"},  // 3 rounds down to 0
      {"bufsize=0", AVERROR(EIO), "Error allocating wave buffer memory.\n"},
      {"bufsize=-4096", AVERROR(EIO), "Error allocating wave buffer memory.\n"},
      {"c=1;bufsize=1", AVERROR(EIO), "Error allocating wave buffer memory.\n"},
      {"f=24", AVERROR(EIO), "Bad sample format 24\n"},
      {"f=x;c=3", AVERROR(EIO), "Bad channels number 3\n"},
      {"r=0", AVERROR(EIO), "Bad sample rate 0\n"},
      {"R=-44100", AVERROR(EIO), "Bad sample rate -44100\n"},
      {"c=3", AVERROR(EIO), "Bad channels number 3\n"},
      {"c=0", AVERROR(EIO), "Bad channels number 0\n"},
      {"i=9999", AVERROR(EIO), "No such device\n"},
      {"i=-2", AVERROR(EIO), "No such device\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.url);
    test::TWaveLog::Get().Clear();
    TDeviceInput input;
    EXPECT_EQ(input.Open(&WaveCaptureDevice, c.url, nullptr), c.result);
    EXPECT_EQ(input.Context(), nullptr);
    EXPECT_TRUE(test::TWaveLog::Get().Has(AV_LOG_ERROR, c.message)) << test::TWaveLog::Get().Dump();
  }
}

TEST_F(WaveCaptureTest, UnknownPausePointerIsIgnoredWithAWarning) {
  std::int32_t notRegistered = 1;
  const std::string address = std::to_string(reinterpret_cast<std::intptr_t>(&notRegistered));
  // The device still fails on its rate, after it has looked at the flag.
  TDeviceInput input;
  EXPECT_EQ(input.Open(&WaveCaptureDevice, "r=0;pause_pointer=" + address, nullptr), AVERROR(EIO));
  EXPECT_TRUE(test::TWaveLog::Get().Has(
      AV_LOG_WARNING, "pause_pointer " + address + " is not a registered pause flag, ignored\n"))
      << test::TWaveLog::Get().Dump();
}

TEST_F(WaveCaptureTest, NoCaptureDeviceAtAll) {
  // A real ALSA whose configuration defines no PCM at all.
  char path[] = "/tmp/qv-wave-alsa-XXXXXX";
  const int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  close(fd);
  ASSERT_EQ(setenv("ALSA_CONFIG_PATH", path, 1), 0);
  snd_config_update_free_global();
  const bool none = WaveCaptureDeviceNames().empty();
  TDeviceInput input;
  const int result = input.Open(&WaveCaptureDevice, "", nullptr);
  unsetenv("ALSA_CONFIG_PATH");
  snd_config_update_free_global();
  std::remove(path);

  EXPECT_TRUE(none);
  EXPECT_EQ(result, AVERROR(EIO));
  EXPECT_TRUE(test::TWaveLog::Get().Has(AV_LOG_ERROR, "No wave audio recording devices found.\n"))
      << test::TWaveLog::Get().Dump();
  // The ordinary configuration lists capture PCMs again, "default" among them, and no output-only one.
  const auto names = WaveCaptureDeviceNames();
  EXPECT_FALSE(names.empty());
}

}  // namespace
}  // namespace qv
