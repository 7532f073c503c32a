#include "media/option_store.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "media/ff_api.h"
#include "media/logger.h"
#include "support/media_env.h"

QV_MEDIA_TEST_ENV;

namespace qv {
namespace {

struct CodecContextFree {
  void operator()(AVCodecContext* c) const { ff::avcodec_free_context(&c); }
};
using CodecContextPtr = std::unique_ptr<AVCodecContext, CodecContextFree>;

class OptionStoreTest : public ::testing::Test {
 protected:
  void SetUp() override { InitOptionStore(Store, SWS_BICUBIC); }
  TOptionStore Store;
};

TEST_F(OptionStoreTest, RejectedValuesAndUnknownNamesFailWithTheirTexts) {
  struct Case {
    const char* name;
    const char* value;
    const char* error;
  };
  const Case cases[] = {
      {"b", "lots", "Invalid value \"lots\" for option \"b\""},               // codec option
      {"fflags", "+nosuchflag", "Invalid value \"+nosuchflag\" for option \"fflags\""},  // format option
      {"sws_flags", "sideways", "Invalid value \"sideways\" for option \"sws_flags\""},  // scaler option
      {"vb", "fast", "Invalid value \"fast\" for option \"vb\""},             // first-letter fallback
      {"nosuchoption", "1", "Unrecognized option \"nosuchoption\""},
      {"xnosuchoption", "1", "Unrecognized option \"xnosuchoption\""},
  };
  for (const Case& c : cases) {
    EXPECT_FALSE(SetGenericOption(Store, c.name, c.value)) << c.name;
    EXPECT_EQ(LastOptionError(), c.error);
  }
  EXPECT_EQ(Store.Count, 0);
  EXPECT_FALSE(SetGenericOption(Store, "  ", "1"));
  EXPECT_EQ(Store.Count, 0);
}

TEST_F(OptionStoreTest, EachKindOfOptionLandsWhereItBelongs) {
  ASSERT_TRUE(SetGenericOption(Store, "g", "7"));           // video codec option
  ASSERT_TRUE(SetGenericOption(Store, "vb", "2000000"));    // "b" of the video context only
  ASSERT_TRUE(SetGenericOption(Store, "ab", "64000"));      // the audio codec's own alias of "b"
  ASSERT_TRUE(SetGenericOption(Store, "probesize", "4096"));  // format context
  ASSERT_TRUE(SetGenericOption(Store, "sws_flags", "bilinear"));
  ASSERT_TRUE(SetGenericOption(Store, "data_partitioning", "1"));  // only the mpeg4 encoder's own table has it
  ASSERT_EQ(Store.Count, 6);

  EXPECT_EQ(Store.CodecContexts[0]->gop_size, 7);
  EXPECT_EQ(Store.CodecContexts[0]->bit_rate, 2000000);
  EXPECT_EQ(Store.CodecContexts[1]->bit_rate, 64000);
  EXPECT_EQ(Store.FormatContext->probesize, 4096);
  std::int64_t swsFlags = 0;
  ASSERT_GE(ff::av_opt_get_int(Store.ScalerContext, "sws_flags", 0, &swsFlags), 0);
  EXPECT_EQ(swsFlags, SWS_BILINEAR);

  // Context options are kept by the option's own name, without value; private ones with theirs.
  const char* names[] = {"g", "b", "ab", "probesize", "sws_flags", "data_partitioning"};
  const char* values[] = {"", "", "", "", "", "1"};
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(Store.Names[i], names[i]);
    EXPECT_EQ(Store.Values[i], values[i]);
  }

