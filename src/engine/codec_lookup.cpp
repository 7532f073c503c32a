// Codec lookup by name, with the experimental-codec guard.
#include "engine/custom_ffmpeg.h"

namespace qv {

int TCustomFFmpeg::CodecStrictness(AVMediaType type) const {
  int t = type >= 0 && type < kOptionStoreCodecContexts ? int(type) : 0;
  const AVCodecContext* ctx = Store.CodecContexts[t];
  return ctx ? ctx->strict_std_compliance : FF_COMPLIANCE_NORMAL;
}

bool TCustomFFmpeg::FindCodec(const std::string& name, AVMediaType type, bool encoder, int strict,
                              const AVCodec*& codec) {
  codec = nullptr;
  if (name.empty()) return true;  // no name: the codec id stays "none"
  const char* kind = encoder ? "encoder" : "decoder";
  const AVCodec* c =
      encoder ? ff::avcodec_find_encoder_by_name(name.c_str()) : ff::avcodec_find_decoder_by_name(name.c_str());
  if (!c) {
    FLastError = Format("Unknown %s '%s'", kind, name.c_str());
    return false;
  }
  if (c->type != type) {
    FLastError = Format("Invalid %s type '%s'", kind, name.c_str());
    return false;
  }
  if ((c->capabilities & AV_CODEC_CAP_EXPERIMENTAL) && strict > FF_COMPLIANCE_EXPERIMENTAL) {
    FLastError = Format(
        "%s '%s' is experimental and might produce bad results.\r\nAdd '-strict experimental' if you want to use it.",
        kind, c->name);
    const AVCodec* alt = encoder ? ff::avcodec_find_encoder(c->id) : ff::avcodec_find_decoder(c->id);
    if (alt && !(alt->capabilities & AV_CODEC_CAP_EXPERIMENTAL))
      FLastError += Format("\r\nOr use the non experimental %s '%s'.", kind, alt->name);
    return false;
  }
  codec = c;
  return true;
}

}  // namespace qv
