// The SetOption dispatch table: names are compared in table order, the first match wins, and names
// the table does not know go to the generic option store.
#include <cerrno>
#include <cfloat>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <initializer_list>

#include "engine/custom_ffmpeg.h"
#include "engine/option_values.h"

namespace qv {

namespace {

bool In(const std::string& name, std::initializer_list<const char*> names) {
  for (const char* n : names)
    if (name == n) return true;
  return false;
}

}  // namespace

void TCustomFFmpeg::Log(TLogLevel level, const std::string& msg) const { EngineLog(this, level, msg); }

void TCustomFFmpeg::SetOption(const std::string& name, const std::string& value) {
  // Member handlers have the class's access, so the small ones are written in place as lambdas
  // turned into handler calls through this one-entry-per-row table.
  struct TRow {
    std::initializer_list<const char*> Names;
    void (*Apply)(TCustomFFmpeg& e, const std::string& name, const std::string& value);
  };
  static const TRow kTable[] = {
      {{"l", "h", "version", "formats", "codecs", "bsfs", "protocols", "filters", "i", "y", "benchmark"},
       [](TCustomFFmpeg& e, const std::string& n, const std::string& v) { e.DoNothing(n, v); }},
      {{"loglevel"},
       [](TCustomFFmpeg&, const std::string&, const std::string& v) {
         try {
           GetLogger()->SetLogLevelByName(v);
         } catch (const std::exception& ex) {
           RaiseFFmpeg(ex.what());
         }
       }},
      {{"f"}, [](TCustomFFmpeg& e, const std::string&, const std::string& v) { e.Opt.FormatName = v; }},
      {{"map"}, [](TCustomFFmpeg& e, const std::string&, const std::string& v) { e.ParseMap(v); }},
      {{"map_meta_data"}, [](TCustomFFmpeg& e, const std::string&, const std::string& v) { e.ParseMetadataMap(v); }},
      {{"map_chapters"}, [](TCustomFFmpeg& e, const std::string&, const std::string& v) { e.ParseChapterMap(v); }},
      {{"t"},
       [](TCustomFFmpeg& e, const std::string& n, const std::string& v) {
         e.Opt.RecordingTime = ParseTimeValue(n, v, true);
         e.TotalDuration = e.Opt.RecordingTime;
       }},
      {{"to"},
       [](TCustomFFmpeg& e, const std::string& n, const std::string& v) { e.Opt.StopTime = ParseTimeValue(n, v, true); }},
      {{"fs"}, [](TCustomFFmpeg& e, const std::string&, const std::string& v) { e.Opt.LimitFileSize = ParseInt64Value(v); }},
      {{"ss"},
       [](TCustomFFmpeg& e, const std::string& n, const std::string& v) { e.Opt.StartTime = ParseTimeValue(n, v, true); }},
      {{"itsoffset"},
       [](TCustomFFmpeg& e, const std::string& n, const std::string& v) {
         e.Opt.InputTsOffset = ParseTimeValue(n, v, true);
       }},
      {{"itsscale"}, [](TCustomFFmpeg& e, const std::string&, const std::string& v) { e.ParseTsScale(v); }},
      {{"timestamp"},
       [](TCustomFFmpeg& e, const std::string& n, const std::string& v) {
         std::int64_t us = ParseTimeValue(n, v, false);
         // Rounded to whole seconds, half away from zero.
         e.Opt.RecordingTimestamp = us >= 0 ? (us + 500000) / 1000000 : -((-us + 500000) / 1000000);
       }},
      {{"metadata"}, [](TCustomFFmpeg& e, const std::string&, const std::string& v) { e.ParseMetadata(v); }},
      {{"dframes"}, [](TCustomFFmpeg& e, const std::string&, const std::string& v) { e.Opt.MaxFrames[2] = ParseIntValue(v); }},
      {{"timelimit"},
       [](TCustomFFmpeg& e, const std::string&, const std::string&) {
         e.Log(llWarning, "Warning: -timelimit not implemented on Windows");
       }},
      {{"dump", "hex", "re", "loop_input", "copyts", "copytb", "shortest", "xerror", "intra", "vn", "sameq",
        "deinterlace", "psnr", "qphist", "force_fps", "an", "sn", "isync", "crash_safe", "edge_pad", "follow_load"},
       [](TCustomFFmpeg& e, const std::string& n, const std::string& v) { e.SetBoolFlag(n, v); }},
      {{"loop_output"}, [](TCustomFFmpeg& e, const std::string&, const std::string& v) { e.Opt.LoopOutput = ParseIntValue(v); }},
      {{"v"}, [](TCustomFFmpeg& e, const std::string&, const std::string& v) { e.Opt.Verbose = ParseIntValue(v); }},
      {{"target"}, [](TCustomFFmpeg& e, const std::string&, const std::string& v) { e.ApplyTarget(v); }},
      {{"threads"},
       [](TCustomFFmpeg& e, const std::string&, const std::string& v) {
         e.Opt.ThreadCount = ParseIntValue(v);
         if (e.Opt.Verbose >= 0)
           e.Log(llVerbose,
                 "Warning: if the ffmpeg libraries were not compiled with thread support, it would be using "
                 "thread emulation.");
       }},
      {{"vsync", "async"}, [](TCustomFFmpeg& e, const std::string& n, const std::string& v) { e.SetIntField(n, v); }},
      {{"adrift_threshold", "dts_delta_threshold", "muxdelay", "muxpreload", "aq"},
       [](TCustomFFmpeg& e, const std::string& n, const std::string& v) { e.SetFloatField(n, v); }},
      {{"me_threshold"},
       [](TCustomFFmpeg& e, const std::string&, const std::string& v) {
         ParseIntValue(v);
         e.Log(llWarning, "Option me_threshold is no longer supported by the codec library; it has no effect.");
       }},
      {{"vglobal", "programid", "copyinkf", "vdt", "dc", "top", "vc", "vol"},
       [](TCustomFFmpeg& e, const std::string& n, const std::string& v) { e.SetIntField(n, v); }},
      {{"b", "vb", "ab"}, [](TCustomFFmpeg& e, const std::string& n, const std::string& v) { e.SetBitRate(n, v); }},
      {{"vframes"}, [](TCustomFFmpeg& e, const std::string&, const std::string& v) { e.Opt.MaxFrames[0] = ParseIntValue(v); }},
      {{"aframes"}, [](TCustomFFmpeg& e, const std::string&, const std::string& v) { e.Opt.MaxFrames[1] = ParseIntValue(v); }},
      {{"r"}, [](TCustomFFmpeg& e, const std::string&, const std::string& v) { e.SetFrameRate(v); }},
      {{"s"}, [](TCustomFFmpeg& e, const std::string&, const std::string& v) { e.SetFrameSize(v); }},
      {{"aspect"}, [](TCustomFFmpeg& e, const std::string&, const std::string& v) { e.SetFrameAspectRatio(v); }},
      {{"pix_fmt"},
       [](TCustomFFmpeg& e, const std::string&, const std::string& v) {
         if (v == "list") return e.ListPixelFormats();
         AVPixelFormat f = ff::av_get_pix_fmt(v.c_str());
         if (f == AV_PIX_FMT_NONE) RaiseFFmpegFmt("Unknown pixel format requested: %s", v.c_str());
         e.Opt.FramePixFmt = f;
       }},
      {{"sample_fmt"},
       [](TCustomFFmpeg& e, const std::string&, const std::string& v) {
         if (v == "list") return e.ListSampleFormats();
         AVSampleFormat f = ff::av_get_sample_fmt(v.c_str());
         if (f == AV_SAMPLE_FMT_NONE) RaiseFFmpegFmt("Invalid sample format \"%s\"", v.c_str());
         e.Opt.AudioSampleFmt = f;
       }},
      {{"croptop", "cropbottom", "cropleft", "cropright"},
       [](TCustomFFmpeg&, const std::string&, const std::string&) { RaiseFFmpeg("Removed, use the crop filter instead"); }},
      {{"padtop", "padbottom", "padleft", "padright", "padcolor"},
       [](TCustomFFmpeg&, const std::string&, const std::string&) { RaiseFFmpeg("Removed, use the pad filter instead"); }},
      {{"qscale"},
       [](TCustomFFmpeg& e, const std::string&, const std::string& v) {
         double q = ParseFloatValue(v);
         if (!(q > 0 && q <= 255)) RaiseFFmpeg("qscale must be > 0.0 and <= 255");
         e.Opt.VideoQScale = q;
       }},
      {{"rc_override"}, [](TCustomFFmpeg& e, const std::string&, const std::string& v) { e.Opt.VideoRcOverride = v; }},
      {{"vcodec", "acodec", "scodec"}, [](TCustomFFmpeg& e, const std::string& n, const std::string& v) { e.SetCodecName(n, v); }},
      {{"pass"},
       [](TCustomFFmpeg& e, const std::string&, const std::string& v) {
         int pass = ParseIntValue(v);
         if (pass != 1 && pass != 2) RaiseFFmpeg("pass number can be only 1 or 2");
         e.Opt.DoPass = pass;
       }},
      {{"passlogfile"}, [](TCustomFFmpeg& e, const std::string&, const std::string& v) { e.Opt.PassLogFileName = v; }},
      {{"vstats"},
       [](TCustomFFmpeg& e, const std::string&, const std::string& v) {
         if (!ParseBoolValue(v)) {
           e.Opt.VStatsFileName.clear();
           return;
         }
         std::time_t now = std::time(nullptr);
         std::tm tm{};
         localtime_r(&now, &tm);
         char hhnnss[16];
         std::strftime(hhnnss, sizeof(hhnnss), "%H%M%S", &tm);
         e.Opt.VStatsFileName = Format("%svstats_%s.log", ProgramFolder().c_str(), hhnnss);
       }},
      {{"vstats_file"}, [](TCustomFFmpeg& e, const std::string&, const std::string& v) { e.Opt.VStatsFileName = v; }},
      {{"vhook"},
       [](TCustomFFmpeg& e, const std::string&, const std::string& v) {
         std::string error = "frame hooks are not available";
         if (!e.FrameHookAdder || !e.FrameHookAdder(v, error))
           RaiseFFmpeg("Failed to add video hook function: " + error);
       }},
      {{"vfilters", "vf"}, [](TCustomFFmpeg& e, const std::string&, const std::string& v) { e.Opt.VFilters = v; }},
      {{"intra_matrix"}, [](TCustomFFmpeg& e, const std::string&, const std::string& v) { e.ParseMatrix(v, e.Opt.IntraMatrix); }},
      {{"inter_matrix"}, [](TCustomFFmpeg& e, const std::string&, const std::string& v) { e.ParseMatrix(v, e.Opt.InterMatrix); }},
      {{"vtag", "atag", "stag"}, [](TCustomFFmpeg& e, const std::string& n, const std::string& v) { e.SetCodecTag(n, v); }},
      {{"newvideo"}, [](TCustomFFmpeg& e, const std::string&, const std::string&) { e.AddStreamToLastOutput(AVMEDIA_TYPE_VIDEO); }},
      {{"newaudio"}, [](TCustomFFmpeg& e, const std::string&, const std::string&) { e.AddStreamToLastOutput(AVMEDIA_TYPE_AUDIO); }},
      {{"newsubtitle"},
       [](TCustomFFmpeg& e, const std::string&, const std::string&) { e.AddStreamToLastOutput(AVMEDIA_TYPE_SUBTITLE); }},
      {{"vlang"}, [](TCustomFFmpeg& e, const std::string&, const std::string& v) { e.Opt.VideoLanguage = v; }},
      {{"alang"}, [](TCustomFFmpeg& e, const std::string&, const std::string& v) { e.Opt.AudioLanguage = v; }},
      {{"slang"}, [](TCustomFFmpeg& e, const std::string&, const std::string& v) { e.Opt.SubtitleLanguage = v; }},
      {{"streamid"}, [](TCustomFFmpeg& e, const std::string& n, const std::string& v) { e.ParseStreamId(n, v); }},
      {{"force_key_frames"}, [](TCustomFFmpeg& e, const std::string&, const std::string& v) { e.Opt.ForcedKeyFrames = v; }},
      {{"ar"}, [](TCustomFFmpeg& e, const std::string&, const std::string& v) { e.SetAudioSampleRate(ParseIntValue(v)); }},
      {{"ac"}, [](TCustomFFmpeg& e, const std::string&, const std::string& v) { e.SetAudioChannels(ParseIntValue(v)); }},
      {{"tvstd"}, [](TCustomFFmpeg& e, const std::string&, const std::string& v) { e.Opt.VideoStandard = v; }},
      {{"absf", "vbsf", "sbsf"}, [](TCustomFFmpeg& e, const std::string& n, const std::string& v) { e.SetBitstreamFilter(n, v); }},
      {{"apre", "vpre", "spre", "fpre"}, [](TCustomFFmpeg& e, const std::string& n, const std::string& v) { e.ApplyPreset(n[0], v); }},
  };
  for (const TRow& row : kTable)
    if (In(name, row.Names)) return row.Apply(*this, name, value);
  SetGeneric(name, value);
}

void TCustomFFmpeg::DoNothing(const std::string& name, const std::string&) { Log(llInfo, "Do nothing: option - " + name); }

void TCustomFFmpeg::SetBoolFlag(const std::string& name, const std::string& value) {
  const bool b = ParseBoolValue(value);
  struct {
    const char* Name;
    bool TPendingOptions::*Field;
  } static const kFlags[] = {
      {"dump", &TPendingOptions::DoPktDump},          {"hex", &TPendingOptions::DoHexDump},
      {"re", &TPendingOptions::RateEmu},              {"loop_input", &TPendingOptions::LoopInput},
      {"copyts", &TPendingOptions::CopyTs},           {"copytb", &TPendingOptions::CopyTb},
      {"shortest", &TPendingOptions::OptShortest},    {"xerror", &TPendingOptions::ExitOnError},
      {"intra", &TPendingOptions::IntraOnly},         {"vn", &TPendingOptions::VideoDisable},
      {"sameq", &TPendingOptions::SameQuality},       {"deinterlace", &TPendingOptions::DoDeinterlace},
      {"psnr", &TPendingOptions::DoPsnr},             {"qphist", &TPendingOptions::QpHist},
      {"force_fps", &TPendingOptions::ForceFps},      {"an", &TPendingOptions::AudioDisable},
      {"sn", &TPendingOptions::SubtitleDisable},      {"isync", &TPendingOptions::InputSync},
      {"crash_safe", &TPendingOptions::CrashSafe},    {"edge_pad", &TPendingOptions::EdgePad},
      {"follow_load", &TPendingOptions::FollowLoad},
  };
  for (const auto& f : kFlags)
    if (name == f.Name) {
      Opt.*(f.Field) = b;
      return;
    }
}

void TCustomFFmpeg::SetIntField(const std::string& name, const std::string& value) {
  struct {
    const char* Name;
    int TPendingOptions::*Field;
  } static const kInts[] = {
      {"vsync", &TPendingOptions::VideoSyncMethod},     {"async", &TPendingOptions::AudioSyncMethod},
      {"vglobal", &TPendingOptions::VideoGlobalHeader}, {"programid", &TPendingOptions::OptProgramId},
      {"copyinkf", &TPendingOptions::CopyInitialNonKeyframes}, {"vdt", &TPendingOptions::VideoDiscard},
      {"dc", &TPendingOptions::IntraDcPrecision},       {"top", &TPendingOptions::TopFieldFirst},
      {"vc", &TPendingOptions::VideoChannel},
      {"vol", &TPendingOptions::AudioVolume},
  };
  const int v = ParseIntValue(value);
  for (const auto& f : kInts)
    if (name == f.Name) {
      Opt.*(f.Field) = v;
      return;
    }
}

void TCustomFFmpeg::SetFloatField(const std::string& name, const std::string& value) {
  // The audio quantiser becomes a quality times 118 in an int (-99999 is "none").
  struct {
    const char* Name;
    double TPendingOptions::*Field;
    double Lowest, Highest;
  } static const kFloats[] = {
      {"adrift_threshold", &TPendingOptions::AudioDriftThreshold, -DBL_MAX, DBL_MAX},
      {"dts_delta_threshold", &TPendingOptions::DtsDeltaThreshold, -DBL_MAX, DBL_MAX},
      {"muxdelay", &TPendingOptions::MuxMaxDelay, 0, kMaxMuxSeconds},
      {"muxpreload", &TPendingOptions::MuxPreload, 0, kMaxMuxSeconds},
      {"aq", &TPendingOptions::AudioQScale, -99999, double(INT_MAX) / FF_QP2LAMBDA},
  };
  const double v = ParseFloatValue(value);
  for (const auto& f : kFloats)
    if (name == f.Name) {
      CheckRange(name, v, f.Lowest, f.Highest);
      Opt.*(f.Field) = v;
      return;
    }
}

void TCustomFFmpeg::SetBitRate(const std::string& name, const std::string& value) {
  if (!SetStoreOption(name, value)) {
    if (RaiseOnBadOption) RaiseFFmpeg(LastOptionError());
    return;
  }
  AVCodecContext* ctx = Store.CodecContexts[name[0] == 'a' ? AVMEDIA_TYPE_AUDIO : AVMEDIA_TYPE_VIDEO];
  if (ctx && ctx->bit_rate < 1000)
    Log(llWarning, "WARNING: The bitrate parameter is set too low. It takes bits/s as argument, not kbits/s");
}

bool TCustomFFmpeg::SetStoreOption(const std::string& name, const std::string& value) {
  if (SetGenericOption(Store, name, value)) return true;
  Log(llError, LastOptionError());
  return false;
}

void TCustomFFmpeg::SetGeneric(const std::string& name, const std::string& value) {
  if (!SetStoreOption(name, value)) {
    if (RaiseOnBadOption) RaiseFFmpeg(LastOptionError());
    return;
  }
  // The scaler flags are read by the video path from the option state.
  if (name == "sws_flags" && Store.ScalerContext) {
    std::int64_t flags = 0;
    if (ff::av_opt_get_int(Store.ScalerContext, "sws_flags", 0, &flags) >= 0) Opt.SwsFlags = int(flags);
  }
}

void TCustomFFmpeg::SetCodecName(const std::string& name, const std::string& value) {
  bool copy = value == "copy";
  switch (name[0]) {
    case 'v':
      if (copy) Opt.VideoStreamCopy = true; else Opt.VideoCodecName = value;
      break;
    case 'a':
      if (copy) Opt.AudioStreamCopy = true; else Opt.AudioCodecName = value;
      break;
    default:
      if (copy) Opt.SubtitleStreamCopy = true; else Opt.SubtitleCodecName = value;
      break;
  }
}

void TCustomFFmpeg::SetCodecTag(const std::string& name, const std::string& value) {
  std::uint32_t* field;
  if (name == "vtag")
    field = &Opt.VideoCodecTag;
  else if (name == "atag")
    field = &Opt.AudioCodecTag;
  else if (name == "stag")
    field = &Opt.SubtitleCodecTag;
  else
    RaiseFFmpegFmt("Invalid tag parmeter %s", name.c_str());
  // A number is the tag itself; otherwise exactly four characters make a four-character code.
  const char* start = value.c_str();
  char* end = nullptr;
  errno = 0;
  unsigned long long n = std::strtoull(start, &end, 0);
  if (*start && *start != '-' && *start != ' ' && *end == '\0' && errno == 0 && n <= 0xFFFFFFFFull) {
    *field = std::uint32_t(n);
    return;
  }
  if (value.size() != 4) RaiseFFmpegFmt("Invalid tag parmeter %s", value.c_str());
  *field = std::uint32_t(static_cast<unsigned char>(value[0])) | std::uint32_t(static_cast<unsigned char>(value[1])) << 8 |
           std::uint32_t(static_cast<unsigned char>(value[2])) << 16 | std::uint32_t(static_cast<unsigned char>(value[3])) << 24;
}

void TCustomFFmpeg::SetBitstreamFilter(const std::string& name, const std::string& value) {
  std::string filterName = value.substr(0, value.find('='));
  const AVBitStreamFilter* bsf = ff::av_bsf_get_by_name(filterName.c_str());
  if (!bsf) RaiseFFmpegFmt("Unknown bitstream filter %s", filterName.c_str());
  TBsfChain& chain = name[0] == 'v' ? Opt.VideoBsfs : name[0] == 'a' ? Opt.AudioBsfs : Opt.SubtitleBsfs;
  chain.push_back(bsf);
}

void TCustomFFmpeg::ListPixelFormats() {
  for (int i = 0;; ++i) {
    const AVPixFmtDescriptor* d = ff::av_pix_fmt_desc_get(AVPixelFormat(i));
    if (!d) break;
    Log(llInfo, d->name);
  }
}

void TCustomFFmpeg::ListSampleFormats() {
  for (int i = 0; i < AV_SAMPLE_FMT_NB; ++i)
    if (const char* n = ff::av_get_sample_fmt_name(AVSampleFormat(i))) Log(llInfo, n);
}

}  // namespace qv
