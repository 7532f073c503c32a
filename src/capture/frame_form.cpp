#include "capture/frame_form.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/shape.h>

#include <chrono>

#include "capture/screen_capture.h"
#include "capture/screen_capture_x11.h"

namespace qv {

const std::uint32_t FrameColors[2] = {0x0000FF, 0xFF0000};

namespace {

std::atomic<std::uint8_t> ColorIndex{1};

::Display* D(void* p) { return static_cast<::Display*>(p); }

unsigned long PixelOf(::Display* dpy, int screen, std::uint32_t bgr) {
  XColor c{};
  c.red = static_cast<unsigned short>((bgr & 0xFF) * 257);
  c.green = static_cast<unsigned short>(((bgr >> 8) & 0xFF) * 257);
  c.blue = static_cast<unsigned short>(((bgr >> 16) & 0xFF) * 257);
  c.flags = DoRed | DoGreen | DoBlue;
  if (!XAllocColor(dpy, DefaultColormap(dpy, screen), &c)) return BlackPixel(dpy, screen);
  return c.pixel;
}

}  // namespace

std::uint8_t FrameColorIndex() { return ColorIndex.load(); }

TFlashThread::TFlashThread(TFrameForm* form) : Form(form), Thread([this] { Execute(); }) {}

TFlashThread::~TFlashThread() {
  Terminated = true;
  if (Thread.joinable()) Thread.join();
}

void TFlashThread::Execute() {
  int count = 0;
  while (!Terminated.load()) {
    if (++count == 50) {
      Form->ToggleFrameColor();
      count = 0;
    }
    Form->UpdateFramePosition();
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

std::unique_ptr<TFrameForm> TFrameForm::Create(TScreenCaptureContext* capture, std::string& error) {
  ::Display* dpy = OpenCaptureDisplay();
  if (!dpy) {
    error = "cannot open the display";
    return nullptr;
  }
  int shapeEvent = 0, shapeError = 0;
  if (!XShapeQueryExtension(dpy, &shapeEvent, &shapeError)) {
    CloseCaptureDisplay(dpy);
    error = "the X server has no Shape extension";
    return nullptr;
  }
  std::unique_ptr<TFrameForm> form(new TFrameForm);  // the constructor is private
  form->Capture = capture;
  form->Dpy = dpy;
  const int screen = DefaultScreen(dpy);
  form->Pixels[0] = PixelOf(dpy, screen, FrameColors[0]);
  form->Pixels[1] = PixelOf(dpy, screen, FrameColors[1]);

  const int b = form->FrameWidth;
  const int w = capture->Width + 2 * b, h = capture->Height + 2 * b;
  form->FrameOrigin(form->Left, form->Top);

  // Unmanaged: no decoration, no taskbar entry, never given the focus.
  XSetWindowAttributes attrs{};
  attrs.override_redirect = True;
  attrs.background_pixel = form->Pixels[0];
  attrs.border_pixel = 0;
  form->Win = XCreateWindow(dpy, RootWindow(dpy, screen), form->Left, form->Top, unsigned(w), unsigned(h), 0,
                            CopyFromParent, InputOutput, CopyFromParent, CWOverrideRedirect | CWBackPixel | CWBorderPixel,
                            &attrs);
  XStoreName(dpy, form->Win, "Quorvane capture frame");
  XClassHint hint{const_cast<char*>("quorvane-frame"), const_cast<char*>("Quorvane")};
  XSetClassHint(dpy, form->Win, &hint);

  // The ring: the outer rectangle minus the captured area, for drawing and for input alike.
  XRectangle ring[4] = {
      {0, 0, static_cast<unsigned short>(w), static_cast<unsigned short>(b)},
      {0, static_cast<short>(h - b), static_cast<unsigned short>(w), static_cast<unsigned short>(b)},
      {0, static_cast<short>(b), static_cast<unsigned short>(b), static_cast<unsigned short>(h - 2 * b)},
      {static_cast<short>(w - b), static_cast<short>(b), static_cast<unsigned short>(b),
       static_cast<unsigned short>(h - 2 * b)},
  };
  XShapeCombineRectangles(dpy, form->Win, ShapeBounding, 0, 0, ring, 4, ShapeSet, Unsorted);
  XShapeCombineRectangles(dpy, form->Win, ShapeInput, 0, 0, ring, 4, ShapeSet, Unsorted);
  XMapRaised(dpy, form->Win);
  XSync(dpy, False);

  form->FlashThread = std::make_unique<TFlashThread>(form.get());
  return form;
}

TFrameForm::~TFrameForm() {
  FlashThread.reset();  // joins: nothing touches the window after this
  if (Dpy) {
    if (!DisplayLost(D(Dpy))) {
      if (Win) XDestroyWindow(D(Dpy), Win);
      XSync(D(Dpy), False);
    }
    CloseCaptureDisplay(D(Dpy));
  }
}

bool TFrameForm::FrameOrigin(int& x, int& y) {
  int ox = 0, oy = 0;
  if (Capture->Area && !CaptureWindowOrigin(D(Dpy), *Capture->Area, ox, oy)) return false;
  x = ox + Capture->OffsetX - FrameWidth;
  y = oy + Capture->OffsetY - FrameWidth;
  return true;
}

void TFrameForm::UpdateFramePosition() {
  if (DisplayLost(D(Dpy))) return;
  if (Moving.exchange(1)) return;
  int x = Left, y = Top;
  ::Display* dpy = D(Dpy);
  // A window that is gone leaves the ring where it was.
  if (FrameOrigin(x, y) && (x != Left || y != Top)) {
    Left = x;
    Top = y;
    XMoveWindow(dpy, Win, x, y);
  }
  XRaiseWindow(dpy, Win);
  XFlush(dpy);
  Moving = 0;
}

void TFrameForm::ToggleFrameColor() {
  ::Display* dpy = D(Dpy);
  if (DisplayLost(dpy)) return;
  if (Capture->Started.load()) {
    // fetch_xor hands back the index in force before the flip: that colour is shown now.
    const std::uint8_t index = ColorIndex.fetch_xor(1);
    XSetWindowBackground(dpy, Win, Pixels[index & 1]);
    XClearWindow(dpy, Win);
  }
  XRaiseWindow(dpy, Win);
  XFlush(dpy);
}

}  // namespace qv
