#include "engine/custom_ffmpeg.h"

#include <algorithm>

namespace qv {

TCustomFFmpeg::TCustomFFmpeg(int maxFiles) : MaxFiles(std::clamp(maxFiles, 1, kMaxFiles)) {
  Inputs.reserve(size_t(MaxFiles));
  Outputs.reserve(size_t(MaxFiles));
  ResetOptions();
  // ---- run ---- the `vhook` option loads frame hooks through the video path.
  FrameHookAdder = [this](const std::string& text, std::string& error) {
    error = text;
    return AddFrameHook(text) == 0;
  };
}

TCustomFFmpeg::~TCustomFFmpeg() {
  ShutdownRun();  // ---- run ---- a running worker is stopped and waited for first
  // Nothing of a destroyed engine may stay registered with the interrupt registry or stay open.
  WatchStart = 0;
  CloseFiles();
  FreeOptionStore(Store);
  std::lock_guard<std::mutex> lock(PreviewLock());
  Previewer.reset();
}

std::mutex& TCustomFFmpeg::PreviewLock() {
  static std::mutex lock;
  return lock;
}

void TCustomFFmpeg::SetPreviewFlags(int flags) {
  std::lock_guard<std::mutex> lock(PreviewLock());
  // Closing the preview window drops the previewer; it is made again when the flag comes back.
  if ((FPreviewFlags & 1) && !(flags & 1)) Previewer.reset();
  FPreviewFlags = flags;
}

void TCustomFFmpeg::ResetOptions() {
  Opt = TPendingOptions();
  InitOptionStore(Store, Opt.SwsFlags);
  TotalDuration = -1;
}

}  // namespace qv
