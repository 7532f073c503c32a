// A clip whose name the locale's charset cannot carry (the test runs under LC_ALL=C) is opened and
// written through the "unicode" protocol; ffprobe reads the written file back by its real name.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>

#include "engine/custom_ffmpeg.h"
#include "engine/engine_test_support.h"
#include "media/protocol_registry.h"
#include "media/unicode_protocol.h"
#include "media/unicode_url.h"
#include "support/media_env.h"

namespace {
const int kLocale = (setenv("LC_ALL", "C", 1), 0);
}  // namespace

QV_MEDIA_TEST_ENV;

namespace qv {
namespace {

TEST(UnicodeFiles, OpenedAndWrittenThroughTheUnicodeProtocol) {
  (void)kLocale;
  RegisterUnicodeProtocol();  // the loader does this; harmless when it already has
  ASSERT_EQ(LocaleCharset(), "ANSI_X3.4-1968");
  test::TTempDir dir;
  const std::string src = dir / "Quelle \xc3\xbc\xe4\xb8\xad.avi";
  test::MakeClip(src, "-f lavfi -i testsrc=duration=1:size=160x120:rate=25 -c:v mpeg4 -g 5");
  const std::string dst = dir / "Ziel \xc3\xb6\xe6\x96\x87.avi";

  TCustomFFmpeg e;
  ASSERT_TRUE(e.OpenInput(src)) << e.LastError();
  TInputFile& in = e.Input(0);
  EXPECT_EQ(in.URL, "unicode:utf8:" + src);
  EXPECT_TRUE(in.Context()->flags & AVFMT_FLAG_CUSTOM_IO);
  e.SetOption("vcodec", "copy");
  ASSERT_EQ(e.OpenOutput(dst), 0) << e.LastError();
  TOutputFile& out = e.Output(0);
  EXPECT_EQ(out.URL, "unicode:utf8:" + dst);
  ASSERT_TRUE(IsProtocolIO(out.Ctx->pb));

  // Stream copy by hand (the run does this later): parameters, header, packets, trailer.
  AVStream* ist = in.Context()->streams[0];
  AVStream* ost = out.Streams[0].St;
  ASSERT_GE(ff::avcodec_parameters_copy(ost->codecpar, ist->codecpar), 0);
  ost->codecpar->codec_tag = 0;
  ost->time_base = ist->time_base;
  ASSERT_GE(ff::avformat_write_header(out.Ctx, nullptr), 0);
  AVPacket* pkt = ff::av_packet_alloc();
  int packets = 0;
  while (in.ReadPacket(pkt) >= 0) {
    ff::av_packet_rescale_ts(pkt, ist->time_base, ost->time_base);
    pkt->stream_index = 0;
    ASSERT_GE(ff::av_interleaved_write_frame(out.Ctx, pkt), 0);
    ++packets;
  }
  ff::av_packet_free(&pkt);
  ASSERT_GE(ff::av_write_trailer(out.Ctx), 0);
  e.CloseFiles();

  EXPECT_EQ(packets, 25);
  ASSERT_TRUE(std::filesystem::exists(dst));
  EXPECT_EQ(test::Probe(dst, "stream=codec_name", "v:0"), "mpeg4");
  EXPECT_EQ(test::Probe(dst, "stream=nb_frames", "v:0"), "25");
  EXPECT_EQ(test::Probe(dst, "stream=width,height", "v:0"), "160\n120");

  // A URL of a listed protocol is handed over as it stands.
  EXPECT_EQ(LibraryURL("pipe:1"), "pipe:1");
  EXPECT_EQ(LibraryURL("udp://127.0.0.1:1234?\xc3\xbc"), "udp://127.0.0.1:1234?\xc3\xbc");
}

}  // namespace
}  // namespace qv
