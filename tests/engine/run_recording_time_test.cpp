// A recording time cutting off a live input whose frames do not come on every slot: a capture device
// that is late for a slot skips it, and the frame after the gap carries its own, later time. The
// video must still run up to the recording time, the gap filled with a repeated picture.
#include <gtest/gtest.h>

#include <cstdio>

#include "engine/run_test_support.h"
#include "media/input_device.h"
#include "support/media_env.h"

QV_MEDIA_TEST_ENV;

namespace qv {
namespace {

using namespace test;

// Stamped 64x48 grey pictures at 25 per second, like the screen device's. Option string
// "frames=N;skip=A,B": N pictures are handed out, then the end; slots A and B (-1: none) are
// skipped, so the picture after each one is a slot late.
struct TState {
  int Frames, SkipA, SkipB, Sent, Slot;
};

int ReadHeader(AVFormatContext* ctx, TFormatParameters*) {
  auto* s = static_cast<TState*>(ctx->priv_data);
  if (std::sscanf(ctx->url, "frames=%d;skip=%d,%d", &s->Frames, &s->SkipA, &s->SkipB) != 3) return AVERROR(EINVAL);
  AVStream* st = ff::avformat_new_stream(ctx, nullptr);
  if (!st) return AVERROR(ENOMEM);
  st->time_base = {1, 1000000};
  st->avg_frame_rate = st->r_frame_rate = {25, 1};
  st->codecpar->codec_type = AVMEDIA_TYPE_VIDEO;
  st->codecpar->codec_id = AV_CODEC_ID_RAWVIDEO;
  st->codecpar->width = 64;
  st->codecpar->height = 48;
  st->codecpar->format = AV_PIX_FMT_GRAY8;
  return 0;
}

int ReadPacket(AVFormatContext* ctx, AVPacket* pkt) {
  auto* s = static_cast<TState*>(ctx->priv_data);
  if (s->Sent >= s->Frames) return AVERROR_EOF;
  while (s->Slot == s->SkipA || s->Slot == s->SkipB) ++s->Slot;
  if (ff::av_new_packet(pkt, 64 * 48) < 0) return AVERROR(ENOMEM);
  std::memset(pkt->data, 40 + (s->Slot * 4) % 180, 64 * 48);
  pkt->pts = pkt->dts = std::int64_t(s->Slot) * 40000;
  pkt->duration = 40000;
  pkt->flags |= AV_PKT_FLAG_KEY;
  ++s->Sent;
  ++s->Slot;
  return pkt->size;
}

int ReadClose(AVFormatContext*) { return 0; }

const TInputDevice kDevice = {"slotdevice", "Slot-skipping test device", sizeof(TState), ReadHeader, ReadPacket,
                              ReadClose, AVFMT_NOFILE};

class RecordingTime : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    RegisterInputFormat(&kDevice);
    Dir = new TTempDir;
  }
  static void TearDownTestSuite() { delete Dir; }
  static TTempDir* Dir;
};
TTempDir* RecordingTime::Dir = nullptr;

TEST_F(RecordingTime, SkippedSlotsAreFilledUpToTheLimit) {
  struct TCase {
    const char* Name;
    const char* Device;
    const char* Time;   // recording time, "" for none
    const char* VSync;  // "" for automatic
    int Frames;         // in the file
    int Dups;
  };
  const TCase cases[] = {
      // Every slot in time: exactly the recording time, nothing repeated.
      {"no skip", "frames=80;skip=-1,-1", "2", "", 50, 0},
      // The last slot before the limit is lost: the next picture lies past the limit and is dropped,
      // so only a repeat of the one before can fill the slot.
      {"last slot skipped", "frames=80;skip=49,-1", "2", "", 50, 1},
      // A single skip mid-way is within the sync rule's tolerance (the picture after it moves a slot
      // earlier), so the video ends a slot short unless the end is filled.
      {"one slot skipped mid-way", "frames=80;skip=20,-1", "2", "", 50, 1},
      // A second skip puts the video two slots behind: the rule repeats a picture there, which takes
      // back one of the two; the other is owed at the end.
      {"two slots skipped", "frames=80;skip=10,30", "2", "", 50, 2},
      // Limit not on a slot boundary: the slot that starts before it is filled as well.
      {"limit inside a slot", "frames=80;skip=49,-1", "1.99", "", 50, 1},
      // An input that ends before the limit does not reach it: nothing is made up.
      {"input ends first", "frames=40;skip=-1,-1", "2", "", 40, 0},
      // Without a recording time the gap stays as the sync rule left it.
      {"no recording time", "frames=50;skip=49,-1", "", "", 50, 0},
      // Pass-through timing keeps every picture at its own time and repeats nothing.
      {"pass-through timing", "frames=80;skip=49,-1", "2", "0", 49, 0},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    const std::string out = *Dir / "slots.avi";
    TCustomFFmpeg e;
    TTerminateProbe probe;
    probe.Attach(e);
    TOptionList opts = {{"vcodec", "msmpeg4v2"}};
    if (*c.Time) opts.push_back({"t", c.Time});
    if (*c.VSync) opts.push_back({"vsync", c.VSync});
    OpenAll(e, {{{{"f", "slotdevice"}}, c.Device}}, opts, out);
    e.Start(false);
    ASSERT_FALSE(probe.Failed) << probe.Text;
    EXPECT_TRUE(probe.Completed);
    EXPECT_EQ(FrameCount(out), c.Frames);
    EXPECT_EQ(e.NbFramesDup, c.Dups);
    if (*c.VSync) continue;
    // Constant rate: one packet per slot from 0 on, the last one ending at the recording time.
    const auto packets = Packets(out);
    EXPECT_EQ(int(packets.size()), c.Frames);
    if (int(packets.size()) != c.Frames) continue;
    for (int k = 0; k < c.Frames; ++k) EXPECT_NEAR(packets[size_t(k)].first, k * 0.04, 0.001) << "packet " << k;
  }
}

}  // namespace
}  // namespace qv
