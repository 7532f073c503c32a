#include "capture/screen_capture_changes.h"

#include <X11/extensions/Xdamage.h>
#include <X11/extensions/Xfixes.h>

#include "capture/screen_capture_x11.h"

namespace qv {

namespace {

// The rows of `area` that `rect` covers, marked.
void MarkRowsOf(const TRootRect& rect, const TRootRect& area, TRowSet& rows) {
  if (RectsMeet(rect, area)) rows.Mark(rect.Y - area.Y, rect.Y + rect.Height - area.Y);
}

}  // namespace

std::unique_ptr<TScreenChanges> TScreenChanges::Watch(::Display* dpy, bool withPointer) {
  int damageError = 0, fixesError = 0, major = 0, minor = 0;
  std::unique_ptr<TScreenChanges> changes(new TScreenChanges(dpy));
  if (!XDamageQueryExtension(dpy, &changes->DamageEventBase, &damageError) ||
      !XDamageQueryVersion(dpy, &major, &minor))
    return nullptr;
  major = 2;  // regions came with XFixes 2
  minor = 0;
  if (!XFixesQueryExtension(dpy, &changes->FixesEventBase, &fixesError) || !XFixesQueryVersion(dpy, &major, &minor) ||
      major < 2)
    return nullptr;
  TXErrorTrap trap(dpy);
  const ::Window root = DefaultRootWindow(dpy);
  // Drawing into any window shows on the root: one damage object covers a region, a window (and
  // whatever is stacked over it) and the whole screen alike.
  changes->DamageId = XDamageCreate(dpy, root, XDamageReportNonEmpty);
  changes->PartsId = XFixesCreateRegion(dpy, nullptr, 0);
  changes->WithPointer = withPointer;
  if (withPointer) XFixesSelectCursorInput(dpy, root, XFixesDisplayCursorNotifyMask);
  if (trap.Error()) return nullptr;
  return changes;
}

TScreenChanges::~TScreenChanges() {
  if (DisplayLost(Dpy)) return;
  TXErrorTrap trap(Dpy);
  if (DamageId) XDamageDestroy(Dpy, DamageId);
  if (PartsId) XFixesDestroyRegion(Dpy, PartsId);
  if (WithPointer) XFixesSelectCursorInput(Dpy, DefaultRootWindow(Dpy), 0);
  trap.Error();
}

bool TScreenChanges::Changed(const TRootRect& area, TRowSet& rows) {
  XEvent event;
  bool reported = false;
  while (XCheckTypedEvent(Dpy, DamageEventBase + XDamageNotify, &event)) reported = true;
  // Both are asked every time: each takes its own reports.
  const bool drawn = reported && TakeDamage(area, rows);
  const bool pointer = WithPointer && PointerChanged(area, rows);
  return drawn || pointer;
}

// The damage collected so far, taken from the server (it reports again from empty); true when a
// part of it lies in the area. Parts elsewhere on the screen cost this one round trip only.
bool TScreenChanges::TakeDamage(const TRootRect& area, TRowSet& rows) {
  XDamageSubtract(Dpy, DamageId, None, PartsId);
  int count = 0;
  XRectangle* parts = XFixesFetchRegion(Dpy, PartsId, &count);
  if (!parts) {  // nothing to go by: all of it
    rows.MarkAll();
    return true;
  }
  bool inside = false;
  for (int i = 0; i < count; ++i) {
    const TRootRect part{parts[i].x, parts[i].y, parts[i].width, parts[i].height};
    inside = RectsMeet(area, part) || inside;
    MarkRowsOf(part, area, rows);
  }
  XFree(parts);
  return inside;
}

void TScreenChanges::ReadCursorImage() {
  XFixesCursorImage* image = XFixesGetCursorImage(Dpy);
  if (!image) return;
  Cursor.Width = image->width;
  Cursor.Height = image->height;
  HotX = image->xhot;
  HotY = image->yhot;
  XFree(image);
}

// The pointer counts where it is drawn, before or after: a move that enters or leaves the area
// changes it, a move elsewhere does not.
bool TScreenChanges::PointerChanged(const TRootRect& area, TRowSet& rows) {
  XEvent event;
  bool newImage = !CursorKnown;
  while (XCheckTypedEvent(Dpy, FixesEventBase + XFixesCursorNotify, &event)) newImage = true;
  const TRootRect before = Cursor;
  if (newImage) ReadCursorImage();
  ::Window root = 0, child = 0;
  int x = 0, y = 0, winX = 0, winY = 0;
  unsigned int mask = 0;
  if (!XQueryPointer(Dpy, DefaultRootWindow(Dpy), &root, &child, &x, &y, &winX, &winY, &mask)) return false;
  Cursor.X = x - HotX;
  Cursor.Y = y - HotY;
  const bool moved = !CursorKnown || Cursor.X != before.X || Cursor.Y != before.Y;
  CursorKnown = true;
  if (!moved && !newImage) return false;
  MarkRowsOf(before, area, rows);
  MarkRowsOf(Cursor, area, rows);
  return RectsMeet(before, area) || RectsMeet(Cursor, area);
}

}  // namespace qv
