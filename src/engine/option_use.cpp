#include "engine/option_use.h"

#include "engine/engine_types.h"
#include "engine/ffmpeg_exception.h"
#include "media/ff_api.h"
#include "media/option_store.h"

namespace qv {

namespace {

std::string UnusedOptionText(const TUnusedOption& unused, const TOutputFile& out, int fileIndex) {
  const std::string head = "Unrecognized option \"" + unused.Name + "\" (value \"" + unused.Value + "\")";
  for (const TOutputStreamInfo& s : out.Streams)
    if (s.Codec && s.Kind >= 0 && s.Kind < kOptionStoreCodecContexts && unused.KnownToEncoders[s.Kind])
      return head + Format(" for output stream #%d:%d: the %s encoder has no such option", fileIndex, s.St->index,
                           s.Codec->name);
  if (unused.KnownToMuxers)
    return head + Format(" for output file #%d: the %s muxer has no such option", fileIndex, out.Ctx->oformat->name);
  return head + Format(" for output file #%d: none of its streams has an encoder that takes it", fileIndex);
}

}  // namespace

void ApplyEncoderOptions(TOptionStore& store, TOutputStreamInfo& stream, const AVCodec* codec, int flags) {
  const std::string refused =
      ApplyGenericOptions(store, stream.Enc.get(), store.CodecContexts[stream.Kind], codec, flags);
  if (!refused.empty())
    RaiseFFmpeg(refused + Format(" of the %s encoder of output stream #%d", codec ? codec->name : "unknown",
                                 stream.St->index));
}

void ApplyMuxerOptions(TOptionStore& store, TOutputFile& out, int fileIndex) {
  const std::string refused =
      ApplyGenericOptions(store, out.Ctx, store.FormatContext, nullptr, AV_OPT_FLAG_ENCODING_PARAM);
  if (!refused.empty())
    RaiseFFmpeg(refused + Format(" of the %s muxer of output file #%d", out.Ctx->oformat->name, fileIndex));
  TUnusedOption unused;
  if (FindUnusedOption(store, unused)) RaiseFFmpeg(UnusedOptionText(unused, out, fileIndex));
  UseUpGenericOptions(store);
}

std::string UnusedInputOptionText(const TOptionStore& store, const char* readerName, int fileIndex) {
  TUnusedOption unused;
  if (!FindUnusedOption(store, unused)) return "";
  return "Unrecognized option \"" + unused.Name + "\" (value \"" + unused.Value + "\")" +
         Format(" for input file #%d: neither the %s demuxer nor its decoders have such an option", fileIndex,
                readerName);
}

}  // namespace qv
