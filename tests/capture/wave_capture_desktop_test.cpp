// The wave device against a real sound server: ALSA's default capture device through PulseAudio,
// whose default source plays a continuous 1 kHz tone (the desktop rig provides it). Nothing here
// names a server or a path: the device finds the server through the environment the rig exports.
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "capture/capture_session.h"
#include "capture/wave_capture.h"
#include "capture/wave_capture_thread.h"
#include "capture/wave_capture_support.h"
#include "media/input_device.h"
#include "support/media_env.h"

QV_MEDIA_TEST_ENV;

namespace qv {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

double Seconds(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double>(b - a).count(); }

std::string Shell(const std::string& command) {
  std::string out;
  if (FILE* pipe = popen(command.c_str(), "r")) {
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, pipe)) > 0) out.append(buf, n);
    pclose(pipe);
  }
  return out;
}

struct TPacketDeleter {
  void operator()(AVPacket* p) const { ff::av_packet_free(&p); }
};
using TPacketPtr = std::unique_ptr<AVPacket, TPacketDeleter>;

// What came out of the device while reading for a while.
struct TTake {
  int Packets = 0;
  int MaxPacket = 0;
  int MinPacket = 1 << 30;
  std::vector<std::uint8_t> Bytes;
  int LastResult = 0;
  std::int64_t LastPts = AV_NOPTS_VALUE;
};

// Reads packets until `duration` has passed (blocking reads; -11 is "ask again").
TTake ReadFor(TDeviceInput& input, std::chrono::milliseconds duration) {
  TTake take;
  TPacketPtr pkt(ff::av_packet_alloc());
  const auto end = Clock::now() + duration;
  while (Clock::now() < end) {
    const int r = input.ReadPacket(pkt.get());
    take.LastResult = r;
    if (r == AVERROR(EAGAIN)) continue;
    if (r < 0) break;
    ++take.Packets;
    take.MaxPacket = std::max(take.MaxPacket, pkt->size);
    take.MinPacket = std::min(take.MinPacket, pkt->size);
    take.Bytes.insert(take.Bytes.end(), pkt->data, pkt->data + pkt->size);
    take.LastPts = pkt->pts;
    ff::av_packet_unref(pkt.get());
  }
  return take;
}

// Takes whatever is queued right now, without waiting.
TTake Drain(TDeviceInput& input) {
  TTake take;
  TPacketPtr pkt(ff::av_packet_alloc());
  const int saved = input.Context()->flags;
  input.Context()->flags |= AVFMT_FLAG_NONBLOCK;
  for (;;) {
    const int r = input.ReadPacket(pkt.get());
    take.LastResult = r;
    if (r < 0) break;
    ++take.Packets;
    take.Bytes.insert(take.Bytes.end(), pkt->data, pkt->data + pkt->size);
    ff::av_packet_unref(pkt.get());
  }
  input.Context()->flags = saved;
  return take;
}

// Waits for the first packet (the server may take a moment to deliver audio) and returns it.
TTake FirstPacket(TDeviceInput& input) {
  TTake take;
  TPacketPtr pkt(ff::av_packet_alloc());
  for (int i = 0; i < 5; ++i) {
    const int r = input.ReadPacket(pkt.get());
    take.LastResult = r;
    if (r >= 0) {
      take.Packets = 1;
      take.Bytes.assign(pkt->data, pkt->data + pkt->size);
      ff::av_packet_unref(pkt.get());
      break;
    }
    if (r != AVERROR(EAGAIN)) break;
  }
  return take;
}

// Samples of the first channel, centred on zero.
std::vector<int> FirstChannel(const std::vector<std::uint8_t>& bytes, int channels, int bits) {
  std::vector<int> out;
  const int frame = channels * bits / 8;
  for (size_t i = 0; i + frame <= bytes.size(); i += frame) {
    if (bits == 8) out.push_back(int(bytes[i]) - 128);
    else out.push_back(std::int16_t(bytes[i] | (bytes[i + 1] << 8)));
  }
  return out;
}

// Tone frequency from the number of rising zero crossings over the stretch.
double ToneFrequency(const std::vector<int>& samples, int rate) {
  int rising = 0, first = -1, last = -1;
  for (size_t i = 1; i < samples.size(); ++i)
    if (samples[i - 1] < 0 && samples[i] >= 0) {
      ++rising;
      if (first < 0) first = int(i);
      last = int(i);
    }
  if (rising < 2) return 0;
  return double(rising - 1) * rate / double(last - first);
}

