// The encoder component's abstract layer: the callbacks a task makes into its owner. TFFEncoder
// implements them; the task only knows this interface.
#pragma once

#include <cstdint>
#include <string>

#include "encoder/ff_base_component.h"
#include "media/bitmap.h"

namespace qv {

class TFFmpeg;

class TCustomEncoder : public TFFBaseComponent {
 public:
  TCustomEncoder();
  // Read-only: fixed at construction.
  const std::string& Version() const { return FVersion; }

  // Called on the task's worker thread for each video frame after decoding (input) or before
  // encoding (output); *disable = true stops further calls, *changed = false keeps the frame.
  virtual void DoVideoInputHook(TFFmpeg& task, TBitmap& bitmap, bool* disable, bool* changed, std::int64_t pts,
                                int frameNumber) = 0;
  virtual void DoVideoOutputHook(TFFmpeg& task, TBitmap& bitmap, bool* disable, bool* changed, std::int64_t pts,
                                 int frameNumber) = 0;
  virtual void DoPreviewBitmap(TFFmpeg& task, const TBitmap& bitmap, std::int64_t pts, int frameNumber) = 0;
  virtual void DoProgress(TFFmpeg& task, int inputIndex, std::int64_t totalDuration, std::int64_t currentTime,
                          std::int64_t totalSize, double bitRate, double quality, int fps, int frameNumber) = 0;
  // The task has ended (nullptr: issue the final event).
  virtual void DoTerminate(TFFmpeg* task) = 0;

 private:
  std::string FVersion;
};

}  // namespace qv
