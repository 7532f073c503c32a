#include "capture/input_watch.h"

#include <X11/XKBlib.h>
#include <X11/extensions/XInput2.h>
#include <X11/keysym.h>

#include "capture/screen_capture_x11.h"
#include "media/ff_api.h"

namespace qv {

namespace {

const char* ModeText(TKeysMode mode) {
  return mode == TKeysMode::Everything ? "every key, typed text too" : "combinations and special keys only";
}

unsigned ModifierOf(unsigned long keysym) {
  switch (keysym) {
    case XK_Control_L: case XK_Control_R: return kHeldCtrl;
    case XK_Shift_L: case XK_Shift_R: return kHeldShift;
    case XK_Alt_L: case XK_Alt_R: case XK_Meta_L: case XK_Meta_R: return kHeldAlt;
    case XK_Super_L: case XK_Super_R: case XK_Hyper_L: case XK_Hyper_R: return kHeldSuper;
    default: return 0;
  }
}

}  // namespace

std::unique_ptr<TInputWatch> TInputWatch::Watch(::Display* dpy, void* logContext, bool clicks, bool spotlight,
                                                const std::optional<TKeysChoice>& keys, int areaHeight) {
  std::unique_ptr<TInputWatch> watch(new TInputWatch(dpy));
  if (clicks) watch->Rings.emplace(spotlight);
  if (spotlight) watch->Spotlight.emplace(areaHeight);
  if (keys) {
    std::string error;
    watch->Keys = TKeyOverlay::Create(keys->Mode, keys->Corner, keys->Family, areaHeight, error);
    if (!watch->Keys)
      ff::av_log(logContext, AV_LOG_WARNING, "key presses are not shown: %s\n", error.c_str());
  }
  if (!watch->Rings && !watch->Keys) return watch->Spotlight ? std::move(watch) : nullptr;
  // From 2.1 on raw events come also while another client grabs the pointer (a menu, a drag).
  int event = 0, error = 0, major = 2, minor = 2;
  if (!XQueryExtension(dpy, "XInputExtension", &watch->Opcode, &event, &error) ||
      XIQueryVersion(dpy, &major, &minor) != Success || !watch->Select(true)) {
    ff::av_log(logContext, AV_LOG_WARNING, "the display offers no XInput 2 raw events: %s not shown\n",
               watch->Keys ? "clicks and keys are" : "clicks are");
    watch->Rings.reset();
    watch->Keys.reset();
    return watch->Spotlight ? std::move(watch) : nullptr;
  }
  if (watch->Keys)
    ff::av_log(logContext, AV_LOG_INFO, "key presses are shown (%s) in %s at %d px\n", ModeText(keys->Mode),
               watch->Keys->Font().FamilyName().c_str(), watch->Keys->Font().PixelSize());
  return watch;
}

// Raw events can only be selected on the root, for all devices at once.
bool TInputWatch::Select(bool on) {
  unsigned char mask[XIMaskLen(XI_LASTEVENT)] = {};
  if (on && Rings) XISetMask(mask, XI_RawButtonPress);
  if (on && Keys) {
    XISetMask(mask, XI_RawKeyPress);
    XISetMask(mask, XI_RawKeyRelease);
  }
  XIEventMask events{XIAllMasterDevices, static_cast<int>(sizeof(mask)), mask};
  TXErrorTrap trap(Dpy);
  XISelectEvents(Dpy, DefaultRootWindow(Dpy), &events, 1);
  return trap.Error() == 0;
}

TInputWatch::~TInputWatch() {
  if ((Rings || Keys) && !DisplayLost(Dpy)) Select(false);
}

bool TInputWatch::Update(std::int64_t nowUs, const TRootRect& area, bool afterPause, const int* pointer) {
  TakeEvents(nowUs, !afterPause);
  bool due = false;
  if (Rings) due = Rings->Advance(nowUs, area);
  if (Keys && Keys->Labels().Advance(nowUs)) due = true;
  // The spotlight follows the pointer slot by slot.
  int x = pointer ? pointer[0] : 0, y = pointer ? pointer[1] : 0;
  if (Spotlight && (pointer || PointerNow(x, y)) && Spotlight->Advance(nowUs, x, y, area)) due = true;
  return due;
}

bool TInputWatch::PointerNow(int& x, int& y) {
  ::Window root = 0, child = 0;
  int winX = 0, winY = 0;
  unsigned int buttons = 0;
  return XQueryPointer(Dpy, DefaultRootWindow(Dpy), &root, &child, &x, &y, &winX, &winY, &buttons);
}

unsigned TInputWatch::HeldModifiers() const {
  unsigned held = 0;
  for (std::size_t code = 0; code < Held.size(); ++code)
    if (Held[code]) held |= ModifierOf(XkbKeycodeToKeysym(Dpy, KeyCode(code), 0, 0));
  return held;
}

// Modifiers are followed also while presses are dropped, so a chord begun in a pause reads right.
void TInputWatch::TakeKey(int keycode, bool pressed, std::int64_t nowUs, bool keep) {
  if (keycode < 0 || keycode >= int(Held.size())) return;
  const unsigned long keysym = XkbKeycodeToKeysym(Dpy, KeyCode(keycode), 0, 0);
  if (IsModifierKey(keysym)) {
    Held[std::size_t(keycode)] = pressed;
    return;
  }
  if (!pressed || !keep) return;
  const unsigned modifiers = HeldModifiers();
  const unsigned long shifted = XkbKeycodeToKeysym(Dpy, KeyCode(keycode), 0, (modifiers & kHeldShift) ? 1 : 0);
  TKeyStroke stroke;
  if (KeyStrokeOf(keysym, shifted ? shifted : keysym, modifiers, stroke)) Keys->Labels().Press(stroke, nowUs);
}

// Raw events carry no position: the pointer is asked once in a slot that has presses, so a ring
// sits where the pointer is at most a slot after the press.
void TInputWatch::TakeEvents(std::int64_t nowUs, bool keep) {
  XEvent event;
  bool pointerRead = false;
  int x = 0, y = 0;
  while (XCheckTypedEvent(Dpy, GenericEvent, &event)) {
    XGenericEventCookie* cookie = &event.xcookie;
    if (cookie->extension != Opcode || !XGetEventData(Dpy, cookie)) continue;
    const int detail = static_cast<const XIRawEvent*>(cookie->data)->detail;
    TClickButton button;
    if (cookie->evtype == XI_RawButtonPress && Rings && keep && ClickButtonOf(detail, button)) {
      if (!pointerRead) pointerRead = PointerNow(x, y);
      if (pointerRead) Rings->Press(button, x, y, nowUs);
    } else if ((cookie->evtype == XI_RawKeyPress || cookie->evtype == XI_RawKeyRelease) && Keys) {
      TakeKey(detail, cookie->evtype == XI_RawKeyPress, nowUs, keep);
    }
    XFreeEventData(Dpy, cookie);
  }
  if (keep) return;
  if (Rings) Rings->Clear();
  if (Keys) Keys->Labels().Clear();
}

}  // namespace qv