int Peak(const std::vector<int>& samples) {
  int peak = 0;
  for (int s : samples) peak = std::max(peak, std::abs(s));
  return peak;
}

class WaveCaptureDesktopTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RegisterWaveCapture();
    test::TWaveLog::Get().Install();
  }
  test::TWaveLog& Log() { return test::TWaveLog::Get(); }
};

TEST_F(WaveCaptureDesktopTest, RecordsTheToneInRealTime) {
  struct Case {
    const char* url;
    int rate, channels, bits, packet;
  };
  const Case cases[] = {
      {"", 44100, 2, 16, 4096},                      // defaults
      {"bufsize=4097", 44100, 2, 16, 4096},          // rounded down to whole frames
      {"r=22050;c=1;f=16;bufsize=1001", 22050, 1, 16, 1000},
      {"r=44100;c=2;f=8;bufsize=3001", 44100, 2, 8, 3000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.url);
    Log().Clear();
    TDeviceInput input;
    ASSERT_EQ(input.Open(&WaveCaptureDevice, c.url, nullptr), 0) << Log().Dump();
    EXPECT_TRUE(Log().Has(AV_LOG_INFO, "ready for recording...\n"));

    AVFormatContext* ctx = input.Context();
    ASSERT_EQ(ctx->nb_streams, 1u);
    const AVStream* st = ctx->streams[0];
    const AVCodecParameters* par = st->codecpar;
    EXPECT_EQ(par->codec_type, AVMEDIA_TYPE_AUDIO);
    EXPECT_EQ(par->codec_id, c.bits == 8 ? AV_CODEC_ID_PCM_U8 : AV_CODEC_ID_PCM_S16LE);
    EXPECT_EQ(par->format, c.bits == 8 ? AV_SAMPLE_FMT_U8 : AV_SAMPLE_FMT_S16);
    EXPECT_EQ(par->sample_rate, c.rate);
    EXPECT_EQ(par->ch_layout.nb_channels, c.channels);
    EXPECT_EQ(par->block_align, c.channels * c.bits / 8);
    EXPECT_EQ(par->bit_rate, std::int64_t(c.rate) * c.channels * c.bits);
    EXPECT_EQ(par->frame_size, 4096);
    EXPECT_EQ(par->bits_per_coded_sample, c.bits);
    EXPECT_EQ(st->time_base.num, 1);
    EXPECT_EQ(st->time_base.den, 1000000);
    EXPECT_TRUE(ctx->flags & AVFMT_FLAG_NOPARSE);

    ASSERT_EQ(FirstPacket(input).Packets, 1) << Log().Dump();
    const auto start = Clock::now();
    TTake take = ReadFor(input, 2500ms);
    const double wall = Seconds(start, Clock::now());
    const int frame = c.channels * c.bits / 8;
    const double frames = double(take.Bytes.size()) / frame;
    EXPECT_EQ(take.MaxPacket, c.packet);
    EXPECT_EQ(take.MinPacket, c.packet);
    // Real time: the device neither loses nor invents audio (one packet of slack at each end).
    EXPECT_NEAR(frames / wall, c.rate, c.rate * 0.03 + 2.0 * c.packet / frame / wall);
    const std::vector<int> samples = FirstChannel(take.Bytes, c.channels, c.bits);
    EXPECT_NEAR(ToneFrequency(samples, c.rate), 1000.0, 10.0);
    EXPECT_GT(Peak(samples), c.bits == 8 ? 40 : 10000);  // the tone, not silence
    // The host stamps packets by sample count in the stream's microseconds.
    const double packetsSoFar = 1 + take.Packets - 1;  // the first one plus all but the last
    EXPECT_NEAR(double(take.LastPts), packetsSoFar * (c.packet / frame) * 1e6 / c.rate, 1.0);
  }
}

TEST_F(WaveCaptureDesktopTest, AudioBeforeTheFirstRequestIsDropped) {
  TDeviceInput input;
  ASSERT_EQ(input.Open(&WaveCaptureDevice, "", nullptr), 0) << Log().Dump();
  std::this_thread::sleep_for(1500ms);  // the device records all this time
  EXPECT_GE(Log().Count("not started, skip wave data 4096 bytes\n"), 5) << Log().Dump();
  const auto first = Clock::now();
  ASSERT_EQ(FirstPacket(input).Packets, 1);
  std::this_thread::sleep_for(300ms);
  const TTake queued = Drain(input);
  const double since = Seconds(first, Clock::now());
  // Only what was recorded after the request (plus the buffer under way) may come out, not the
  // second and a half before it.
  const double seconds = (queued.Bytes.size() + 4096.0) / (44100 * 4);
  EXPECT_LT(seconds, since + 0.15);
  EXPECT_EQ(queued.LastResult, AVERROR(EAGAIN));
}

