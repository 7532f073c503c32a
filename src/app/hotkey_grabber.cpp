#include "app/hotkey_grabber.h"

// Qt's headers before Xlib's, whose macros (Bool, Status, None) clash with Qt's names.
#include <QGuiApplication>
#include <algorithm>

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/keysym.h>
#include <xcb/xcb.h>

namespace qv {

namespace {

// Super is Mod4 on every common keyboard map.
constexpr unsigned kSuperMask = Mod4Mask;
// The lock modifiers that must not stop a hotkey from firing: CapsLock and (on every common
// keyboard map) NumLock.
constexpr unsigned kLockMasks[] = {0, LockMask, Mod2Mask, LockMask | Mod2Mask};
constexpr unsigned kRelevantMask = ShiftMask | ControlMask | Mod1Mask | kSuperMask;

Display* AppDisplay() {
  auto* x11 = qApp ? qApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
  return x11 ? x11->display() : nullptr;
}

unsigned long KeysymOf(int key) {
  if (key >= '0' && key <= '9') return XK_0 + unsigned(key - '0');
  if (key >= 'A' && key <= 'Z') return XK_a + unsigned(key - 'A');
  if (IsFunctionKey(key)) return XK_F1 + unsigned(key - kVkF1);
  if (key == kVkPrint) return XK_Print;
  if (key == kVkPause) return XK_Pause;
  if (key == kVkScrollLock) return XK_Scroll_Lock;
  if (key == kVkEscape) return XK_Escape;
  return NoSymbol;
}

unsigned MaskOf(unsigned modifiers) {
  unsigned mask = 0;
  if (modifiers & kModAlt) mask |= Mod1Mask;
  if (modifiers & kModControl) mask |= ControlMask;
  if (modifiers & kModShift) mask |= ShiftMask;
  if (modifiers & kModSuper) mask |= kSuperMask;
  return mask;
}

// Grab errors arrive asynchronously; a temporary handler notes them while we sync.
bool gGrabFailed = false;
int NoteGrabError(Display*, XErrorEvent* event) {
  if (event->error_code == BadAccess || event->error_code == BadValue) gGrabFailed = true;
  return 0;
}

}  // namespace

int KeyFromKeycode(unsigned keycode) {
  Display* display = AppDisplay();
  if (!display || keycode < 8 || keycode > 255) return 0;
  KeySym sym = XkbKeycodeToKeysym(display, KeyCode(keycode), 0, 0);
  if (sym >= XK_0 && sym <= XK_9) return int('0' + (sym - XK_0));
  if (sym >= XK_a && sym <= XK_z) return int('A' + (sym - XK_a));
  if (sym >= XK_A && sym <= XK_Z) return int('A' + (sym - XK_A));
  if (sym >= XK_F1 && sym <= XK_F12) return int(kVkF1 + (sym - XK_F1));
  if (sym == XK_Control_L || sym == XK_Control_R) return kVkControl;
  if (sym == XK_Shift_L || sym == XK_Shift_R) return kVkShift;
  if (sym == XK_Alt_L || sym == XK_Alt_R || sym == XK_Meta_L || sym == XK_Meta_R) return kVkMenu;
  if (sym == XK_Super_L || sym == XK_Super_R) return kVkSuper;
  if (sym == XK_Print) return kVkPrint;
  if (sym == XK_Pause) return kVkPause;
  if (sym == XK_Scroll_Lock) return kVkScrollLock;
  return 0;
}

THotkeyGrabber::THotkeyGrabber() : FDisplay(AppDisplay()) {
  if (FDisplay) Root = DefaultRootWindow(FDisplay);
  if (qApp) qApp->installNativeEventFilter(this);
}

THotkeyGrabber::~THotkeyGrabber() {
  UnregisterAll();
  if (qApp) qApp->removeNativeEventFilter(this);
}

long THotkeyGrabber::AddAtom(const char* name) {
  if (!FDisplay) return -1;
  return long(XInternAtom(FDisplay, name, False));
}

bool THotkeyGrabber::Register(long id, const THotkey& hotkey) {
  if (!FDisplay || id < 0) return false;
  unsigned long sym = KeysymOf(hotkey.Key);
  KeyCode keycode = sym == NoSymbol ? 0 : XKeysymToKeycode(FDisplay, sym);
  if (keycode == 0) return false;
  unsigned mask = MaskOf(hotkey.Modifiers);
  // X lets a client grab its own combination twice; two of our hotkeys on one key would leave one
  // of them dead, so that counts as taken.
  for (const TGrab& grab : Grabs)
    if (grab.Keycode == keycode && grab.Mask == mask && grab.Id != id) return false;
  Unregister(id);

  XSync(FDisplay, False);
  gGrabFailed = false;
  XErrorHandler previous = XSetErrorHandler(NoteGrabError);
  for (unsigned lock : kLockMasks) XGrabKey(FDisplay, keycode, mask | lock, Root, False, GrabModeAsync, GrabModeAsync);
  XSync(FDisplay, False);
  bool failed = gGrabFailed;
  if (failed) {
    // Release the variants we did get; the ones another client holds are not ours to release.
    for (unsigned lock : kLockMasks) XUngrabKey(FDisplay, keycode, mask | lock, Root);
    XSync(FDisplay, False);
  }
  XSetErrorHandler(previous);
  if (failed) return false;
  Grabs.push_back({id, keycode, mask});
  return true;
}

bool THotkeyGrabber::Unregister(long id) {
  auto it = std::find_if(Grabs.begin(), Grabs.end(), [id](const TGrab& g) { return g.Id == id; });
  if (it == Grabs.end()) return false;
  if (FDisplay) {
    for (unsigned lock : kLockMasks) XUngrabKey(FDisplay, it->Keycode, it->Mask | lock, Root);
    // Done by the server before we go on: a client that takes the combination right after we gave
    // it up must not find it still held.
    XSync(FDisplay, False);
  }
  Grabs.erase(it);
  return true;
}

void THotkeyGrabber::UnregisterAll() {
  while (!Grabs.empty()) Unregister(Grabs.front().Id);
}

bool THotkeyGrabber::IsRegistered(long id) const {
  return std::any_of(Grabs.begin(), Grabs.end(), [id](const TGrab& g) { return g.Id == id; });
}

long THotkeyGrabber::Match(unsigned keycode, unsigned state) const {
  for (const TGrab& grab : Grabs)
    if (grab.Keycode == keycode && grab.Mask == (state & kRelevantMask)) return grab.Id;
  return -1;
}

bool THotkeyGrabber::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) {
  if (eventType != "xcb_generic_event_t" || Grabs.empty()) return false;
  auto* event = static_cast<xcb_generic_event_t*>(message);
  if ((event->response_type & 0x7f) != XCB_KEY_PRESS) return false;
  auto* press = static_cast<xcb_key_press_event_t*>(message);
  if (press->event != Root) return false;
  long id = Match(press->detail, press->state);
  if (id < 0) return false;
  if (OnHotkey) OnHotkey(id);
  return true;
}

}  // namespace qv
