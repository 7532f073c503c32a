# Sourced by the tray program's shell tests. x_server_state DIR prints what the X server holds now:
# keys held down, buttons or modifiers, whether another client could grab the pointer and the
# keyboard (0 = it could), whether the keyboard focus is nowhere. Every desktop test of the suite
# shares one server: a leftover here would silently swallow the next test's clicks and key presses.
# A clean server prints kX_SERVER_CLEAN. Without a C compiler it prints "unknown".
kX_SERVER_CLEAN="keys_held=0 buttons_or_modifiers=0x0 pointer_grab=0 keyboard_grab=0 focus_none=0"
x_server_state() {
  local dir=$1
  if [ ! -x "$dir/xstate" ]; then
    cat > "$dir/xstate.c" <<'EOF'
#include <X11/Xlib.h>
#include <stdio.h>
int main(void) {
  Display* d = XOpenDisplay(NULL);
  if (!d) return 2;
  Window root = DefaultRootWindow(d), focus, r, c;
  int revert, rx, ry, wx, wy, held = 0;
  unsigned mask;
  char keys[32];
  XGetInputFocus(d, &focus, &revert);
  XQueryKeymap(d, keys);
  for (int i = 0; i < 256; i++) held += (keys[i / 8] >> (i % 8)) & 1;
  XQueryPointer(d, root, &r, &c, &rx, &ry, &wx, &wy, &mask);
  int pointer = XGrabPointer(d, root, False, ButtonPressMask, GrabModeAsync, GrabModeAsync, None, None, CurrentTime);
  int keyboard = XGrabKeyboard(d, root, False, GrabModeAsync, GrabModeAsync, CurrentTime);
  printf("keys_held=%d buttons_or_modifiers=0x%x pointer_grab=%d keyboard_grab=%d focus_none=%d\n", held,
         mask & 0x1fff, pointer, keyboard, focus == None);
  XCloseDisplay(d);
  return 0;
}
EOF
    cc -o "$dir/xstate" "$dir/xstate.c" -lX11 2>/dev/null || { echo unknown; return 0; }
  fi
  "$dir/xstate"
}

# tray_icon_of PID: the program's tray icon window (a visible window of at most 64x64), waiting up to
# 10 s for the tray host to embed it; prints nothing when there is none.
tray_icon_of() {
  local pid=$1 icon="" w
  for _ in $(seq 1 50); do
    for w in $(xdotool search --onlyvisible --pid "$pid" 2>/dev/null); do
      eval "$(xdotool getwindowgeometry --shell "$w")"
      [ "$WIDTH" -le 64 ] && [ "$HEIGHT" -le 64 ] && icon=$w
    done
    [ -n "$icon" ] && break
    sleep 0.2
  done
  echo "$icon"
}
