#include "engine/engine_types.h"

#include "engine/input_loop.h"
#include "engine/pending_options.h"
#include "media/protocol_registry.h"

namespace qv {

void EngineLog(const void* engine, TLogLevel level, const std::string& msg) {
  GetLogger()->Log(engine, level, LogSpeaker("transcoder", engine) + msg);
}

void TCodecContextDeleter::operator()(AVCodecContext* ctx) const {
  if (ctx) ff::avcodec_free_context(&ctx);
}

void TDictDeleter::operator()(AVDictionary* d) const {
  if (d) ff::av_dict_free(&d);
}

int TInputFile::ReadPacket(AVPacket* pkt) {
  if (Ctx) return LoopInput ? ReadLoopingInput(Ctx, Loop, pkt) : ff::av_read_frame(Ctx, pkt);
  if (Device) return Device->ReadPacket(pkt);
  return AVERROR(EINVAL);
}

void TInputFile::Close() {
  // Codec contexts first: they may refer to stream data of the demuxer.
  DecoderContexts.clear();
  Decoders.clear();
  if (Ctx) {
    AVIOContext* custom = (Ctx->flags & AVFMT_FLAG_CUSTOM_IO) ? Ctx->pb : nullptr;
    ff::avformat_close_input(&Ctx);
    if (IsProtocolIO(custom)) CloseProtocolIO(&custom);
  }
  if (Device) {
    Device->Close();
    Device.reset();
  }
}

void TOutputFile::Close() {
  for (auto& s : Streams) s.Enc.reset();
  Streams.clear();
  if (!Ctx) return;
  if (Owner) {
    if (CrashSafe) {
      Ctx->pb = nullptr;
      CrashSafe.reset();
    } else if (Ctx->pb && !(Ctx->oformat && (Ctx->oformat->flags & AVFMT_NOFILE))) {
      if (IsProtocolIO(Ctx->pb))
        CloseProtocolIO(&Ctx->pb);
      else
        ff::avio_closep(&Ctx->pb);
    }
    ff::avformat_free_context(Ctx);
  }
  Ctx = nullptr;
}

}  // namespace qv
