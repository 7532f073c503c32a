#include "capture/pipewire_stream.h"

#include <pipewire/pipewire.h>
#include <spa/param/video/format-utils.h>
#include <spa/pod/builder.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <mutex>

namespace qv {

namespace {

// Four-byte formats only: the stream's bytes go to the encoder as they are.
struct TFormatPair {
  spa_video_format Spa;
  AVPixelFormat Av;
};
constexpr TFormatPair kFormats[] = {
    {SPA_VIDEO_FORMAT_BGRx, AV_PIX_FMT_BGR0}, {SPA_VIDEO_FORMAT_RGBx, AV_PIX_FMT_RGB0},
    {SPA_VIDEO_FORMAT_BGRA, AV_PIX_FMT_BGRA}, {SPA_VIDEO_FORMAT_RGBA, AV_PIX_FMT_RGBA},
    {SPA_VIDEO_FORMAT_xRGB, AV_PIX_FMT_0RGB}, {SPA_VIDEO_FORMAT_xBGR, AV_PIX_FMT_0BGR},
    {SPA_VIDEO_FORMAT_ARGB, AV_PIX_FMT_ARGB}, {SPA_VIDEO_FORMAT_ABGR, AV_PIX_FMT_ABGR},
};

AVPixelFormat AvFormatOf(std::uint32_t spa) {
  for (const TFormatPair& f : kFormats)
    if (f.Spa == spa) return f.Av;
  return AV_PIX_FMT_NONE;
}

void InitPipeWire() {
  static std::once_flag once;
  std::call_once(once, [] { pw_init(nullptr, nullptr); });
}

const spa_pod* VideoFormats(spa_pod_builder* b) {
  spa_rectangle defSize{1920, 1080}, minSize{1, 1}, maxSize{16384, 16384};
  spa_fraction defRate{0, 1}, minRate{0, 1}, maxRate{1000, 1};
  spa_pod_frame object, choice;
  spa_pod_builder_push_object(b, &object, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat);
  spa_pod_builder_add(b, SPA_FORMAT_mediaType, SPA_POD_Id(SPA_MEDIA_TYPE_video), SPA_FORMAT_mediaSubtype,
                      SPA_POD_Id(SPA_MEDIA_SUBTYPE_raw), 0);
  spa_pod_builder_prop(b, SPA_FORMAT_VIDEO_format, 0);
  spa_pod_builder_push_choice(b, &choice, SPA_CHOICE_Enum, 0);
  spa_pod_builder_id(b, kFormats[0].Spa);  // the default
  for (const TFormatPair& f : kFormats) spa_pod_builder_id(b, f.Spa);
  spa_pod_builder_pop(b, &choice);
  spa_pod_builder_add(b, SPA_FORMAT_VIDEO_size, SPA_POD_CHOICE_RANGE_Rectangle(&defSize, &minSize, &maxSize),
                      SPA_FORMAT_VIDEO_framerate, SPA_POD_CHOICE_RANGE_Fraction(&defRate, &minRate, &maxRate), 0);
  return static_cast<const spa_pod*>(spa_pod_builder_pop(b, &object));
}

pw_stream_events StreamEvents() {
  pw_stream_events events{};
  events.version = PW_VERSION_STREAM_EVENTS;
  return events;
}

}  // namespace

TPipeWireStream::TPipeWireStream() : Listener(new spa_hook{}), RegistryListener(new spa_hook{}) {}

TPipeWireStream::~TPipeWireStream() {
  if (Loop) {
    pw_thread_loop_lock(Loop);
    if (Stream) pw_stream_destroy(Stream);
    if (Registry) pw_proxy_destroy(reinterpret_cast<pw_proxy*>(Registry));
    if (Core) pw_core_disconnect(Core);
    pw_thread_loop_unlock(Loop);
    pw_thread_loop_stop(Loop);
    if (Context) pw_context_destroy(Context);
    pw_thread_loop_destroy(Loop);
  }
  delete Listener;
  delete RegistryListener;
}

bool TPipeWireStream::Start(int fd, std::uint32_t node, const TCropArea& crop, std::string& error) {
  InitPipeWire();
  Crop = crop;
  Node = node;
  Loop = pw_thread_loop_new("qv-pipewire", nullptr);
  Context = Loop ? pw_context_new(pw_thread_loop_get_loop(Loop), nullptr, 0) : nullptr;
  if (!Context || pw_thread_loop_start(Loop) < 0) {
    if (fd >= 0) close(fd);
    error = "PipeWire cannot be started";
    return false;
  }
  pw_thread_loop_lock(Loop);
  Core = fd >= 0 ? pw_context_connect_fd(Context, fd, nullptr, 0) : pw_context_connect(Context, nullptr, 0);
  if (Core)
    Stream = pw_stream_new(Core, "quorvane",
                           pw_properties_new(PW_KEY_MEDIA_TYPE, "Video", PW_KEY_MEDIA_CATEGORY, "Capture",
                                             PW_KEY_MEDIA_ROLE, "Screen", nullptr));
  int rc = -1;
  if (Stream) {
    static const pw_stream_events events = [] {
      pw_stream_events e = StreamEvents();
      e.state_changed = [](void* self, pw_stream_state old, pw_stream_state state, const char* why) {
        OnStateChanged(self, old, state, why);
      };
      e.param_changed = OnParamChanged;
      e.process = OnProcess;
      return e;
    }();
    pw_stream_add_listener(Stream, Listener, &events, this);
    std::uint8_t buffer[1024];
    spa_pod_builder b = SPA_POD_BUILDER_INIT(buffer, sizeof(buffer));
    const spa_pod* params[] = {VideoFormats(&b)};
    rc = pw_stream_connect(Stream, PW_DIRECTION_INPUT, node,
                           static_cast<pw_stream_flags>(PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS),
                           params, 1);
    if (rc >= 0) WatchNode();
  }
  pw_thread_loop_unlock(Loop);
  if (!Core && fd >= 0) close(fd);
  if (rc < 0) error = "the screen's PipeWire stream cannot be connected";
  return rc >= 0;
}

bool TPipeWireStream::WaitFirstFrame(int timeoutMs, std::string& error) {
  std::unique_lock<std::mutex> lock(Lock);
  Arrived.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return HasFrame || !Failure.empty(); });
  if (HasFrame) return true;
  error = Failure.empty() ? "no picture came from the screen's stream" : Failure;
  return false;
}