  FreeOptionStore(Store);
  EXPECT_EQ(Store.Count, 0);
  EXPECT_TRUE(Store.Names.empty());
  EXPECT_EQ(Store.FormatContext, nullptr);
  EXPECT_EQ(Store.CodecContexts[4], nullptr);
}

TEST_F(OptionStoreTest, ApplyCopiesMatchingOptionsIntoAFreshCodecContext) {
  ASSERT_TRUE(SetGenericOption(Store, "g", "9"));
  ASSERT_TRUE(SetGenericOption(Store, "b", "1500000"));
  ASSERT_TRUE(SetGenericOption(Store, "skip_frame", "nokey"));  // a decoding-only option
  ASSERT_TRUE(SetGenericOption(Store, "data_partitioning", "1"));

  const AVCodec* mpeg4 = ff::avcodec_find_encoder(AV_CODEC_ID_MPEG4);
  ASSERT_NE(mpeg4, nullptr);
  CodecContextPtr enc(ff::avcodec_alloc_context3(mpeg4));
  ApplyGenericOptions(Store, enc.get(), Store.CodecContexts[0], mpeg4,
                      AV_OPT_FLAG_VIDEO_PARAM | AV_OPT_FLAG_ENCODING_PARAM);
  EXPECT_EQ(enc->gop_size, 9);
  EXPECT_EQ(enc->bit_rate, 1500000);
  EXPECT_EQ(enc->skip_frame, AVDISCARD_DEFAULT);  // not an encoding option: left alone
  std::int64_t partitioning = 0;
  ASSERT_GE(ff::av_opt_get_int(enc->priv_data, "data_partitioning", 0, &partitioning), 0);
  EXPECT_EQ(partitioning, 1);

  const AVCodec* dec = ff::avcodec_find_decoder(AV_CODEC_ID_MPEG4);
  CodecContextPtr decoder(ff::avcodec_alloc_context3(dec));
  ApplyGenericOptions(Store, decoder.get(), Store.CodecContexts[0], dec,
                      AV_OPT_FLAG_VIDEO_PARAM | AV_OPT_FLAG_DECODING_PARAM);
  EXPECT_EQ(decoder->skip_frame, AVDISCARD_NONKEY);
  EXPECT_NE(decoder->gop_size, 9);  // encoding-only option stays at its default
}

TEST_F(OptionStoreTest, ApplyReachesAMuxersPrivateOptions) {
  ASSERT_TRUE(SetGenericOption(Store, "movflags", "faststart"));  // mov/mp4 muxer's own table
  ASSERT_TRUE(SetGenericOption(Store, "packetsize", "2048"));
  AVFormatContext* out = nullptr;
  ASSERT_GE(ff::avformat_alloc_output_context2(&out, nullptr, "mp4", "x.mp4"), 0);
  ApplyGenericOptions(Store, out, Store.FormatContext, nullptr, 0);
  EXPECT_EQ(out->packet_size, 2048u);
  std::int64_t movflags = 0;
  ASSERT_GE(ff::av_opt_get_int(out->priv_data, "movflags", 0, &movflags), 0);
  EXPECT_EQ(movflags, 1 << 7);  // faststart
  ff::avformat_free_context(out);
}

TEST(OptionStore, ScalerOptionsWorkWhateverTheScalerFlags) {
  // Flags naming two scaling methods make the scaler refuse to initialise; its options must still work.
  for (int flags : {SWS_BILINEAR | SWS_BICUBIC, SWS_BICUBIC, SWS_FAST_BILINEAR | SWS_ACCURATE_RND}) {
    TOptionStore store;
    InitOptionStore(store, flags);
    ASSERT_NE(store.ScalerContext, nullptr) << flags;
    std::int64_t value = -1;
    ASSERT_GE(ff::av_opt_get_int(store.ScalerContext, "sws_flags", 0, &value), 0);
    EXPECT_EQ(value, flags);
    EXPECT_TRUE(SetGenericOption(store, "sws_flags", "lanczos")) << flags;
    InitOptionStore(store, flags);  // init frees what was there first
    EXPECT_EQ(store.Count, 0);
  }
}

TEST_F(OptionStoreTest, DebugOptionRaisesTheLogLevel) {
  GetLogger()->SetLogLevel(llInfo);
  ASSERT_TRUE(SetGenericOption(Store, "threads", "2"));
  EXPECT_EQ(GetLogger()->LogLevel(), llInfo);
  ASSERT_TRUE(SetGenericOption(Store, "debug", "pict"));
  EXPECT_EQ(GetLogger()->LogLevel(), llDebug);
  GetLogger()->SetLogLevel(llInfo);
}

}  // namespace
}  // namespace qv
