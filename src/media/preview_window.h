// The engine's view of a preview window. The window itself belongs to the capture layer (it needs the
// window system); a program that has one installs a factory, a headless one has none and the engine
// then shows no preview.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "media/bitmap.h"

namespace qv {

class TPreviewWindow {
 public:
  virtual ~TPreviewWindow() = default;
  // Shows the bitmap with the frame's time stamp (µs) unless the user has closed the window; false
  // once it has been closed (it does not come back).
  virtual bool Preview(const TBitmap& bitmap, std::int64_t frameNumber, std::int64_t pts) = 0;
};

using TPreviewWindowFactory = std::function<std::unique_ptr<TPreviewWindow>()>;

void SetPreviewWindowFactory(TPreviewWindowFactory factory);
// A new window from the installed factory; nullptr when none is installed.
std::unique_ptr<TPreviewWindow> CreatePreviewWindow();

}  // namespace qv
