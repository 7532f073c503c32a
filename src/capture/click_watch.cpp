#include "capture/click_watch.h"

#include <X11/extensions/XInput2.h>

#include "capture/screen_capture_x11.h"
#include "media/ff_api.h"

namespace qv {

std::unique_ptr<TClickWatch> TClickWatch::Watch(::Display* dpy, void* logContext) {
  std::unique_ptr<TClickWatch> watch(new TClickWatch(dpy));
  // From 2.1 on raw events come also while another client grabs the pointer (a menu, a drag).
  int event = 0, error = 0, major = 2, minor = 2;
  if (!XQueryExtension(dpy, "XInputExtension", &watch->Opcode, &event, &error) ||
      XIQueryVersion(dpy, &major, &minor) != Success || !watch->Select(true)) {
    ff::av_log(logContext, AV_LOG_WARNING, "the display offers no XInput 2 button events: clicks are not shown\n");
    return nullptr;
  }
  return watch;
}

// Raw events can only be selected on the root, for all devices at once.
bool TClickWatch::Select(bool on) {
  unsigned char mask[XIMaskLen(XI_LASTEVENT)] = {};
  if (on) XISetMask(mask, XI_RawButtonPress);
  XIEventMask events{XIAllMasterDevices, static_cast<int>(sizeof(mask)), mask};
  TXErrorTrap trap(Dpy);
  XISelectEvents(Dpy, DefaultRootWindow(Dpy), &events, 1);
  return trap.Error() == 0;
}

TClickWatch::~TClickWatch() {
  if (!DisplayLost(Dpy)) Select(false);
}

bool TClickWatch::Update(std::int64_t nowUs, const TRootRect& area, bool afterPause) {
  TakePresses(nowUs, !afterPause);
  return Rings.Advance(nowUs, area);
}

bool TClickWatch::PointerNow(int& x, int& y) {
  ::Window root = 0, child = 0;
  int winX = 0, winY = 0;
  unsigned int buttons = 0;
  return XQueryPointer(Dpy, DefaultRootWindow(Dpy), &root, &child, &x, &y, &winX, &winY, &buttons);
}

// Raw events carry no position: the pointer is asked once in a slot that has presses, so a ring
// sits where the pointer is at most a slot after the press.
void TClickWatch::TakePresses(std::int64_t nowUs, bool keep) {
  XEvent event;
  bool pointerRead = false;
  int x = 0, y = 0;
  while (XCheckTypedEvent(Dpy, GenericEvent, &event)) {
    XGenericEventCookie* cookie = &event.xcookie;
    if (cookie->extension != Opcode || cookie->evtype != XI_RawButtonPress || !XGetEventData(Dpy, cookie)) continue;
    TClickButton button;
    if (keep && ClickButtonOf(static_cast<const XIRawEvent*>(cookie->data)->detail, button)) {
      if (!pointerRead) pointerRead = PointerNow(x, y);
      if (pointerRead) Rings.Press(button, x, y, nowUs);
    }
    XFreeEventData(Dpy, cookie);
  }
  if (!keep) Rings.Clear();
}

}  // namespace qv
