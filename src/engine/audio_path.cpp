// The transcoder's entry points into the audio path: set-up and teardown of an encoded audio
// stream, one decoded block out and the end-of-input flush. The engine supplies the options, the shared buffers, the byte counter and packet writing.
#include <utility>

#include "engine/audio_path.h"
#include "engine/custom_ffmpeg.h"

namespace qv {

TAudioEnv TCustomFFmpeg::MakeAudioEnv(TOutputFile& of, TOutputStream& ost) {
  if (!AudioBuffers) AudioBuffers = std::make_shared<TAudioBuffers>();
  TAudioEnv env;
  env.SyncMethod = Opt.AudioSyncMethod;
  env.DriftThreshold = Opt.AudioDriftThreshold;
  env.Verbose = Opt.Verbose;
  env.ExitOnError = Opt.ExitOnError;
  env.LogSender = this;
  env.Buffers = AudioBuffers.get();
  env.AudioBytes = &AudioSize;
  env.Write = [this, &of, &ost](AVPacket* pkt) { WritePacket(of, ost, pkt); };
  return env;
}

void TCustomFFmpeg::SetupAudioStream(TOutputStream& ost, TInputStream& ist) {
  SetupAudioOutput(ost, ist, Opt.AudioSyncMethod);
  if (!AudioBuffers) AudioBuffers = std::make_shared<TAudioBuffers>();
}

void TCustomFFmpeg::DoAudioOut(TOutputFile& of, TOutputStream& ost, TInputStream& ist, AVFrame* decoded) {
  TAudioEnv env = MakeAudioEnv(of, ost);
  // The clock comes from the stream the output is synchronised to (normally its own source).
  const bool ownSync = ost.SyncIndex < 0 || size_t(ost.SyncIndex) >= Ist.size();
  const TInputStream& sync = ownSync ? ist : Ist[size_t(ost.SyncIndex)];
  const double syncIpts = double(sync.Pts - StartTimeUs) / AV_TIME_BASE;
  AudioOut(env, ost, ist, decoded, syncIpts);
}

std::int64_t TCustomFFmpeg::CarryAudioAcrossSplice(TOutputStream& ending, TOutputStream& next) {
  // The ending segment's last samples (held by its resampler, or short of a whole encoder frame)
  // open the next segment instead of being lost at the splice.
  TAudioEnv env = MakeAudioEnv(Output(ending.FileIndex), ending);
  DrainAudioResampler(env, ending);
  std::swap(ending.Fifo, next.Fifo);
  return next.Fifo ? ff::av_audio_fifo_size(next.Fifo.get()) : 0;
}

void TCustomFFmpeg::FlushAudio(TOutputFile& of, TOutputStream& ost) {
  TAudioEnv env = MakeAudioEnv(of, ost);
  AudioFlush(env, ost);
}

}  // namespace qv
