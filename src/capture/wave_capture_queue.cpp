#include "capture/wave_capture_queue.h"

#include <chrono>

#include "capture/wave_capture_thread.h"
#include "media/ff_api.h"

namespace qv {

void TWaveEvent::Set() {
  {
    std::lock_guard guard(Lock);
    Signalled = true;
  }
  Cond.notify_all();
}

void TWaveEvent::Reset() {
  std::lock_guard guard(Lock);
  Signalled = false;
}

bool TWaveEvent::Wait(int timeoutMs) {
  std::unique_lock guard(Lock);
  return Cond.wait_for(guard, std::chrono::milliseconds(timeoutMs), [this] { return Signalled; });
}

std::uint8_t* AppendWavePacket(TWaveCaptureContext* state, int size) {
  AVFormatContext* owner = state->Owner.load();
  auto* node = static_cast<TWavePacketNode*>(ff::av_mallocz(sizeof(TWavePacketNode)));
  if (!node) {
    ff::av_log(owner, AV_LOG_ERROR, "av_mallocz() error\n");
    return nullptr;
  }
  node->Packet = ff::av_packet_alloc();
  if (!node->Packet || ff::av_new_packet(node->Packet, size) < 0) {
    ff::av_log(owner, AV_LOG_ERROR, "av_new_packet() error\n");
    ff::av_packet_free(&node->Packet);
    ff::av_free(node);
    return nullptr;
  }
  TWavePacketNode** tail = &state->PacketQueue;
  while (*tail) tail = &(*tail)->Next;
  *tail = node;
  return node->Packet->data;
}

void DropWavePackets(TWaveCaptureContext* state) {
  while (TWavePacketNode* node = state->PacketQueue) {
    state->PacketQueue = node->Next;
    ff::av_packet_free(&node->Packet);
    ff::av_free(node);
  }
}

namespace {

bool Stalled(AVFormatContext* ctx, TWaveCaptureContext* state) {
  const std::int64_t silentUs = WaveMonotonicUs() - state->LastBufferUs.load();
  if (silentUs < kWaveStallUs) return false;
  ff::av_log(ctx, AV_LOG_ERROR, "No audio from the capture device for %d s, capture stopped.\n",
             static_cast<int>(silentUs / 1000000));
  state->Stopped.store(1);
  return true;
}

}  // namespace

int WaveCaptureReadPacket(AVFormatContext* ctx, AVPacket* pkt) {
  auto* state = static_cast<TWaveCaptureContext*>(ctx->priv_data);
  if (!state || !state->QueueLock || !state->DataReady) return AVERROR(EPIPE);
  // From the first request on, completed buffers go into the queue.
  state->Started.store(1);
  if (state->Stopped.load()) return AVERROR(EPIPE);
  for (;;) {
    int size = -1;
    {
      std::lock_guard guard(*state->QueueLock);
      if (TWavePacketNode* node = state->PacketQueue) {
        state->PacketQueue = node->Next;
        ff::av_packet_move_ref(pkt, node->Packet);
        ff::av_packet_free(&node->Packet);
        ff::av_free(node);
        size = pkt->size;
      }
      state->DataReady->Reset();
    }
    if (size >= 0) return size;
    if (Stalled(ctx, state)) return AVERROR(EPIPE);
    if (ctx->flags & AVFMT_FLAG_NONBLOCK) {
      ff::av_log(ctx, AV_LOG_DEBUG, "non-block, need read again\n");
      return AVERROR(EAGAIN);
    }
    if (!state->DataReady->Wait(1000)) {
      ff::av_log(ctx, AV_LOG_DEBUG, "wait timeout, need read again\n");
      return AVERROR(EAGAIN);
    }
    if (state->Stopped.load()) return AVERROR(EPIPE);
  }
}

}  // namespace qv
