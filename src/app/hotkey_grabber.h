// System-wide hotkeys on X11: each combination is grabbed on the root window (also with NumLock
// and CapsLock on, so those locks do not silently disable it), and the grabbed key presses are
// picked out of the toolkit's event stream before any widget sees them.
#pragma once

#include <QAbstractNativeEventFilter>
#include <functional>
#include <vector>

#include "app/hotkey_text.h"

typedef struct _XDisplay Display;

namespace qv {

class THotkeyGrabber : public QAbstractNativeEventFilter {
 public:
  // Uses the application's own X connection (none on a non-X platform: every grab then fails).
  THotkeyGrabber();
  ~THotkeyGrabber() override;
  THotkeyGrabber(const THotkeyGrabber&) = delete;
  THotkeyGrabber& operator=(const THotkeyGrabber&) = delete;

  // False where the toolkit is not on X (a Wayland session): no combination can be grabbed there.
  bool Available() const { return FDisplay != nullptr; }
  // The id of a named hotkey (the X atom of that name); -1 without a display.
  long AddAtom(const char* name);
  // False when another client holds the combination, when another of our ids holds it, or when the
  // key does not exist on this keyboard.
  bool Register(long id, const THotkey& hotkey);
  // Releases what `id` holds; nothing happens for an id that holds nothing.
  bool Unregister(long id);
  void UnregisterAll();
  bool IsRegistered(long id) const;

  // Called with the id of a grabbed combination when it is pressed.
  std::function<void(long id)> OnHotkey;

  bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;
  // The same matching, for a key press given as X keycode and modifier state.
  long Match(unsigned keycode, unsigned state) const;

 private:
  struct TGrab {
    long Id;
    unsigned Keycode;
    unsigned Mask;
  };
  Display* FDisplay = nullptr;
  unsigned long Root = 0;
  std::vector<TGrab> Grabs;
};

// X keycode -> the desktop-neutral key code of hotkey_text.h (0 for any other key), read from the
// keyboard map's unshifted level so Shift+1 still reads as '1'.
int KeyFromKeycode(unsigned keycode);

}  // namespace qv
