// The wave device without a sound server: option checks and failures that happen before any audio
// flows, a system whose ALSA configuration offers no capture device at all, and ALSA's own "null"
// capture device for what needs a capture thread but no sound.
#include "capture/wave_capture.h"

#include <alsa/asoundlib.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "capture/wave_capture_support.h"
#include "capture/wave_capture_thread.h"
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
  EXPECT_NE(device->create, nullptr);
}

TEST_F(WaveCaptureTest, BadOptionsFailTheOpenWithTheirMessage) {
  struct Case {
    const char* url;
    int result;
    const char* message;
  };
  const Case cases[] = {
      {"bufsize=3", AVERROR(EINVAL), "Invalid sound settings: a buffer of 3 bytes (4 to 1764000 can be used)."},
      {"bufsize=0", AVERROR(EINVAL), "Invalid sound settings: a buffer of 0 bytes (4 to 1764000 can be used)."},
      {"bufsize=-4096", AVERROR(EINVAL), "Invalid sound settings: a buffer of -4096 bytes (4 to 1764000 can be used)."},
      {"c=1;bufsize=1", AVERROR(EINVAL), "Invalid sound settings: a buffer of 1 bytes (2 to 882000 can be used)."},
      // At most ten seconds of audio.
      {"bufsize=1764001", AVERROR(EINVAL), "Invalid sound settings: a buffer of 1764001 bytes (4 to 1764000 can be used)."},
      {"f=24", AVERROR(EINVAL), "Invalid sound settings: 24 bits per sample (8 or 16 can be recorded)."},
      {"f=x;c=3", AVERROR(EINVAL), "Invalid sound settings: 3 channels (1 or 2 can be recorded)."},
      {"r=0", AVERROR(EINVAL), "Invalid sound settings: sample rate 0."},
      {"R=-44100", AVERROR(EINVAL), "Invalid sound settings: sample rate -44100."},
      {"c=3", AVERROR(EINVAL), "Invalid sound settings: 3 channels (1 or 2 can be recorded)."},
      {"c=0", AVERROR(EINVAL), "Invalid sound settings: 0 channels (1 or 2 can be recorded)."},
      {"i=9999", AVERROR(EIO), "No sound input could be opened (ALSA: No such device)."},
      {"i=-2", AVERROR(EIO), "No sound input could be opened (ALSA: No such device)."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.url);
    test::TWaveLog::Get().Clear();
    TDeviceInput input;
    EXPECT_EQ(input.Open(&WaveCaptureDevice, c.url, nullptr), c.result);
    EXPECT_EQ(input.Context(), nullptr);
    EXPECT_EQ(input.ErrorText(), c.message);
    EXPECT_TRUE(test::TWaveLog::Get().SaidBy("wavecapture", AV_LOG_ERROR, c.message + std::string("\n")))
        << test::TWaveLog::Get().Dump();
  }
}

TEST_F(WaveCaptureTest, UnknownSessionIsIgnoredWithAWarning) {
  std::int32_t notRegistered = 1;
  const std::string address = std::to_string(reinterpret_cast<std::intptr_t>(&notRegistered));
  // The device still fails on its rate, after it has looked at the session.
  TDeviceInput input;
  EXPECT_EQ(input.Open(&WaveCaptureDevice, "r=0;pause_pointer=" + address, nullptr), AVERROR(EINVAL));
  EXPECT_TRUE(test::TWaveLog::Get().Has(
      AV_LOG_WARNING, "session " + address + " is not a registered capture session, ignored\n"))
      << test::TWaveLog::Get().Dump();
}

// Points ALSA at a configuration of the test's own for the life of the object.
class TAlsaConfig {
 public:
  explicit TAlsaConfig(const std::string& text) {
    char path[] = "/tmp/qv-wave-alsa-XXXXXX";
    const int fd = mkstemp(path);
    Path = path;
    if (fd >= 0) {
      if (write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size())) Path.clear();
      close(fd);
    }
    setenv("ALSA_CONFIG_PATH", path, 1);
    snd_config_update_free_global();
  }
  ~TAlsaConfig() {
    unsetenv("ALSA_CONFIG_PATH");
    snd_config_update_free_global();
    std::remove(Path.c_str());
  }
  std::string Path;
};

TEST_F(WaveCaptureTest, NoCaptureDeviceAtAll) {
  bool none = false;
  int result = 0;
  TDeviceInput input;
  {
    // A real ALSA whose configuration defines no PCM at all.
    TAlsaConfig empty("");
    none = WaveCaptureDeviceNames().empty();
    result = input.Open(&WaveCaptureDevice, "", nullptr);
  }
  EXPECT_TRUE(none);
  EXPECT_EQ(result, AVERROR(EIO));
  EXPECT_EQ(input.ErrorText(), "No sound input could be opened (ALSA: no capture device is configured).");
  // The ordinary configuration lists capture PCMs again, "default" among them, and no output-only one.
  const auto names = WaveCaptureDeviceNames();
  EXPECT_FALSE(names.empty());
}

// The capture thread, caught inside the buffer callback (here: logging), outlives a close that gives
// up on it; what it goes on to touch must still be there (the sanitizer build tells).
TEST_F(WaveCaptureTest, CloseWhileTheCaptureThreadIsInsideTheCallback) {
  TAlsaConfig null("pcm.!default { type null hint { show on description \"silence\" } }\n");
  test::TWaveLog& log = test::TWaveLog::Get();
  log.HoldOn("not started, skip wave data");
  TDeviceInput input;
  ASSERT_EQ(input.Open(&WaveCaptureDevice, "", nullptr), 0) << log.Dump();
  ASSERT_TRUE(log.WaitHeld(std::chrono::seconds(5))) << log.Dump();
  const auto closing = std::chrono::steady_clock::now();
  input.Close();
  const double waited = std::chrono::duration<double>(std::chrono::steady_clock::now() - closing).count();
  EXPECT_GE(waited, TWaveInDevice::kQuitWaitMs / 1000.0 - 0.1);
  EXPECT_LT(waited, TWaveInDevice::kQuitWaitMs / 1000.0 + 1.0);
  log.Release();
  // The thread leaves the callback, sees that capture is over and ends, letting go of the state.
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
}

}  // namespace
}  // namespace qv