bool TPipeWireStream::CopyLatest(std::uint8_t* out, std::string& error) {
  std::lock_guard<std::mutex> lock(Lock);
  if (!Failure.empty()) {
    error = Failure;
    return false;
  }
  std::memcpy(out, Latest.data(), Latest.size());
  return true;
}

std::uint64_t TPipeWireStream::Pictures() {
  std::lock_guard<std::mutex> lock(Lock);
  return Count;
}

void TPipeWireStream::StreamSize(int& width, int& height) {
  std::lock_guard<std::mutex> lock(Lock);
  width = StreamWidth;
  height = StreamHeight;
}

bool TPipeWireStream::Ended() {
  std::lock_guard<std::mutex> lock(Lock);
  return !Failure.empty();
}

void TPipeWireStream::OnStateChanged(void* self, int, int state, const char* why) {
  if (state != PW_STREAM_STATE_ERROR && state != PW_STREAM_STATE_UNCONNECTED) return;
  static_cast<TPipeWireStream*>(self)->Ended(why);
}

void TPipeWireStream::Ended(const char* why) {
  std::lock_guard<std::mutex> lock(Lock);
  if (!Failure.empty()) return;
  Failure = std::string("the screen's stream ended") + (why && *why ? std::string(" (") + why + ")" : "");
  Arrived.notify_all();
}

// A source that goes away (the desktop ended its screen cast) leaves our stream merely paused,
// waiting for another link: the node's removal from the registry is what says it ended.
void TPipeWireStream::WatchNode() {
  if (!Node) return;
  Registry = pw_core_get_registry(Core, PW_VERSION_REGISTRY, 0);
  if (!Registry) return;
  static const pw_registry_events events = [] {
    pw_registry_events e{};
    e.version = PW_VERSION_REGISTRY_EVENTS;
    e.global_remove = OnGlobalRemoved;
    return e;
  }();
  pw_registry_add_listener(Registry, RegistryListener, &events, this);
}

void TPipeWireStream::OnGlobalRemoved(void* self, std::uint32_t id) {
  auto* s = static_cast<TPipeWireStream*>(self);
  if (id == s->Node) s->Ended("its source is gone");
}

