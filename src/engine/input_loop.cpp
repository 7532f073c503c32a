#include "engine/input_loop.h"

#include <algorithm>

#include "engine/engine_types.h"
#include "media/checked_math.h"

namespace qv {

namespace {

constexpr AVRational kMicro{1, AV_TIME_BASE};

std::int64_t FileStart(const AVFormatContext* ctx) { return ctx->start_time == AV_NOPTS_VALUE ? 0 : ctx->start_time; }

// Notes where the packet ends within its pass and moves it to its pass's place on the time line.
void PlaceInPass(const AVFormatContext* ctx, TInputLoop& loop, AVPacket* pkt) {
  const AVRational tb = ctx->streams[pkt->stream_index]->time_base;
  const std::int64_t stamp = pkt->pts != AV_NOPTS_VALUE ? pkt->pts : pkt->dts;
  if (stamp != AV_NOPTS_VALUE) {
    const std::int64_t end = ff::av_rescale_q(AddTimestamps(stamp, std::max<std::int64_t>(pkt->duration, 0)), tb, kMicro);
    loop.EndUs = std::max(loop.EndUs, SubtractTimestamps(end, FileStart(ctx)));
  }
  loop.PassHadPackets = true;
  if (loop.OffsetUs == 0) return;
  const std::int64_t offset = ff::av_rescale_q(loop.OffsetUs, kMicro, tb);
  if (pkt->pts != AV_NOPTS_VALUE) pkt->pts = AddTimestamps(pkt->pts, offset);
  if (pkt->dts != AV_NOPTS_VALUE) pkt->dts = AddTimestamps(pkt->dts, offset);
}

}  // namespace

int ReadLoopingInput(AVFormatContext* ctx, TInputLoop& loop, AVPacket* pkt) {
  int ret = ff::av_read_frame(ctx, pkt);
  if (ret == AVERROR_EOF && loop.PassHadPackets) {
    if (ff::av_seek_frame(ctx, -1, FileStart(ctx), AVSEEK_FLAG_BACKWARD) < 0) return AVERROR_EOF;
    loop.OffsetUs = AddTimestamps(loop.OffsetUs, loop.EndUs);
    loop.EndUs = 0;
    loop.PassHadPackets = false;
    ret = ff::av_read_frame(ctx, pkt);
  }
  if (ret >= 0 && pkt->stream_index >= 0 && unsigned(pkt->stream_index) < ctx->nb_streams) PlaceInPass(ctx, loop, pkt);
  return ret;
}

}  // namespace qv