TEST_F(WaveCaptureDesktopTest, SessionPauseDropsAudioAndEmptyQueueTimesOut) {
  std::shared_ptr<TCaptureSession> session = TCaptureSession::Create();
  TDeviceInput input;
  ASSERT_EQ(input.Open(&WaveCaptureDevice, "r=44100;c=2;f=16;pause_pointer=" + std::to_string(session->Number()),
                       nullptr),
            0)
      << Log().Dump();
  ASSERT_EQ(FirstPacket(input).Packets, 1);
  EXPECT_TRUE(Log().SaidBy("wavecapture", AV_LOG_INFO, "ready for recording...\n")) << Log().Dump();

  session->SetPaused(true);
  // Sound captured before the pause is still on its way for as long as the input's latency (the
  // PCM holds at most half a second) and is kept; after that, nothing.
  std::this_thread::sleep_for(700ms);
  Drain(input);
  std::this_thread::sleep_for(1000ms);
  const TTake whilePaused = Drain(input);
  EXPECT_EQ(whilePaused.Packets, 0);
  // Non-blocking: an empty queue answers "try again" at once.
  EXPECT_EQ(whilePaused.LastResult, AVERROR(EAGAIN));
  EXPECT_TRUE(Log().Has(AV_LOG_DEBUG, "non-block, need read again\n"));

  // Blocking: an empty queue answers "try again" after a second.
  TPacketPtr pkt(ff::av_packet_alloc());
  const auto waitStart = Clock::now();
  EXPECT_EQ(input.ReadPacket(pkt.get()), AVERROR(EAGAIN));
  const double waited = Seconds(waitStart, Clock::now());
  EXPECT_GT(waited, 0.9);
  EXPECT_LT(waited, 1.5);
  EXPECT_TRUE(Log().Has(AV_LOG_DEBUG, "wait timeout, need read again\n"));

  session->SetPaused(false);
  const auto resumed = Clock::now();
  const TTake after = FirstPacket(input);
  EXPECT_EQ(after.Packets, 1);
  EXPECT_LT(Seconds(resumed, Clock::now()), 0.2);  // with the next completed buffer
  EXPECT_GT(Peak(FirstChannel(after.Bytes, 2, 16)), 10000);
}

TEST_F(WaveCaptureDesktopTest, UnknownSessionNeverPauses) {
  std::int32_t stranger = 1;  // set, but never registered: must not be read
  const std::string addresses[] = {std::to_string(reinterpret_cast<std::intptr_t>(&stranger)), "4096",
                                   "-123456789"};
  for (const std::string& address : addresses) {
    SCOPED_TRACE(address);
    Log().Clear();
    TDeviceInput input;
    ASSERT_EQ(input.Open(&WaveCaptureDevice, "pause_pointer=" + address, nullptr), 0) << Log().Dump();
    EXPECT_TRUE(Log().Has(AV_LOG_WARNING, "session " + address + " is not a registered capture session, ignored\n"))
        << Log().Dump();
    ASSERT_EQ(FirstPacket(input).Packets, 1);
    EXPECT_GE(ReadFor(input, 300ms).Packets, 5);
  }
}

// Loads PulseAudio's text command interface on the rig's server for one test, so the test can do to
// its own recording stream what a user's mixer can: kill it.
class TPulseCli {
 public:
  TPulseCli() {
    char dir[] = "/tmp/qv-wave-cli-XXXXXX";
    if (!mkdtemp(dir)) return;
    Dir = dir;
    Socket = Dir + "/cli";
    Module = Shell("pactl load-module module-cli-protocol-unix socket=" + Socket + " 2>&1");
    while (!Module.empty() && (Module.back() == '\n')) Module.pop_back();
  }
  ~TPulseCli() {
    if (!Module.empty()) Shell("pactl unload-module " + Module + " >/dev/null 2>&1");
    std::remove(Socket.c_str());
    rmdir(Dir.c_str());
  }
  bool Ready() const { return !Module.empty() && Module.find_first_not_of("0123456789") == std::string::npos; }
  std::string Error() const { return Module; }
  void Command(const std::string& line) {
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", Socket.c_str());
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
      // One line only: the interface's "exit" would end the whole server.
      const std::string text = line + "\n";
      if (write(fd, text.data(), text.size()) < 0) ADD_FAILURE() << "cli write";
      timeval wait{0, 300000};
      setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
      char buf[256];
      while (read(fd, buf, sizeof buf) > 0) {
      }
    }
    close(fd);
  }

 private:
  std::string Dir, Socket, Module;
};

