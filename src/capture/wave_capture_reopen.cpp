#include "capture/wave_capture_reopen.h"

#include <chrono>

#include "capture/wave_capture.h"
#include "media/ff_api.h"

namespace qv {

TWaveReopen::TWaveReopen(TWaveCapture& capture) : Capture(capture), Thread([this] { Run(); }) {}

TWaveReopen::~TWaveReopen() {
  {
    std::lock_guard guard(Lock);
    Quit = true;
  }
  Wake.notify_all();
  Thread.join();
}

void TWaveReopen::Run() {
  TWaveCaptureContext& state = *Capture.State;
  std::string lastReason;
  for (;;) {
    {
      std::unique_lock guard(Lock);
      if (Wake.wait_for(guard, std::chrono::milliseconds(kRetryMs), [this] { return Quit; })) return;
    }
    if (!state.Stopped.load() || state.Closing.load()) continue;
    {
      std::lock_guard guard(state.QueueLock);
      if (state.LostReason.empty()) continue;  // stopped, but not lost: the close is coming
    }
    const std::string reason = ReopenWaveDevice(Capture);
    // Once a second for as long as the input stays away: the log says why only when that changes.
    if (!reason.empty() && reason != lastReason)
      ff::av_log(state.LogContext(), AV_LOG_INFO, "the sound input cannot be opened again yet (%s)\n", reason.c_str());
    lastReason = reason;
  }
}

}  // namespace qv