void TPipeWireStream::OnParamChanged(void* self, std::uint32_t id, const spa_pod* param) {
  if (id != SPA_PARAM_Format || !param) return;
  auto* s = static_cast<TPipeWireStream*>(self);
  spa_video_info_raw info{};
  if (spa_format_video_raw_parse(param, &info) < 0) return;
  {
    std::lock_guard<std::mutex> lock(s->Lock);
    s->SpaFormat = info.format;
    s->StreamWidth = static_cast<int>(info.size.width);
    s->StreamHeight = static_cast<int>(info.size.height);
  }
  s->AskForSharedMemory();
}

// Buffers in memory we can map: the portal's compositor side then copies into shared memory
// instead of handing out GPU buffers.
void TPipeWireStream::AskForSharedMemory() {
  std::uint8_t buffer[256];
  spa_pod_builder b = SPA_POD_BUILDER_INIT(buffer, sizeof(buffer));
  const spa_pod* params[] = {static_cast<const spa_pod*>(spa_pod_builder_add_object(
      &b, SPA_TYPE_OBJECT_ParamBuffers, SPA_PARAM_Buffers, SPA_PARAM_BUFFERS_dataType,
      SPA_POD_CHOICE_FLAGS_Int((1 << SPA_DATA_MemFd) | (1 << SPA_DATA_MemPtr))))};
  pw_stream_update_params(Stream, params, 1);
}

void TPipeWireStream::OnProcess(void* self) {
  auto* s = static_cast<TPipeWireStream*>(self);
  s->TakeBuffer();
}

// Only the newest buffer counts; older ones queued meanwhile go back unread.
void TPipeWireStream::TakeBuffer() {
  pw_buffer* newest = nullptr;
  while (pw_buffer* b = pw_stream_dequeue_buffer(Stream)) {
    if (newest) pw_stream_queue_buffer(Stream, newest);
    newest = b;
  }
  if (!newest) return;
  const spa_data& d = newest->buffer->datas[0];
  std::lock_guard<std::mutex> lock(Lock);
  const AVPixelFormat format = AvFormatOf(SpaFormat);
  const bool usable = d.data && d.chunk && !(d.chunk->flags & SPA_CHUNK_FLAG_CORRUPTED) && d.chunk->size > 0 &&
                      format != AV_PIX_FMT_NONE && StreamWidth > 0 && StreamHeight > 0;
  if (usable) {
    if (!HasFrame) {
      // The first picture fixes the frame: the crop, cut at the stream's far edges.
      FrameFormat = format;
      FrameWidth = std::max(0, std::min(Crop.Width > 0 ? Crop.Width : StreamWidth, StreamWidth - Crop.X));
      FrameHeight = std::max(0, std::min(Crop.Height > 0 ? Crop.Height : StreamHeight, StreamHeight - Crop.Y));
      Latest.assign(static_cast<std::size_t>(FrameWidth) * FrameHeight * 4, 0);
    }
    const int stride = d.chunk->stride > 0 ? d.chunk->stride : StreamWidth * 4;
    const auto* base = static_cast<const std::uint8_t*>(d.data) + d.chunk->offset;
    // The frame keeps the first picture's size: a stream that grew since is cut, one that shrank
    // leaves black where it no longer reaches, as the X11 device does with a smaller screen.
    const int rows = std::max(0, std::min(FrameHeight, StreamHeight - Crop.Y));
    const int rowBytes = std::max(0, std::min(FrameWidth, StreamWidth - Crop.X) * 4);
    const std::size_t frameRow = static_cast<std::size_t>(FrameWidth) * 4;
    for (int y = 0; y < FrameHeight; ++y) {
      std::uint8_t* to = Latest.data() + static_cast<std::size_t>(y) * frameRow;
      const std::size_t from = static_cast<std::size_t>(Crop.Y + y) * stride + static_cast<std::size_t>(Crop.X) * 4;
      const bool inside = y < rows && from + rowBytes <= d.maxsize - d.chunk->offset;
      if (inside) std::memcpy(to, base + from, rowBytes);
      std::memset(to + (inside ? rowBytes : 0), 0, frameRow - (inside ? rowBytes : 0));
    }
    ++Count;
    if (FrameWidth > 0 && FrameHeight > 0) HasFrame = true;
    else
      Failure = "the area to record at " + std::to_string(Crop.X) + "," + std::to_string(Crop.Y) + " is not on the " +
                std::to_string(StreamWidth) + "x" + std::to_string(StreamHeight) + " screen";
    Arrived.notify_all();
  }
  pw_stream_queue_buffer(Stream, newest);
}

}  // namespace qv