// The server's index of this process's recording stream, or "" when there is none.
std::string OwnSourceOutput() {
  const std::string list = Shell("pactl list source-outputs 2>/dev/null");
  const std::string pid = "application.process.id = \"" + std::to_string(getpid()) + "\"";
  std::string current;
  size_t pos = 0;
  while (pos < list.size()) {
    size_t end = list.find('\n', pos);
    if (end == std::string::npos) end = list.size();
    const std::string line = list.substr(pos, end - pos);
    if (line.rfind("Source Output #", 0) == 0) current = line.substr(15);
    if (line.find(pid) != std::string::npos) return current;
    pos = end + 1;
  }
  return "";
}

TEST_F(WaveCaptureDesktopTest, LostAudioComesBackAsSilenceOnTheWallClock) {
  TPulseCli cli;
  ASSERT_TRUE(cli.Ready()) << cli.Error();
  TDeviceInput input;
  ASSERT_EQ(input.Open(&WaveCaptureDevice, "", nullptr), 0) << Log().Dump();
  ASSERT_EQ(FirstPacket(input).Packets, 1);
  const auto start = Clock::now();
  const TTake before = ReadFor(input, 1000ms);
  const std::string stream = OwnSourceOutput();
  ASSERT_FALSE(stream.empty());
  // The server drops our recording stream (as a mixer's "kill" does); ALSA reports an overrun and
  // the device records on a new stream. The audio of the gap is lost, its time is not.
  cli.Command("kill-source-output " + stream);
  const TTake after = ReadFor(input, 3000ms);
  const double wall = Seconds(start, Clock::now());
  input.Close();  // logs the clock's account
  const std::string log = Log().Dump();
  EXPECT_EQ(log.find("silence for lost audio 0\n"), std::string::npos) << log;
  EXPECT_NEAR(double(before.Bytes.size() + after.Bytes.size()) / (44100 * 4), wall, 0.1) << log;
  const std::vector<int> samples = FirstChannel(after.Bytes, 2, 16);
  ASSERT_GT(samples.size(), 44100u);
  EXPECT_GT(Peak(std::vector<int>(samples.end() - 44100, samples.end())), 10000);  // the tone again
}

