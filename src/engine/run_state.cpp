#include "engine/run_state.h"

#include "engine/ffmpeg_exception.h"

namespace qv {

TFramePtr NewFrame() {
  TFramePtr f(ff::av_frame_alloc());
  if (!f) RaiseFFmpeg("av_mallocz fail");
  return f;
}

TPacketPtr NewPacket() {
  TPacketPtr p(ff::av_packet_alloc());
  if (!p) RaiseFFmpeg("av_mallocz fail");
  return p;
}

}  // namespace qv
