// The receiving end of a PipeWire video stream in shared memory (MemFd/MemPtr: no GPU import): keeps
// the newest picture, cut to the wanted area, for a reader that takes it at its own pace.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

extern "C" {
#include <libavutil/pixfmt.h>
}

struct pw_thread_loop;
struct pw_context;
struct pw_core;
struct pw_stream;
struct pw_registry;
struct spa_hook;
struct spa_pod;

namespace qv {

struct TCropArea {
  int X = 0, Y = 0;
  int Width = 0, Height = 0;  // 0: up to the stream's far edge
};

// Threads: Start, WaitFirstFrame, CopyLatest and the destructor belong to the device's reading
// thread. PipeWire's loop thread runs the stream callbacks, which fill Latest, Format, Width,
// Height and Failure; every field below Lock is read and written only under it.
class TPipeWireStream {
 public:
  TPipeWireStream();
  ~TPipeWireStream();  // stops the loop thread before anything it touches goes
  TPipeWireStream(const TPipeWireStream&) = delete;
  TPipeWireStream& operator=(const TPipeWireStream&) = delete;

  // Connects to node `node` over the remote `fd` (taken over, also on failure; -1: the session's own
  // PipeWire). false with `error`.
  bool Start(int fd, std::uint32_t node, const TCropArea& crop, std::string& error);
  // Waits for the first picture; false with `error` when none came in `timeoutMs` or the stream failed.
  bool WaitFirstFrame(int timeoutMs, std::string& error);
  // The picture's geometry, fixed by the first picture.
  int Width() const { return FrameWidth; }
  int Height() const { return FrameHeight; }
  AVPixelFormat PixelFormat() const { return FrameFormat; }
  int FrameBytes() const { return FrameWidth * FrameHeight * 4; }
  // Copies the newest picture to `out` (FrameBytes() long); false with `error` once the stream failed.
  bool CopyLatest(std::uint8_t* out, std::string& error);
  // How many pictures came so far: one more means the screen changed.
  std::uint64_t Pictures();
  // The stream failed or its source went.
  bool Ended();
  // The stream's size now (the frame keeps the first picture's).
  void StreamSize(int& width, int& height);

 private:
  static void OnParamChanged(void* self, std::uint32_t id, const spa_pod* param);
  static void OnProcess(void* self);
  static void OnStateChanged(void* self, int old, int state, const char* error);
  static void OnGlobalRemoved(void* self, std::uint32_t id);
  void WatchNode();
  void Ended(const char* why);
  void AskForSharedMemory();
  void TakeBuffer();

  pw_thread_loop* Loop = nullptr;
  pw_context* Context = nullptr;
  pw_core* Core = nullptr;
  pw_stream* Stream = nullptr;
  spa_hook* Listener = nullptr;
  pw_registry* Registry = nullptr;
  spa_hook* RegistryListener = nullptr;
  std::uint32_t Node = 0;
  TCropArea Crop;

  // Set by the loop thread before the first picture is announced; read by the reader after it.
  int FrameWidth = 0, FrameHeight = 0;
  AVPixelFormat FrameFormat = AV_PIX_FMT_NONE;

  std::mutex Lock;
  std::condition_variable Arrived;
  std::vector<std::uint8_t> Latest;  // FrameWidth x FrameHeight, 4 bytes a pixel, rows packed
  bool HasFrame = false;
  std::uint64_t Count = 0;
  int StreamWidth = 0, StreamHeight = 0;  // the negotiated size
  std::uint32_t SpaFormat = 0;
  std::string Failure;  // why the stream ended; empty while it runs
};

}  // namespace qv