// The sound server dies mid-recording: the input goes on with silence paced on the wall clock, so
// the time line stays whole, and the recording's session is told once.
TEST_F(WaveCaptureDesktopTest, LostServerGoesOnWithSilenceAndOneNotice) {
  // A sound server of the test's own, so that it can be taken away.
  char dir[] = "/tmp/qv-wave-pa-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string root = dir;
  if (FILE* f = std::fopen((root + "/default.pa").c_str(), "w")) {
    std::fprintf(f,
                 "load-module module-native-protocol-unix auth-anonymous=1 socket=%s/native\n"
                 "load-module module-null-sink sink_name=qv_wave_gone rate=44100 channels=2\n"
                 "set-default-source qv_wave_gone.monitor\n",
                 root.c_str());
    std::fclose(f);
  }
  const pid_t server = fork();
  ASSERT_GE(server, 0);
  if (server == 0) {
    setenv("XDG_RUNTIME_DIR", root.c_str(), 1);
    setenv("HOME", root.c_str(), 1);
    execlp("pulseaudio", "pulseaudio", "-n", "-F", (root + "/default.pa").c_str(), "--exit-idle-time=-1",
           "--use-pid-file=no", "--daemonize=no", "--realtime=no", "--high-priority=no", "--log-target=stderr",
           "--log-level=0", static_cast<char*>(nullptr));
    _exit(127);
  }
  for (int i = 0; i < 50 && access((root + "/native").c_str(), F_OK) != 0; ++i) std::this_thread::sleep_for(100ms);
  const char* rigServer = std::getenv("PULSE_SERVER");
  const std::string saved = rigServer ? rigServer : "";
  setenv("PULSE_SERVER", ("unix:" + root + "/native").c_str(), 1);
  // The device's attempts to reopen go to this server too, until the test is over.
  struct TRestore {
    const char* Rig;
    std::string Saved;
    ~TRestore() {
      if (Rig) setenv("PULSE_SERVER", Saved.c_str(), 1);
      else unsetenv("PULSE_SERVER");
    }
  } restore{rigServer, saved};
  std::shared_ptr<TCaptureSession> session = TCaptureSession::Create();
  TDeviceInput input;
  const int opened = input.Open(&WaveCaptureDevice, "session=" + std::to_string(session->Number()), nullptr);
  TTake first;
  if (opened == 0) first = FirstPacket(input);
  const auto start = Clock::now();
  TTake before;
  if (first.Packets == 1) before = ReadFor(input, 500ms);

  kill(server, SIGKILL);
  waitpid(server, nullptr, 0);
  Shell("rm -rf " + root);
  ASSERT_EQ(opened, 0) << Log().Dump();
  ASSERT_EQ(first.Packets, 1) << Log().Dump();

  // ALSA's client may report the loss or simply wait for the dead server for ever; then the device
  // gives up once no buffer completes for a while. Either way the reads go on, with silence.
  // The device tries the same server again every second meanwhile, in vain.
  const TTake after = ReadFor(input, 8000ms);
  const double wall = Seconds(start, Clock::now());
  EXPECT_GE(after.LastResult, 0) << Log().Dump();
  // Paced from when the last sound came, so the sound server's buffering (about 0.1 s here) is the
  // slack.
  EXPECT_NEAR(double(before.Bytes.size() + after.Bytes.size()) / (44100 * 4), wall, 0.2) << Log().Dump();
  const std::vector<int> samples = FirstChannel(after.Bytes, 2, 16);
  ASSERT_GT(samples.size(), 44100u);
  EXPECT_EQ(Peak(std::vector<int>(samples.end() - 44100, samples.end())), 0);
  const std::string told = "The sound input was lost (";
  EXPECT_EQ(Log().Count(told), 1) << Log().Dump();
  const std::vector<std::string> notices = session->TakeNotices();
  ASSERT_EQ(notices.size(), 1u);
  EXPECT_EQ(notices[0].rfind(told, 0), 0u) << notices[0];
  EXPECT_NE(notices[0].find("); the recording goes on with silence."), std::string::npos) << notices[0];

  // Closing never hangs, even when ALSA's client is stuck.
  const auto closing = Clock::now();
  input.Close();
  EXPECT_LT(Seconds(closing, Clock::now()), TWaveInDevice::kQuitWaitMs / 1000.0 + 1.0);
}

TEST_F(WaveCaptureDesktopTest, SteadyClockNeedsNoCorrection) {
  // The server's clock is the system clock, so over a recording long enough for the drift estimate
  // the device must find no drift to correct, whatever the jitter of buffer delivery.
  TDeviceInput input;
  ASSERT_EQ(input.Open(&WaveCaptureDevice, "", nullptr), 0) << Log().Dump();
  ASSERT_EQ(FirstPacket(input).Packets, 1);
  const auto start = Clock::now();
  const TTake take = ReadFor(input, 16000ms);
  const double wall = Seconds(start, Clock::now());
  input.Close();
  EXPECT_NEAR(double(take.Bytes.size()) / (44100 * 4), wall, 0.05);
  EXPECT_EQ(take.MinPacket, 4096);
  EXPECT_EQ(take.MaxPacket, 4096);
  const std::string log = Log().Dump();
  EXPECT_NE(log.find("frames inserted 0, dropped 0, silence for lost audio 0\n"), std::string::npos) << log;
  double ppm = 1e9;
  const size_t at = log.find("audio clock ");
  ASSERT_NE(at, std::string::npos) << log;
  std::sscanf(log.c_str() + at, "audio clock %lf ppm", &ppm);
  EXPECT_LT(std::abs(ppm), 500.0) << log;
}

TEST_F(WaveCaptureDesktopTest, CloseWithQueuedPacketsReleasesThem) {
  TDeviceInput input;
  ASSERT_EQ(input.Open(&WaveCaptureDevice, "bufsize=1024", nullptr), 0) << Log().Dump();
  ASSERT_EQ(FirstPacket(input).Packets, 1);
  std::this_thread::sleep_for(500ms);  // about a hundred packets wait in the queue
  input.Close();
  EXPECT_EQ(input.Context(), nullptr);
}

}  // namespace
}  // namespace qv
