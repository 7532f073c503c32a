// SetOption: every value kind, table-driven, against the real libraries' parsers and option tables.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <functional>

#include "engine/custom_ffmpeg.h"
#include "engine/presets.h"
#include "engine/engine_test_support.h"
#include "support/media_env.h"

QV_MEDIA_TEST_ENV;

namespace qv {
namespace {

using test::TLogRecorder;

// The message SetOption raises, or "" when it accepts the value.
std::string Try(TCustomFFmpeg& e, const std::string& name, const std::string& value) {
  try {
    e.SetOption(name, value);
    return "";
  } catch (const FFmpegException& ex) {
    return ex.what();
  }
}

TEST(Options, Defaults) {
  TCustomFFmpeg e;
  const TPendingOptions& o = e.Options();
  EXPECT_EQ(o.AudioSampleRate, 44100);
  EXPECT_EQ(o.AudioChannels, 2);
  EXPECT_EQ(o.VideoSyncMethod, -1);
  EXPECT_EQ(o.AudioSyncMethod, 0);
  EXPECT_EQ(o.RecordingTime, INT64_MAX);
  EXPECT_EQ(o.AudioVolume, 256);
  EXPECT_EQ(o.IntraDcPrecision, 8);
  EXPECT_DOUBLE_EQ(o.MuxPreload, 0.5);
  EXPECT_DOUBLE_EQ(o.MuxMaxDelay, 0.7);
  EXPECT_EQ(o.MaxFrames[0], INT32_MAX);
  EXPECT_EQ(o.FramePixFmt, -1);
  EXPECT_EQ(o.SwsFlags, 4);
  EXPECT_EQ(e.TotalDuration, -1);
  EXPECT_EQ(e.IoTimeout, 10000);
  EXPECT_TRUE(e.RaiseOnBadOption);
}

TEST(Options, Booleans) {
  struct {
    const char* Name;
    bool TPendingOptions::*Field;
  } const flags[] = {
      {"dump", &TPendingOptions::DoPktDump},       {"hex", &TPendingOptions::DoHexDump},
      {"re", &TPendingOptions::RateEmu},           {"loop_input", &TPendingOptions::LoopInput},
      {"copyts", &TPendingOptions::CopyTs},        {"copytb", &TPendingOptions::CopyTb},
      {"shortest", &TPendingOptions::OptShortest}, {"xerror", &TPendingOptions::ExitOnError},
      {"intra", &TPendingOptions::IntraOnly},      {"vn", &TPendingOptions::VideoDisable},
      {"sameq", &TPendingOptions::SameQuality},    {"deinterlace", &TPendingOptions::DoDeinterlace},
      {"psnr", &TPendingOptions::DoPsnr},          {"qphist", &TPendingOptions::QpHist},
      {"force_fps", &TPendingOptions::ForceFps},   {"an", &TPendingOptions::AudioDisable},
      {"sn", &TPendingOptions::SubtitleDisable},   {"isync", &TPendingOptions::InputSync},
  };
  const std::pair<const char*, bool> values[] = {{"1", true}, {"0", false}, {"", true}, {"yes", true}, {"00", true}};
  for (const auto& f : flags)
    for (const auto& [value, expected] : values) {
      TCustomFFmpeg e;
      if (!expected) e.SetOption(f.Name, "1");
      EXPECT_EQ(Try(e, f.Name, value), "");
      EXPECT_EQ(e.Options().*(f.Field), expected) << f.Name << "=" << value;
    }
}

TEST(Options, Integers) {
  struct TCase {
    const char* Name;
    const char* Value;
    std::function<std::int64_t(const TPendingOptions&)> Get;
    std::int64_t Expected;
    const char* Error;
  };
  const TCase cases[] = {
      {"vsync", "2", [](auto& o) { return o.VideoSyncMethod; }, 2, ""},
      {"async", "-1", [](auto& o) { return o.AudioSyncMethod; }, -1, ""},
      {"vol", "512", [](auto& o) { return o.AudioVolume; }, 512, ""},
      {"programid", "0x10", [](auto& o) { return o.OptProgramId; }, 16, ""},
      {"dc", " 9", [](auto& o) { return o.IntraDcPrecision; }, 9, ""},
      {"vframes", "100", [](auto& o) { return o.MaxFrames[0]; }, 100, ""},
      {"aframes", "7", [](auto& o) { return o.MaxFrames[1]; }, 7, ""},
      {"dframes", "3", [](auto& o) { return o.MaxFrames[2]; }, 3, ""},
      {"fs", "5000000000", [](auto& o) { return o.LimitFileSize; }, 5000000000LL, ""},
      {"ar", "22050", [](auto& o) { return o.AudioSampleRate; }, 22050, ""},
      {"ar", "0", [](auto& o) { return o.AudioSampleRate; }, 44100, ""},
      {"ac", "-1", [](auto& o) { return o.AudioChannels; }, 2, ""},
      {"ac", "1", [](auto& o) { return o.AudioChannels; }, 1, ""},
      {"pass", "2", [](auto& o) { return o.DoPass; }, 2, ""},
      {"pass", "3", nullptr, 0, "pass number can be only 1 or 2"},
      {"pass", "0", nullptr, 0, "pass number can be only 1 or 2"},
      {"vol", "abc", nullptr, 0, "'abc' is not a valid integer value"},
      {"vol", "12 ", nullptr, 0, "'12 ' is not a valid integer value"},
      {"vol", "", nullptr, 0, "'' is not a valid integer value"},
      {"threads", "99999999999", nullptr, 0, "'99999999999' is not a valid integer value"},
      {"fs", "1e3", nullptr, 0, "'1e3' is not a valid integer value"},
      // Past the 64-bit range; a 20-digit text must not wrap round to a value that fits.
      {"fs", "20000000000000000000", nullptr, 0, "'20000000000000000000' is not a valid integer value"},
      {"loop_output", "x", nullptr, 0, "'x' is not a valid integer value"},
  };
  for (const auto& c : cases) {
    TCustomFFmpeg e;
    EXPECT_EQ(Try(e, c.Name, c.Value), c.Error) << c.Name << "=" << c.Value;
    if (c.Get) {
      EXPECT_EQ(c.Get(e.Options()), c.Expected) << c.Name << "=" << c.Value;
    }
  }
}

TEST(Options, Floats) {
  struct TCase {
    const char* Name;
    const char* Value;
    double TPendingOptions::*Field;
    double Expected;
    const char* Error;
  };
  const TCase cases[] = {
      {"qscale", "255", &TPendingOptions::VideoQScale, 255, ""},
      {"qscale", "0.5", &TPendingOptions::VideoQScale, 0.5, ""},
      {"qscale", "0", nullptr, 0, "qscale must be > 0.0 and <= 255"},
      {"qscale", "256", nullptr, 0, "qscale must be > 0.0 and <= 255"},
      {"qscale", "-3", nullptr, 0, "qscale must be > 0.0 and <= 255"},
      {"qscale", "nan", nullptr, 0, "'nan' is not a valid floating point value"},
      {"muxdelay", "0.1", &TPendingOptions::MuxMaxDelay, 0.1, ""},
      {"muxpreload", "2", &TPendingOptions::MuxPreload, 2, ""},
      {"aq", "3.5", &TPendingOptions::AudioQScale, 3.5, ""},
      {"adrift_threshold", "1e-2", &TPendingOptions::AudioDriftThreshold, 0.01, ""},
      {"dts_delta_threshold", "x1", nullptr, 0, "'x1' is not a valid floating point value"},
      {"muxdelay", "1.5s", nullptr, 0, "'1.5s' is not a valid floating point value"},
      // Values that are multiplied later must keep the product representable.
      {"muxdelay", "1e300", nullptr, 0, "The value for muxdelay was 1e+300 which is not within 0 - 2147.483647"},
      {"muxpreload", "-1", nullptr, 0, "The value for muxpreload was -1 which is not within 0 - 2147.483647"},
      {"aq", "1e9", nullptr, 0, "The value for aq was 1000000000 which is not within -99999 - 18199013.957627118"},
      {"muxdelay", "2147.48", &TPendingOptions::MuxMaxDelay, 2147.48, ""},
  };
  for (const auto& c : cases) {
    TCustomFFmpeg e;
    EXPECT_EQ(Try(e, c.Name, c.Value), c.Error) << c.Name << "=" << c.Value;
    if (c.Field) {
      EXPECT_DOUBLE_EQ(e.Options().*(c.Field), c.Expected) << c.Name << "=" << c.Value;
    }
  }
}

TEST(Options, TimesAndDates) {
  struct TCase {
    const char* Name;
    const char* Value;
    std::int64_t TPendingOptions::*Field;
    std::int64_t Expected;
    const char* Error;
  };
  const TCase cases[] = {
      {"t", "1:02:03.5", &TPendingOptions::RecordingTime, 3723500000LL, ""},
      {"t", "90", &TPendingOptions::RecordingTime, 90000000LL, ""},
      {"ss", "-2.5", &TPendingOptions::StartTime, -2500000LL, ""},
      {"itsoffset", "00:00:01.25", &TPendingOptions::InputTsOffset, 1250000LL, ""},
      {"timestamp", "1970-01-01 00:01:40.6Z", &TPendingOptions::RecordingTimestamp, 101, ""},
      {"t", "abc", nullptr, 0, "Invalid duration specification for t: abc"},
      {"ss", "1:2:x", nullptr, 0, "Invalid duration specification for ss: 1:2:x"},
      {"itsoffset", "", nullptr, 0, "Invalid duration specification for itsoffset: "},
      {"timestamp", "not a date", nullptr, 0, "Invalid date specification for timestamp: not a date"},
  };
  for (const auto& c : cases) {
    TCustomFFmpeg e;
    EXPECT_EQ(Try(e, c.Name, c.Value), c.Error) << c.Name << "=" << c.Value;
    if (c.Field) {
      EXPECT_EQ(e.Options().*(c.Field), c.Expected) << c.Name << "=" << c.Value;
    }
  }
  TCustomFFmpeg e;
  e.SetOption("t", "5");
  EXPECT_EQ(e.TotalDuration, 5000000);
}

TEST(Options, RatesSizesAspects) {
  struct TCase {
    const char* Name;
    const char* Value;
    std::function<bool(const TPendingOptions&)> Check;
    const char* Error;
  };
  const TCase cases[] = {
      {"r", "ntsc", [](auto& o) { return o.FrameRate.num == 30000 && o.FrameRate.den == 1001; }, ""},
      {"r", "25", [](auto& o) { return o.FrameRate.num == 25 && o.FrameRate.den == 1; }, ""},
      {"r", "24000/1001", [](auto& o) { return o.FrameRate.num == 24000 && o.FrameRate.den == 1001; }, ""},
      {"r", "abc", nullptr, "Incorrect frame rate"},
      {"r", "-5", nullptr, "Incorrect frame rate"},
      {"r", "0", nullptr, "Incorrect frame rate"},
      {"s", "vga", [](auto& o) { return o.FrameWidth == 640 && o.FrameHeight == 480; }, ""},
      {"s", "320x240", [](auto& o) { return o.FrameWidth == 320 && o.FrameHeight == 240; }, ""},
      {"s", "320x", nullptr, "Incorrect frame size"},
      {"s", "-2x4", nullptr, "Incorrect frame size"},
      {"s", "100000x100000", nullptr, "Frame size 100000x100000 is too large"},
      {"r", "29.97", [](auto& o) { return std::abs(av_q2d(o.FrameRate) - 29.97) < 1e-9; }, ""},
      {"aspect", "16:9", [](auto& o) { return std::abs(o.FrameAspectRatio - 16.0 / 9) < 1e-9; }, ""},
      {"aspect", "1.5", [](auto& o) { return o.FrameAspectRatio == 1.5; }, ""},
      {"aspect", "4:0", nullptr, "Incorrect aspect ratio specification."},
      {"aspect", "0", nullptr, "Incorrect aspect ratio specification."},
      {"aspect", "wide", nullptr, "Incorrect aspect ratio specification."},
      {"aspect", "-1.5", nullptr, "Incorrect aspect ratio specification."},
      {"pix_fmt", "yuv420p", [](auto& o) { return o.FramePixFmt == AV_PIX_FMT_YUV420P; }, ""},
      {"pix_fmt", "bogus", nullptr, "Unknown pixel format requested: bogus"},
      {"sample_fmt", "s16", [](auto& o) { return o.AudioSampleFmt == AV_SAMPLE_FMT_S16; }, ""},
      {"sample_fmt", "bogus", nullptr, "Invalid sample format \"bogus\""},
  };
  for (const auto& c : cases) {
    TCustomFFmpeg e;
    EXPECT_EQ(Try(e, c.Name, c.Value), c.Error) << c.Name << "=" << c.Value;
    if (c.Check) {
      EXPECT_TRUE(c.Check(e.Options())) << c.Name << "=" << c.Value;
    }
  }
}

TEST(Options, TagsAndCodecNames) {
  struct TCase {
    const char* Name;
    const char* Value;
    std::uint32_t Expected;
    const char* Error;
  };
  const TCase cases[] = {
      {"vtag", "DIVX", MKTAG('D', 'I', 'V', 'X'), ""},
      {"atag", "123", 123, ""},
      {"stag", "0x10", 16, ""},
      {"vtag", "XVI", 0, "Invalid tag parmeter XVI"},
      {"vtag", "XVIDX", 0, "Invalid tag parmeter XVIDX"},
      {"atag", "", 0, "Invalid tag parmeter "},
  };
  for (const auto& c : cases) {
    TCustomFFmpeg e;
    EXPECT_EQ(Try(e, c.Name, c.Value), c.Error) << c.Name << "=" << c.Value;
    if (!*c.Error) {
      const TPendingOptions& o = e.Options();
      std::uint32_t got = c.Name[0] == 'v' ? o.VideoCodecTag : c.Name[0] == 'a' ? o.AudioCodecTag : o.SubtitleCodecTag;
      EXPECT_EQ(got, c.Expected) << c.Name << "=" << c.Value;
    }
  }
  TCustomFFmpeg e;
  e.SetOption("vcodec", "copy");
  e.SetOption("acodec", "adpcm_ms");
  e.SetOption("scodec", "copy");
  EXPECT_TRUE(e.Options().VideoStreamCopy);
  EXPECT_TRUE(e.Options().VideoCodecName.empty());
  EXPECT_EQ(e.Options().AudioCodecName, "adpcm_ms");
  EXPECT_FALSE(e.Options().AudioStreamCopy);
  EXPECT_TRUE(e.Options().SubtitleStreamCopy);
}

TEST(Options, Maps) {
  TCustomFFmpeg e;
  e.SetOption("map", "0.1");
  e.SetOption("map", "1:2:3:4");
  ASSERT_EQ(e.Options().StreamMaps.size(), 2u);
  const TStreamMap& a = e.Options().StreamMaps[0];
  EXPECT_EQ(a.FileIndex, 0);
  EXPECT_EQ(a.StreamIndex, 1);
  EXPECT_EQ(a.SyncFileIndex, 0);  // no sync part: the mapped stream syncs itself
  EXPECT_EQ(a.SyncStreamIndex, 1);
  const TStreamMap& b = e.Options().StreamMaps[1];
  EXPECT_EQ(b.FileIndex * 1000 + b.StreamIndex * 100 + b.SyncFileIndex * 10 + b.SyncStreamIndex, 1234);

  e.SetOption("map_meta_data", "0,s1:1,c2");
  ASSERT_EQ(e.Options().MetadataMaps.size(), 1u);
  const TMetadataMap& m = e.Options().MetadataMaps[0];
  EXPECT_EQ(m.Out.File, 0);
  EXPECT_EQ(m.Out.Kind, 's');
  EXPECT_EQ(m.Out.Index, 1);
  EXPECT_EQ(m.In.File, 1);
  EXPECT_EQ(m.In.Kind, 'c');
  EXPECT_EQ(m.In.Index, 2);
  EXPECT_TRUE(e.Options().MetadataGlobalAutocopy);
  EXPECT_FALSE(e.Options().MetadataStreamsAutocopy);
  EXPECT_FALSE(e.Options().MetadataChaptersAutocopy);

  // A global side written out as ",g" must not swallow the input file's number.
  e.SetOption("map_meta_data", "0,g:1,g");
  EXPECT_EQ(e.Options().MetadataMaps[1].In.File, 1);
  EXPECT_EQ(e.Options().MetadataMaps[1].In.Kind, 'g');
  EXPECT_FALSE(e.Options().MetadataGlobalAutocopy);
  e.SetOption("map_meta_data", "2:3");
  EXPECT_EQ(e.Options().MetadataMaps[2].Out.File, 2);
  EXPECT_EQ(e.Options().MetadataMaps[2].In.File, 3);
  EXPECT_EQ(Try(e, "map_meta_data", "0,x:1"), "Invalid metadata type x.");
  EXPECT_EQ(Try(e, "map_meta_data", "0:1,q"), "Invalid metadata type q.");

  e.SetOption("map_chapters", "1:0");
  ASSERT_EQ(e.Options().ChapterMaps.size(), 1u);
  EXPECT_EQ(e.Options().ChapterMaps[0].OutFile, 1);
  EXPECT_EQ(e.Options().ChapterMaps[0].InFile, 0);
}

TEST(Options, StructuredValues) {
  struct TCase {
    const char* Name;
    const char* Value;
    const char* Error;
  };
  const TCase errors[] = {
      {"itsscale", "20:1", "stream index over MAX_STREAMS(20)"},
      {"itsscale", "-1:2", "stream index over MAX_STREAMS(20)"},
      {"itsscale", "1:fast", "'fast' is not a valid floating point value"},
      {"itsscale", "1:1e300", "The value for itsscale was 1e+300 which is not within 0 - 1000000"},
      {"metadata", "noequals", "Missing ="},
      {"metadata", "=x", "wrong parameter of metadata"},
      {"streamid", "2", "Invalid value \"2\" for option \"streamid\", required syntax is \"index:value\""},
      {"streamid", "x:1", "Invalid value \"x:1\" for option \"streamid\", required syntax is \"index:value\""},
      {"streamid", "20:1", "Invalid value \"20:1\" for option \"streamid\", required syntax is \"index:value\""},
      {"vbsf", "nosuchfilter", "Unknown bitstream filter nosuchfilter"},
      {"croptop", "10", "Removed, use the crop filter instead"},
      {"padcolor", "red", "Removed, use the pad filter instead"},
      {"newvideo", "", "At least one output file must be specified"},
      {"target", "pal-xyz", "Unknown target type"},
      {"target", "vcd", "frame_rate is invalid."},
  };
  for (const auto& c : errors) {
    TCustomFFmpeg e;
    EXPECT_EQ(Try(e, c.Name, c.Value), c.Error) << c.Name << "=" << c.Value;
  }

  TCustomFFmpeg e;
  e.SetOption("itsscale", "1:0.5");
  EXPECT_DOUBLE_EQ(e.Options().TsScale[1], 0.5);
  e.SetOption("metadata", "title=a=b");
  AVDictionaryEntry* t = ff::av_dict_get(e.Options().Metadata.get(), "title", nullptr, 0);
  ASSERT_NE(t, nullptr);
  EXPECT_STREQ(t->value, "a=b");
  e.SetOption("streamid", "2:301");
  ASSERT_EQ(e.Options().StreamIdMap.size(), 3u);
  EXPECT_EQ(e.Options().StreamIdMap[2], 301);
  EXPECT_EQ(e.Options().StreamIdMap[0], -1);
  e.SetOption("vbsf", "h264_mp4toannexb");
  e.SetOption("absf", "noise=whatever");  // the text after "=" is not the filter's name
  ASSERT_EQ(e.Options().VideoBsfs.size(), 1u);
  EXPECT_STREQ(e.Options().VideoBsfs[0]->name, "h264_mp4toannexb");
  ASSERT_EQ(e.Options().AudioBsfs.size(), 1u);
}

TEST(Options, Matrices) {
  std::string full;
  for (int i = 1; i <= 64; ++i) full += (i > 1 ? "," : "") + std::to_string(i);
  std::string short63 = full.substr(0, full.rfind(','));
  struct TCase {
    std::string Value;
    std::string Error;
  };
  const TCase cases[] = {
      {full, ""},
      {short63, "Syntax error in matrix \"" + short63 + "\" at coeff 62"},  // no comma after the 63rd
      {"a," + full.substr(2), "Syntax error in matrix \"a," + full.substr(2) + "\" at coeff 0"},
      {full + ",65", "Syntax error in matrix \"" + full + ",65\" at coeff 63"},
      {"", "Syntax error in matrix \"\" at coeff 0"},
  };
  for (const auto& c : cases) {
    TCustomFFmpeg e;
    EXPECT_EQ(Try(e, "intra_matrix", c.Value), c.Error) << c.Value;
    if (c.Error.empty()) {
      ASSERT_TRUE(e.Options().IntraMatrix);
      EXPECT_EQ((*e.Options().IntraMatrix)[0], 1);
      EXPECT_EQ((*e.Options().IntraMatrix)[63], 64);
    }
  }
}

TEST(Options, GenericOptionsAndBitRates) {
  TLogRecorder log;
  TCustomFFmpeg e;
  EXPECT_EQ(Try(e, "g", "12"), "");
  EXPECT_EQ(e.GenericOptions().CodecContexts[AVMEDIA_TYPE_VIDEO]->gop_size, 12);
  EXPECT_EQ(Try(e, "nosuchoption", "1"), "Unrecognized option \"nosuchoption\"");
  EXPECT_EQ(Try(e, "b", "abc"), "Invalid value \"abc\" for option \"b\"");
  EXPECT_FALSE(log.Contains("bitrate parameter is set too low"));
  EXPECT_EQ(Try(e, "b", "64"), "");
  EXPECT_TRUE(log.Contains("WARNING: The bitrate parameter is set too low. It takes bits/s as argument, not kbits/s"));
  EXPECT_EQ(Try(e, "ab", "128000"), "");
  EXPECT_EQ(e.GenericOptions().CodecContexts[AVMEDIA_TYPE_AUDIO]->bit_rate, 128000);
  // The video rate options stay off the audio encoder, given after the audio rate or before.
  EXPECT_EQ(Try(e, "b", "500k"), "");
  EXPECT_EQ(Try(e, "maxrate", "600k"), "");
  EXPECT_EQ(e.GenericOptions().CodecContexts[AVMEDIA_TYPE_AUDIO]->bit_rate, 128000);
  EXPECT_EQ(e.GenericOptions().CodecContexts[AVMEDIA_TYPE_AUDIO]->rc_max_rate, 0);
  EXPECT_EQ(e.GenericOptions().CodecContexts[AVMEDIA_TYPE_VIDEO]->bit_rate, 500000);
  EXPECT_EQ(Try(e, "me_threshold", "5"), "");
  EXPECT_TRUE(log.Contains("Option me_threshold is no longer supported"));
  EXPECT_EQ(Try(e, "sws_flags", "bilinear"), "");
  EXPECT_EQ(e.Options().SwsFlags, 2);  // SWS_BILINEAR

  e.RaiseOnBadOption = false;
  EXPECT_EQ(Try(e, "nosuchoption", "1"), "");
  EXPECT_EQ(Try(e, "b", "abc"), "");

  EXPECT_EQ(Try(e, "version", "x"), "");
  EXPECT_TRUE(log.Contains("Do nothing: option - version"));
  EXPECT_EQ(Try(e, "timelimit", "10"), "");
  EXPECT_TRUE(log.Contains("Warning: -timelimit not implemented on Windows"));
  EXPECT_EQ(Try(e, "pix_fmt", "list"), "");
  EXPECT_TRUE(log.Contains("yuv420p"));
  EXPECT_EQ(Try(e, "loglevel", "bogus"), "'bogus' is not a valid integer value");
}

TEST(Options, TypedSetters) {
  TCustomFFmpeg e;
  e.SetAudioSampleRate(0);
  e.SetAudioChannels(-1);
  e.SetProgramId(-1);
  e.SetAudioVolume(-1);
  e.SetMuxDelay(0);
  e.SetMuxPreload(-1);
  e.SetRecordingTime(AV_NOPTS_VALUE);
  const TPendingOptions& o = e.Options();
  EXPECT_EQ(o.AudioSampleRate, 44100);
  EXPECT_EQ(o.AudioChannels, 2);
  EXPECT_EQ(o.OptProgramId, 0);
  EXPECT_EQ(o.AudioVolume, 256);
  EXPECT_DOUBLE_EQ(o.MuxMaxDelay, 0.7);
  EXPECT_DOUBLE_EQ(o.MuxPreload, 0.5);
  EXPECT_EQ(o.RecordingTime, INT64_MAX);
  EXPECT_EQ(e.TotalDuration, -1);
  e.SetRecordingTime(3000000);
  EXPECT_EQ(e.TotalDuration, 3000000);
  e.SetGenericNumber("g", 30);
  EXPECT_EQ(e.GenericOptions().CodecContexts[AVMEDIA_TYPE_VIDEO]->gop_size, 30);
  e.SetGenericNumber("qcomp", 0.25);
  EXPECT_FLOAT_EQ(e.GenericOptions().CodecContexts[AVMEDIA_TYPE_VIDEO]->qcompress, 0.25f);
  EXPECT_THROW(e.SetFrameSize("huge"), FFmpegException);
  e.SetPreviewFlags(3);
  EXPECT_EQ(e.PreviewFlags(), 3);
  e.SetPreviewFlags(2);
  EXPECT_EQ(e.PreviewFlags(), 2);
}

TEST(Options, Targets) {
  struct TCase {
    const char* PresetRate;  // pending rate before `target`, or nullptr
    const char* Target;
    const char* Format;
    int Width, Height;
    AVRational Rate;
    const char* VideoCodec;
    const char* AudioCodec;
    int SampleRate;
    int PixFmt;
    double Aspect;
  };
  const TCase cases[] = {
      {nullptr, "pal-vcd", "vcd", 352, 288, {25, 1}, "mpeg1video", "mp2", 44100, AV_PIX_FMT_YUV420P, 4.0 / 3},
      {nullptr, "ntsc-svcd", "svcd", 480, 480, {30000, 1001}, "mpeg2video", "mp2", 44100, AV_PIX_FMT_YUV420P, 4.0 / 3},
      {nullptr, "film-dvd", "dvd", 720, 480, {24000, 1001}, "mpeg2video", "ac3", 48000, AV_PIX_FMT_YUV420P, 16.0 / 9},
      {"25", "dv", "dv", 720, 576, {25, 1}, "", "", 48000, AV_PIX_FMT_YUV420P, 0},
      {"30000/1001", "dv", "dv", 720, 480, {30000, 1001}, "", "", 48000, AV_PIX_FMT_YUV411P, 0},
      {nullptr, "pal-dv50", "dv", 720, 576, {25, 1}, "", "", 48000, AV_PIX_FMT_YUV422P, 0},
  };
  for (const auto& c : cases) {
    TLogRecorder log;
    TCustomFFmpeg e;
    if (c.PresetRate) e.SetOption("r", c.PresetRate);
    ASSERT_EQ(Try(e, "target", c.Target), "") << c.Target;
    const TPendingOptions& o = e.Options();
    EXPECT_EQ(o.FormatName, c.Format) << c.Target;
    EXPECT_EQ(o.FrameWidth, c.Width) << c.Target;
    EXPECT_EQ(o.FrameHeight, c.Height) << c.Target;
    EXPECT_EQ(av_cmp_q(o.FrameRate, c.Rate), 0) << c.Target;
    EXPECT_EQ(o.VideoCodecName, c.VideoCodec) << c.Target;
    EXPECT_EQ(o.AudioCodecName, c.AudioCodec) << c.Target;
    EXPECT_EQ(o.AudioSampleRate, c.SampleRate) << c.Target;
    EXPECT_EQ(o.FramePixFmt, c.PixFmt) << c.Target;
    EXPECT_NEAR(o.FrameAspectRatio, c.Aspect, 1e-9) << c.Target;
    if (c.PresetRate) {
      EXPECT_TRUE(log.Contains(std::string("Assuming ") + (c.Height == 576 ? "PAL" : "NTSC") + " for target."));
    }
    if (c.Aspect > 1.5) {
      EXPECT_TRUE(log.Contains("Assuming 16:9 for aspect ratio"));
    }
  }
  TCustomFFmpeg e;
  e.SetOption("ac", "1");
  e.SetOption("aspect", "16:9");
  e.SetOption("target", "pal-svcd");
  EXPECT_EQ(e.Options().AudioChannels, 2);
  EXPECT_NEAR(e.Options().FrameAspectRatio, 16.0 / 9, 1e-9);  // a given aspect stays
  EXPECT_EQ(e.GenericOptions().CodecContexts[AVMEDIA_TYPE_VIDEO]->bit_rate, 2040000);
  EXPECT_EQ(e.GenericOptions().CodecContexts[AVMEDIA_TYPE_VIDEO]->rc_max_rate, 2516000);
  TCustomFFmpeg f;
  f.SetOption("r", "15");
  EXPECT_EQ(Try(f, "target", "dvd"), "frame_rate is invalid.");
}

TEST(Options, CodecLookup) {
  TCustomFFmpeg e;
  const AVCodec* c = nullptr;
  EXPECT_TRUE(e.FindCodec("", AVMEDIA_TYPE_VIDEO, true, 0, c));
  EXPECT_EQ(c, nullptr);
  EXPECT_TRUE(e.FindCodec("msmpeg4v2", AVMEDIA_TYPE_VIDEO, true, 0, c));
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(c->id, AV_CODEC_ID_MSMPEG4V2);
  struct TCase {
    const char* Name;
    AVMediaType Type;
    bool Encoder;
    const char* Error;
  };
  const TCase cases[] = {
      {"nosuch", AVMEDIA_TYPE_VIDEO, true, "Unknown encoder 'nosuch'"},
      {"nosuch", AVMEDIA_TYPE_AUDIO, false, "Unknown decoder 'nosuch'"},
      {"adpcm_ms", AVMEDIA_TYPE_VIDEO, true, "Invalid encoder type 'adpcm_ms'"},
      {"h264", AVMEDIA_TYPE_AUDIO, false, "Invalid decoder type 'h264'"},
      {"vorbis", AVMEDIA_TYPE_AUDIO, true,
       "encoder 'vorbis' is experimental and might produce bad results.\r\nAdd '-strict experimental' if you want to "
       "use it.\r\nOr use the non experimental encoder 'libvorbis'."},
  };
  for (const auto& k : cases) {
    EXPECT_FALSE(e.FindCodec(k.Name, k.Type, k.Encoder, FF_COMPLIANCE_NORMAL, c)) << k.Name;
    EXPECT_EQ(e.LastError(), k.Error);
  }
  EXPECT_TRUE(e.FindCodec("vorbis", AVMEDIA_TYPE_AUDIO, true, FF_COMPLIANCE_EXPERIMENTAL, c));
}

// Names the store kept, for checking what a preset handed over.
bool StoreHas(TCustomFFmpeg& e, const std::string& name, const std::string& value = "") {
  const TOptionStore& s = e.GenericOptions();
  for (int i = 0; i < s.Count; ++i)
    if (s.Names[size_t(i)] == name && (value.empty() || s.Values[size_t(i)] == value)) return true;
  return false;
}

TEST(Presets, EveryBuiltinIsAcceptedByTheLoadedLibraries) {
  const char* names[] = {"baseline", "default", "fast", "fast_firstpass", "faster", "faster_firstpass",
                         "fastfirstpass", "hq", "ipod320", "ipod640", "lossless_fast", "lossless_max",
                         "lossless_medium", "lossless_slow", "lossless_slower", "lossless_ultrafast", "main", "max",
                         "medium", "medium_firstpass", "normal", "placebo", "placebo_firstpass", "slow",
                         "slow_firstpass", "slower", "slower_firstpass", "slowfirstpass", "superfast",
                         "superfast_firstpass", "ultrafast", "ultrafast_firstpass", "veryfast", "veryfast_firstpass",
                         "veryslow", "veryslow_firstpass"};
  for (const char* n : names) {
    std::string full = std::string("libx264-") + n;
    const char* text = BuiltinPresetText(full);
    ASSERT_NE(text, nullptr) << full;
    EXPECT_GE(std::strlen(text), 14u) << full;
    EXPECT_LE(std::strlen(text), 319u) << full;
    TCustomFFmpeg e;  // raises on any line the libraries refuse
    EXPECT_EQ(Try(e, "vpre", full), "") << full;
  }
  EXPECT_STREQ(BuiltinPresetText("libx264-main"), "flags2=-dct8x8");
  EXPECT_STREQ(BuiltinPresetText("LIBX264-IPOD320"),
               "coder=0\nbf=0\nflags2=-wpred-dct8x8\nlevel=13\nmaxrate=768000\nbufsize=3000000\nwpredp=0");
  EXPECT_STREQ(BuiltinPresetText("libx264-medium_firstpass"), BuiltinPresetText("libx264-fast_firstpass"));
  EXPECT_STREQ(BuiltinPresetText("libx264-placebo_firstpass"), BuiltinPresetText("libx264-placebo"));
  EXPECT_STREQ(BuiltinPresetText("libx264-slower_firstpass"), BuiltinPresetText("libx264-slow_firstpass"));
  EXPECT_STREQ(BuiltinPresetText("libx264-ultrafast_firstpass"), BuiltinPresetText("libx264-ultrafast"));
}

TEST(Presets, LegacyX264NamesKeepTheirMeaning) {
  TCustomFFmpeg e;
  e.SetOption("vpre", "LIBX264-IPOD320");
  EXPECT_TRUE(StoreHas(e, "weightb", "0"));
  EXPECT_TRUE(StoreHas(e, "8x8dct", "0"));
  EXPECT_EQ(e.GenericOptions().CodecContexts[AVMEDIA_TYPE_VIDEO]->level, 13);
  EXPECT_EQ(e.GenericOptions().CodecContexts[AVMEDIA_TYPE_VIDEO]->rc_max_rate, 768000);

  AVCodecContext* probe = e.GenericOptions().CodecContexts[AVMEDIA_TYPE_VIDEO];
  auto pairs = TranslateLegacyLine(probe, "flags2", "+fast+mbtree-bpyramid");
  ASSERT_EQ(pairs.size(), 3u);
  EXPECT_EQ(pairs[0], std::make_pair(std::string("flags2"), std::string("+fast")));  // still a flags2 bit
  EXPECT_EQ(pairs[1], std::make_pair(std::string("mbtree"), std::string("1")));
  EXPECT_EQ(pairs[2], std::make_pair(std::string("b-pyramid"), std::string("none")));
  pairs = TranslateLegacyLine(probe, "partitions", "+parti8x8+parti4x4+partp8x8-partb8x8");
  EXPECT_EQ(pairs, (std::vector<std::pair<std::string, std::string>>{{"partitions", "i8x8,i4x4,p8x8"}}));
  pairs = TranslateLegacyLine(probe, "directpred", "1");
  EXPECT_EQ(pairs[0].first, "direct-pred");
  pairs = TranslateLegacyLine(probe, "g", "250");
  EXPECT_EQ(pairs[0].first, "g");
}

TEST(Presets, ByCodecNameAndFromFiles) {
  test::TTempDir dir;
  TCustomFFmpeg e;
  e.SetOption("vcodec", "libx264");
  e.SetOption("vpre", "medium");  // libx264-medium through the pending codec name
  EXPECT_TRUE(StoreHas(e, "preset", "medium"));

  std::string good = dir / "good.ffpreset";
  std::ofstream(good) << "  # a comment\r\n\r\n vcodec = mpeg4 \r\ng=12\nacodec=copy\n";
  TCustomFFmpeg f;
  EXPECT_EQ(Try(f, "fpre", good), "");
  EXPECT_EQ(f.Options().VideoCodecName, "mpeg4");
  EXPECT_TRUE(f.Options().AudioStreamCopy);
  EXPECT_EQ(f.GenericOptions().CodecContexts[AVMEDIA_TYPE_VIDEO]->gop_size, 12);

  std::string bad = dir / "bad.ffpreset";
  std::ofstream(bad) << "g=12\nnovalue\n";
  EXPECT_EQ(Try(f, "vpre", bad), bad + ": Invalid syntax: \"novalue\"");
  std::ofstream(bad) << "=5\n";
  EXPECT_EQ(Try(f, "apre", bad), bad + ": Invalid syntax: \"=5\"");
  std::ofstream(bad) << "b=fast\n";
  EXPECT_EQ(Try(f, "vpre", bad),
            "Invalid value \"fast\" for option \"b\"\r\n" + bad +
                ": Invalid option or argument: \"b=fast\", parsed as \"b\" = \"fast\"");
  EXPECT_EQ(Try(f, "vpre", dir / "missing.ffpreset"), "Preset \"" + (dir / "missing.ffpreset") + "\" not found");
  EXPECT_EQ(Try(f, "fpre", "/dev/zero"),
            "Preset \"/dev/zero\" is larger than 1 MB; a preset file holds name=value lines");
  // "f" presets are files only, even when a built-in has the name.
  EXPECT_EQ(Try(f, "fpre", "libx264-main"), "Preset \"libx264-main\" not found");
}

}  // namespace
}  // namespace qv
