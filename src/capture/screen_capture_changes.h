// What tells the screen device that a slot's picture may differ from the last one it delivered: the
// X server's damage reports for the screen (the DAMAGE extension), the pointer's place and, through
// XFixes cursor notifications, its image. An unchanged slot then costs no grab, no conversion and no
// encoding.
#pragma once

#include <X11/Xlib.h>

#include <memory>

#include "capture/screen_capture_rows.h"

namespace qv {

// Threads: owned and used by the thread that reads the screen device, on the device's connection.
class TScreenChanges {
 public:
  // nullptr when the server lacks DAMAGE or XFixes regions: every slot is then taken as changed.
  static std::unique_ptr<TScreenChanges> Watch(::Display* dpy, bool withPointer);
  ~TScreenChanges();  // gives the server's objects back unless the connection is lost
  TScreenChanges(const TScreenChanges&) = delete;
  TScreenChanges& operator=(const TScreenChanges&) = delete;

  // True when something was drawn inside `area` since the last call, or the pointer drawn into it
  // moved or changed its image; marks in `rows` (sized to the area's height) the rows of the area
  // that changed. Takes the reports it read, so call it before grabbing: whatever is drawn during
  // the grab is reported for the next slot.
  bool Changed(const TRootRect& area, TRowSet& rows);
  // Where the pointer was at the last Changed, when it is followed: an overlay that follows it too
  // need not ask the server again.
  bool PointerAt(int& x, int& y) const {
    x = Cursor.X + HotX;
    y = Cursor.Y + HotY;
    return WithPointer && CursorKnown;
  }

 private:
  explicit TScreenChanges(::Display* dpy) : Dpy(dpy) {}
  bool TakeDamage(const TRootRect& area, TRowSet& rows);
  bool PointerChanged(const TRootRect& area, TRowSet& rows);
  void ReadCursorImage();

  ::Display* Dpy;
  unsigned long DamageId = 0;   // Damage
  unsigned long PartsId = 0;    // XserverRegion receiving the damaged parts
  int DamageEventBase = 0;
  int FixesEventBase = 0;
  bool WithPointer = false;
  bool CursorKnown = false;
  TRootRect Cursor;  // the pointer's image where it was drawn last (position from its hot spot)
  int HotX = 0, HotY = 0;
};

}  // namespace qv
