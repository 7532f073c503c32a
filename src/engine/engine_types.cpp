#include "engine/engine_types.h"

#include "engine/input_loop.h"

namespace qv {

void EngineLog(const void* engine, TLogLevel level, const std::string& msg) {
  GetLogger()->Log(engine, level, LogSpeaker("transcoder", engine) + msg);
}

int TInputFile::ReadPacket(AVPacket* pkt) {
  if (Ctx) return LoopInput ? ReadLoopingInput(Ctx.get(), Loop, pkt) : ff::av_read_frame(Ctx.get(), pkt);
  if (Device) return Device->ReadPacket(pkt);
  return AVERROR(EINVAL);
}

void TInputFile::Close() {
  // Codec contexts first: they may refer to stream data of the demuxer.
  DecoderContexts.clear();
  Decoders.clear();
  Ctx.reset();
  if (Device) {
    Device->Close();
    Device.reset();
  }
}

void TOutputFile::Close() {
  // Codec contexts first: they belong to streams of the muxer's context.
  Streams.clear();
  Ctx = nullptr;
  OwnedCtx.reset();
  CrashSafe.reset();
}

}  // namespace qv
