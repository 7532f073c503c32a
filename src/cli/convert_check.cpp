#include "cli/convert_check.h"

#include <algorithm>
#include <vector>

#include "encoder/ext_options.h"
#include "engine/custom_ffmpeg.h"
#include "media/ff_api.h"
#include "media/logger.h"
#include "media/option_store.h"

namespace qv {

namespace {

// Options whose check needs what only the run has: an output to add a stream to, the frame-hook
// loader, the input's frame rate for a target without its norm. The run itself judges them.
bool NeedsTheRun(const TGivenOption& o) {
  if (o.Key == "target")
    return o.Value.rfind("pal-", 0) != 0 && o.Value.rfind("ntsc-", 0) != 0 && o.Value.rfind("film-", 0) != 0;
  return o.Key == "newvideo" || o.Key == "newaudio" || o.Key == "newsubtitle" || o.Key == "vhook";
}

// Listing options print while they are checked; the run prints them.
bool Prints(const TGivenOption& o) { return (o.Key == "pix_fmt" || o.Key == "sample_fmt") && o.Value == "list"; }

// The transcoder logs warnings and notes while it takes options; the run logs them once.
class TQuietLog {
 public:
  TQuietLog() : Saved(GetLogger()->LogLevel()) { GetLogger()->SetLogLevel(llQuiet); }
  ~TQuietLog() { GetLogger()->SetLogLevel(Saved); }
  TQuietLog(const TQuietLog&) = delete;
  TQuietLog& operator=(const TQuietLog&) = delete;

 private:
  TLogLevel Saved;
};

// The encoder gives an output its codec names first, then the presets (found through those names),
// then the rest.
int OutputOrder(const TGivenOption& o) {
  if (o.Key == "vcodec" || o.Key == "acodec" || o.Key == "scodec") return 0;
  if (o.Key == "vpre" || o.Key == "apre" || o.Key == "spre") return 1;
  return 2;
}

bool ClassKnows(const AVClass* cls, const std::string& name) {
  return cls && ff::av_opt_find(const_cast<AVClass**>(&cls), name.c_str(), nullptr, 0, AV_OPT_SEARCH_FAKE_OBJ);
}

bool SomeMuxerKnows(const std::string& name) {
  void* it = nullptr;
  while (const AVOutputFormat* fmt = ff::av_muxer_iterate(&it))
    if (ClassKnows(fmt->priv_class, name)) return true;
  return false;
}

bool SomeEncoderKnows(AVMediaType type, const std::string& name) {
  void* it = nullptr;
  while (const AVCodec* codec = ff::av_codec_iterate(&it))
    if (codec->type == type && ff::av_codec_is_encoder(codec) && ClassKnows(codec->priv_class, name)) return true;
  return false;
}

// For an option only some codec's or muxer's own table knows: why none of the output's encoders will
// take it, or "" when one may. Only named encoders can be judged here; a muxer, an unknown codec name
// or a stream whose encoder the container's default picks is left to the open.
std::string EncoderLacks(const TConvertCommand& cmd, const std::string& name) {
  if (ClassKnows(ff::avcodec_get_class(), name) || SomeMuxerKnows(name)) return "";
  const std::pair<const char*, AVMediaType> kinds[] = {
      {"vcodec", AVMEDIA_TYPE_VIDEO}, {"acodec", AVMEDIA_TYPE_AUDIO}, {"scodec", AVMEDIA_TYPE_SUBTITLE}};
  std::vector<std::string> lacking;
  for (const auto& [key, type] : kinds) {
    std::string named;
    for (const TGivenOption& o : cmd.OutputGiven)
      if (o.Key == key) named = o.Value;
    if (named.empty()) {
      if (SomeEncoderKnows(type, name)) return "";
      continue;
    }
    if (named == "copy") continue;
    const AVCodec* codec = ff::avcodec_find_encoder_by_name(named.c_str());
    if (!codec || ClassKnows(codec->priv_class, name)) return "";
    lacking.push_back(named);
  }
  if (lacking.empty()) return "";
  if (lacking.size() == 1) return "the " + lacking[0] + " encoder has no such option";
  std::string list = lacking[0];
  for (size_t i = 1; i < lacking.size(); ++i) list += ", " + lacking[i];
  return "none of the encoders " + list + " has such an option";
}

}  // namespace

std::string RefusedOption(const TConvertCommand& cmd) {
  // A scratch transcoder takes the options in the order the encoder gives them to the run's, so a
  // value that depends on an earlier option is judged as the run will judge it.
  std::vector<TGivenOption> order;
  for (const TConvertInput& in : cmd.Inputs)
    for (const TGivenOption& o : in.Given)
      if (!IsHeldBackInputKey(o.Key)) order.push_back(o);
  std::vector<TGivenOption> output = cmd.OutputGiven;
  std::stable_sort(output.begin(), output.end(),
                   [](const TGivenOption& a, const TGivenOption& b) { return OutputOrder(a) < OutputOrder(b); });
  order.insert(order.end(), output.begin(), output.end());

  TQuietLog quiet;
  TCustomFFmpeg scratch;
  const TOptionStore& store = scratch.GenericOptions();
  for (size_t i = 0; i < order.size(); ++i) {
    const TGivenOption& o = order[i];
    if (NeedsTheRun(o) || Prints(o)) continue;
    const std::string spelt = o.Spelling + (o.Value.empty() ? "" : " " + o.Value) + ": ";
    const int stored = store.Count;
    try {
      scratch.SetOption(o.Key, o.Value);
    } catch (const std::exception& e) {
      return spelt + e.what();
    }
    // Kept with its value: only a codec's or muxer's own table knows the name.
    const bool privateOnly = store.Count > stored && !store.Values.back().empty();
    if (i >= order.size() - output.size() && privateOnly) {
      const std::string lacks = EncoderLacks(cmd, store.Names.back());
      if (!lacks.empty()) return spelt + lacks;
    }
  }
  return "";
}

}  // namespace qv
