#include "media/option_store.h"

#include <mutex>

#include "media/ff_api.h"
#include "media/ff_owners.h"
#include "media/logger.h"

namespace qv {

namespace {

std::mutex LastErrorLock;
std::string LastError;

void SetLastOptionError(const std::string& text) {
  std::lock_guard<std::mutex> lock(LastErrorLock);
  LastError = text;
}

// Option flags that an option must carry to apply to a codec context of each media type; data and
// attachment contexts take any codec option.
const int kTypeFlags[kOptionStoreCodecContexts] = {AV_OPT_FLAG_VIDEO_PARAM, AV_OPT_FLAG_AUDIO_PARAM, 0,
                                                   AV_OPT_FLAG_SUBTITLE_PARAM, 0};
const AVMediaType kTypes[kOptionStoreCodecContexts] = {AVMEDIA_TYPE_VIDEO, AVMEDIA_TYPE_AUDIO, AVMEDIA_TYPE_DATA,
                                                       AVMEDIA_TYPE_SUBTITLE, AVMEDIA_TYPE_ATTACHMENT};

// Codec-private and muxer-private tables are only consulted to accept a name; the value is applied
// when a context of that codec or muxer exists.
bool KnownToPrivateClass(const char* name) {
  void* it = nullptr;
  while (const AVCodec* codec = ff::av_codec_iterate(&it))
    if (codec->priv_class &&
        ff::av_opt_find(const_cast<AVClass**>(&codec->priv_class), name, nullptr, 0, AV_OPT_SEARCH_FAKE_OBJ))
      return true;
  it = nullptr;
  while (const AVOutputFormat* fmt = ff::av_muxer_iterate(&it))
    if (fmt->priv_class &&
        ff::av_opt_find(const_cast<AVClass**>(&fmt->priv_class), name, nullptr, 0, AV_OPT_SEARCH_FAKE_OBJ))
      return true;
  it = nullptr;
  while (const AVInputFormat* fmt = ff::av_demuxer_iterate(&it))
    if (fmt->priv_class &&
        ff::av_opt_find(const_cast<AVClass**>(&fmt->priv_class), name, nullptr, 0, AV_OPT_SEARCH_FAKE_OBJ))
      return true;
  return false;
}

// Rate control is a video matter: with libavcodec's shared "b", "maxrate", "minrate", "bufsize" and
// "bt" a video rate would overwrite the audio encoder's. The audio ones are spelt with "a" ("ab").
bool IsVideoRateOption(const std::string& name) {
  return name == "b" || name == "maxrate" || name == "minrate" || name == "bufsize" || name == "bt";
}

bool IsBlank(const std::string& s) { return s.find_first_not_of(" \t\r\n") == std::string::npos; }

}  // namespace

TOptionStore::~TOptionStore() {
  // The store can outlive the loaded libraries only if nothing was ever allocated in it.
  if (FormatContext || ScalerContext || CodecContexts[0]) FreeOptionStore(*this);
}

void FreeOptionStore(TOptionStore& store) {
  for (AVCodecContext*& ctx : store.CodecContexts) FreeThrough<TCodecContextPtr>(ctx);
  FreeThrough<TFormatContextPtr>(store.FormatContext);
  FreeThrough<TScalerPtr>(store.ScalerContext);
  store.Names.clear();
  store.Values.clear();
  store.Taken.clear();
  store.Count = 0;
  store.FreshFrom = 0;
}

void InitOptionStore(TOptionStore& store, int scalerFlags) {
  FreeOptionStore(store);
  for (int type = 0; type < kOptionStoreCodecContexts; ++type) {
    store.CodecContexts[type] = ff::avcodec_alloc_context3(nullptr);
    if (store.CodecContexts[type]) store.CodecContexts[type]->codec_type = kTypes[type];
  }
  store.FormatContext = ff::avformat_alloc_context();
  store.ScalerContext = ff::sws_getContext(16, 16, AVPixelFormat(0), 16, 16, AVPixelFormat(0), scalerFlags, nullptr,
                                           nullptr, nullptr);
  // Flags naming no single scaling method make a context the scaler refuses to initialise; its option
  // table is all the store needs.
  if (!store.ScalerContext) {
    store.ScalerContext = ff::sws_alloc_context();
    if (store.ScalerContext) ff::av_opt_set_int(store.ScalerContext, "sws_flags", scalerFlags, 0);
  }
}

bool SetGenericOption(TOptionStore& store, const std::string& name, const std::string& value) {
  if (IsBlank(name)) return false;
  const char* n = name.c_str();
  const char* v = value.c_str();
  const AVOption* matched = nullptr;
  int ret = 0;

  const bool videoOnly = IsVideoRateOption(name);
  for (int type = 0; type < kOptionStoreCodecContexts && ret >= 0; ++type) {
    AVCodecContext* ctx = store.CodecContexts[type];
    if (!ctx || (videoOnly && type != 0)) continue;
    if (const AVOption* o = ff::av_opt_find(ctx, n, nullptr, kTypeFlags[type], 0)) {
      ret = ff::av_opt_set(ctx, n, v, 0);
      if (!matched) matched = o;
    }
  }
  if (!matched && store.FormatContext) {
    if ((matched = ff::av_opt_find(store.FormatContext, n, nullptr, 0, 0))) ret = ff::av_opt_set(store.FormatContext, n, v, 0);
  }
  if (!matched && store.ScalerContext) {
    if ((matched = ff::av_opt_find(store.ScalerContext, n, nullptr, 0, 0))) ret = ff::av_opt_set(store.ScalerContext, n, v, 0);
  }
  // "ab", "vb", "sb"...: the option of the audio, video or subtitle codec without its first letter.
  if (!matched && name.size() > 1 && (name[0] == 'a' || name[0] == 'v' || name[0] == 's')) {
    const int type = name[0] == 'v' ? 0 : name[0] == 'a' ? 1 : 3;
    AVCodecContext* ctx = store.CodecContexts[type];
    if (ctx && (matched = ff::av_opt_find(ctx, n + 1, nullptr, kTypeFlags[type], 0))) ret = ff::av_opt_set(ctx, n + 1, v, 0);
  }

  if (matched && ret < 0) {
    SetLastOptionError("Invalid value \"" + value + "\" for option \"" + name + "\"");
    return false;
  }
  if (!matched && !KnownToPrivateClass(n)) {
    SetLastOptionError("Unrecognized option \"" + name + "\"");
    return false;
  }

  if (matched) {
    store.Names.emplace_back(matched->name);
    store.Values.emplace_back();
  } else {
    store.Names.push_back(name);
    store.Values.push_back(value);
  }
  store.Taken.push_back(false);
  ++store.Count;
  if ((store.CodecContexts[0] && store.CodecContexts[0]->debug) || (store.FormatContext && store.FormatContext->debug))
    GetLogger()->SetLogLevel(llDebug);
  return true;
}

std::string ApplyGenericOptions(TOptionStore& store, void* target, void* source, const AVCodec* codec, int flags) {
  if (!target) return "";
  void* priv = nullptr;
  const AVClass* cls = *static_cast<const AVClass**>(target);
  if (cls == ff::avcodec_get_class()) {
    auto* ctx = static_cast<AVCodecContext*>(target);
    if (codec && codec->priv_class && ctx->priv_data) priv = ctx->priv_data;
  } else if (cls == ff::avformat_get_class()) {
    auto* ctx = static_cast<AVFormatContext*>(target);
    if (ctx->oformat && ctx->oformat->priv_class && ctx->priv_data) priv = ctx->priv_data;
  }
  for (int i = 0; i < store.Count; ++i) {
    const char* name = store.Names[i].c_str();
    const AVOption* o = source ? ff::av_opt_find(source, name, nullptr, 0, 0) : nullptr;
    std::uint8_t* raw = nullptr;
    const bool fromSource = o && (o->flags & flags) == flags && ff::av_opt_get(source, name, 0, &raw) >= 0;
    const TAvMemPtr<std::uint8_t> text(raw);
    if (fromSource && text) {
      ff::av_opt_set(target, name, reinterpret_cast<const char*>(text.get()), 0);
    } else if (priv && !store.Values[i].empty() && ff::av_opt_find(priv, name, nullptr, 0, 0)) {
      if (ff::av_opt_set(priv, name, store.Values[i].c_str(), 0) < 0)
        return "Invalid value \"" + store.Values[i] + "\" for option \"" + store.Names[i] + "\"";
      store.Taken[size_t(i)] = true;
    }
  }
  return "";
}

bool FindUnusedOption(const TOptionStore& store, TUnusedOption& unused) {
  for (int i = store.FreshFrom; i < store.Count; ++i) {
    if (store.Values[size_t(i)].empty() || store.Taken[size_t(i)]) continue;
    unused = TUnusedOption();
    unused.Name = store.Names[size_t(i)];
    unused.Value = store.Values[size_t(i)];
    const char* n = unused.Name.c_str();
    void* it = nullptr;
    while (const AVCodec* codec = ff::av_codec_iterate(&it))
      if (ff::av_codec_is_encoder(codec) && codec->priv_class &&
          ff::av_opt_find(const_cast<AVClass**>(&codec->priv_class), n, nullptr, 0, AV_OPT_SEARCH_FAKE_OBJ))
        for (int type = 0; type < kOptionStoreCodecContexts; ++type)
          if (kTypes[type] == codec->type) unused.KnownToEncoders[type] = true;
    it = nullptr;
    while (const AVOutputFormat* fmt = ff::av_muxer_iterate(&it))
      if (fmt->priv_class &&
          ff::av_opt_find(const_cast<AVClass**>(&fmt->priv_class), n, nullptr, 0, AV_OPT_SEARCH_FAKE_OBJ))
        unused.KnownToMuxers = true;
    return true;
  }
  return false;
}

void PutFreshOptions(const TOptionStore& store, AVDictionary** dict) {
  for (int i = store.FreshFrom; i < store.Count; ++i)
    if (!store.Values[size_t(i)].empty())
      ff::av_dict_set(dict, store.Names[size_t(i)].c_str(), store.Values[size_t(i)].c_str(), 0);
}

void TakeOptionsMissingFrom(TOptionStore& store, const AVDictionary* left) {
  for (int i = store.FreshFrom; i < store.Count; ++i)
    if (!store.Values[size_t(i)].empty() && !ff::av_dict_get(left, store.Names[size_t(i)].c_str(), nullptr, 0))
      store.Taken[size_t(i)] = true;
}

void UseUpGenericOptions(TOptionStore& store) { store.FreshFrom = store.Count; }

std::string LastOptionError() {
  std::lock_guard<std::mutex> lock(LastErrorLock);
  return LastError;
}

}  // namespace qv
