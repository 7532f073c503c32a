// The frame shown around a captured area: an override-redirect window shaped to a ring just outside
// the area, so it is never in the frames and clicks inside the ring reach the windows below. It is
// red until capture starts, then blinks red/blue, and follows a captured window when it moves.
//
// It runs on a connection of its own: creating, moving, recolouring and destroying it touch no
// toolkit, so the device may release it from whichever thread closes the input.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

namespace qv {

class TScreenCaptureContext;
class TFrameForm;

// Colours in blue-green-red order: red at index 0, blue at index 1.
extern const std::uint32_t FrameColors[2];
// The colour used at the next blink; kept from one overlay to the next.
std::uint8_t FrameColorIndex();

// Moves the overlay with the captured area every 10 ms and switches its colour every 50th pass.
class TFlashThread {
 public:
  explicit TFlashThread(TFrameForm* form);
  ~TFlashThread();  // tells the loop to end and waits for it
  TFlashThread(const TFlashThread&) = delete;
  TFlashThread& operator=(const TFlashThread&) = delete;

 private:
  void Execute();
  TFrameForm* Form;
  std::atomic<bool> Terminated{false};
  std::thread Thread;
};

class TFrameForm {
 public:
  static constexpr int kFrameWidth = 2;

  // Builds and shows the ring for `capture` and starts its thread; nullptr with `error` when the
  // display or its Shape extension is missing (without a shape the window would cover the area).
  static std::unique_ptr<TFrameForm> Create(TScreenCaptureContext* capture, std::string& error);
  ~TFrameForm();
  TFrameForm(const TFrameForm&) = delete;
  TFrameForm& operator=(const TFrameForm&) = delete;

  unsigned long WindowId() const { return Win; }

 private:
  friend class TFlashThread;
  TFrameForm() = default;
  bool FrameOrigin(int& x, int& y);
  void UpdateFramePosition();
  void ToggleFrameColor();

  TScreenCaptureContext* Capture = nullptr;
  int FrameWidth = kFrameWidth;
  std::unique_ptr<TFlashThread> FlashThread;
  std::atomic<int> Moving{0};
  void* Dpy = nullptr;  // Display*
  unsigned long Win = 0;
  unsigned long Pixels[2] = {0, 0};
  int Left = 0, Top = 0;
};

}  // namespace qv
