// The preview window: a small always-on-top X11 window showing the last previewed frame with its
// time stamp as caption. It can be dragged from anywhere; once the user closes it, it stays closed.
//
// The window lives on a thread of its own with its own display connection, so frames can be shown
// from the engine's worker while the program's main thread is busy (or waits for that worker).
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "media/preview_window.h"

namespace qv {

class TPreviewer : public TPreviewWindow {
 public:
  // displayName: nullptr for $DISPLAY.
  explicit TPreviewer(const char* displayName = nullptr);
  ~TPreviewer() override;
  TPreviewer(const TPreviewer&) = delete;
  TPreviewer& operator=(const TPreviewer&) = delete;

  // Returns once the frame is on the window (or the window is gone).
  bool Preview(const TBitmap& bitmap, std::int64_t frameNumber, std::int64_t pts) override;

  bool Closed() const;
  unsigned long WindowId() const;  // 0 until the first preview
  std::int64_t FrameNumber() const;
  std::int64_t Pts() const;

 private:
  struct TWindow;
  void Run();
  void Wake();

  std::string DisplayName;
  bool HasDisplayName = false;
  mutable std::mutex Lock;
  std::condition_variable Changed;
  std::thread Thread;
  int WakePipe[2] = {-1, -1};
  bool Started = false;
  bool Stopping = false;
  bool Finished = false;  // the thread has ended (stop, lost display or none at all)
  bool FClosed = false;
  unsigned long FWindowId = 0;
  // The frame waiting to be painted, and the last one painted.
  TBitmap Bitmap;
  std::int64_t FFrameNumber = 0;
  std::int64_t FPts = 0;
  std::uint64_t Posted = 0;
  std::uint64_t Painted = 0;
};

// Installs TPreviewer as the program's preview window.
void RegisterPreviewer();

}  // namespace qv
