/* Prints the window that owns an X selection (0x0 when none does); exit 0 only when it is owned.
 * The desktop rig uses it to know when the tray host has claimed _NET_SYSTEM_TRAY_S<screen>;
 * no stock X utility answers that question. */
#include <stdio.h>
#include <X11/Xlib.h>

int main(int argc, char **argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: %s SELECTION\n", argv[0]);
    return 2;
  }
  Display *dpy = XOpenDisplay(NULL);
  if (!dpy) {
    fprintf(stderr, "cannot open display\n");
    return 2;
  }
  Window owner = XGetSelectionOwner(dpy, XInternAtom(dpy, argv[1], False));
  printf("0x%lx\n", (unsigned long)owner);
  XCloseDisplay(dpy);
  return owner != None ? 0 : 1;
}
