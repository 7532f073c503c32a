#!/bin/bash
# The tray program from the outside: the command line, a first start, start-up refusals, the tray icon and its menu, the options
# window, Exit and SIGTERM. Screenshots go to build/test-artifacts/ for a person to look at.
set -u
BIN=${QV_BIN_DIR:?}
SRC=${QV_SOURCE_DIR:?}
[ -n "${DISPLAY:-}" ] || { echo "startup_test: needs DISPLAY (run under the desktop rig)"; exit 1; }
ART=$(cd "$BIN/.." && pwd)/test-artifacts
mkdir -p "$ART"
T=$(mktemp -d /tmp/qv_startup_XXXXXX)
export HOME=$T/home XDG_CONFIG_HOME=$T/config XDG_RUNTIME_DIR=$T/run
unset XDG_DOCUMENTS_DIR
mkdir -p "$HOME" "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
failures=0
pids=()
# A modifier left down by an earlier client would turn our clicks into window-manager gestures.
xdotool keyup Alt_L Alt_R Control_L Control_R Shift_L Shift_R 2>/dev/null
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
  rm -rf "$T"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
source "$(dirname "${BASH_SOURCE[0]}")/x_server_state.sh"
# What earlier tests on this server left behind, for the log.
echo "X server on arrival: $(x_server_state "$T")"
pass() { echo "ok: $*"; }

# Waits for a visible window of process $1 with exactly the title $2; prints its id.
# (xdotool gives up on an X error, e.g. a window that vanished while it looked: ask again.)
wait_window() {
  local end=$((SECONDS + ${3:-15})) w
  while [ $SECONDS -lt $end ]; do
    w=$(xdotool search --all --onlyvisible --pid "$1" --name "^$2\$" 2>/dev/null | head -1)
    [ -n "$w" ] && { echo "$w"; return 0; }
    sleep 0.2
  done
  return 1
}
# Waits until process $1 has ended and leaves its exit code in RC (killed after 10 s).
wait_exit() {
  for _ in $(seq 1 100); do kill -0 "$1" 2>/dev/null || break; sleep 0.1; done
  kill -0 "$1" 2>/dev/null && kill -KILL "$1"
  wait "$1"
  RC=$?
}
close_box() { xdotool windowactivate --sync "$1" 2>/dev/null; xdotool key Return 2>/dev/null; }

# 1. The command line without a desktop: help and version answer, a start says what is missing.
out=$(env -u DISPLAY "$BIN/quorvane" --help 2>&1); rc=$?
[ $rc = 0 ] && grep -q "^Usage: quorvane" <<<"$out" && grep -q "AVI, MKV or MP4 file" <<<"$out" \
  && pass "--help without a display" || fail "--help: exit $rc: $out"
out=$(env -u DISPLAY "$BIN/quorvane" --version 2>&1); rc=$?
[ $rc = 0 ] && grep -qE "^quorvane [0-9]+\.[0-9]+" <<<"$out" && pass "--version" || fail "--version: exit $rc: $out"
out=$(env -u DISPLAY "$BIN/quorvane" 2>&1); rc=$?
[ $rc = 1 ] && grep -q "DISPLAY is not set" <<<"$out" && pass "no display: told, exit 1" || fail "no display: exit $rc: $out"
out=$(DISPLAY=:999 "$BIN/quorvane" 2>&1); rc=$?
[ $rc = 1 ] && grep -qF 'X display ":999" cannot be opened' <<<"$out" && pass "unreachable display: told, exit 1" \
  || fail "unreachable display: exit $rc: $out"

# 2. A first start (no settings file, no documents folder): the defaults are written, the user is
# told where, and the default hotkeys record into the documents folder.
"$BIN/quorvane" 2>"$T/err1" &
p=$!; pids+=($p)
for _ in $(seq 1 100); do grep -qF "Your settings were written to $XDG_CONFIG_HOME/Quorvane/Options.ini" "$T/err1" && break; sleep 0.1; done
grep -qF "[balloon: Quorvane] Your settings were written to $XDG_CONFIG_HOME/Quorvane/Options.ini." "$T/err1" \
  && pass "first start names the settings file" || fail "first start: $(cat "$T/err1")"
grep -q "^VideoBitrate=3" "$XDG_CONFIG_HOME/Quorvane/Options.ini" && grep -qF "OutputFolder=$HOME/Documents/Quorvane/" \
  "$XDG_CONFIG_HOME/Quorvane/Options.ini" && pass "Options.ini written from the defaults" || fail "Options.ini not written"
# The first recording, through the default hotkeys, into the documents folder nobody has made yet.
# (A start reads the capture mode from the file; the whole screen needs no picking.)
sed -i 's/^RegionToCapture=.*/RegionToCapture=FullScreen/; s/^BoolPlayback=.*/BoolPlayback=0/' \
  "$XDG_CONFIG_HOME/Quorvane/Options.ini"
[ -e "$HOME/Documents" ] && fail "the documents folder exists before the first recording"
xdotool key --clearmodifiers ctrl+shift+F9; sleep 3; xdotool key --clearmodifiers ctrl+shift+F10
for _ in $(seq 1 100); do grep -q "Saved .*\.avi" "$T/err1" && break; sleep 0.1; done
first_file=$(ls "$HOME/Documents/Quorvane/"*.avi 2>/dev/null | head -1)
probe=$([ -n "$first_file" ] && ffprobe -v error -show_entries stream=codec_name -of csv=p=0 "$first_file" | tr '\n' ' ')
[ "$probe" = "msmpeg4v2 adpcm_ms " ] && pass "first recording by the default hotkeys: $first_file" \
  || fail "first recording: '${first_file:-no file}' ($probe): $(tail -3 "$T/err1")"
kill -TERM $p; wait_exit $p; rc=$RC
[ "$rc" = 0 ] || fail "first start: exit $rc"

# 3. A broken library in the LibAV folder next to the program.
mkdir -p "$T/prog/LibAV" "$XDG_CONFIG_HOME/Quorvane"
cp "$SRC/scripts/default-options.ini" "$XDG_CONFIG_HOME/Quorvane/Options.ini"
cp "$BIN/quorvane" "$T/prog/"
major=$(sed -n 's/^#define LIBAVCODEC_VERSION_MAJOR *\([0-9]*\).*/\1/p' /usr/include/x86_64-linux-gnu/libavcodec/version_major.h)
echo "this is not a shared object" > "$T/prog/LibAV/libavcodec.so.$major"
"$T/prog/quorvane" 2>"$T/err2" &
p=$!; pids+=($p)
w=$(wait_window $p Error)
[ -n "$w" ] || fail "no message box for a broken library"
grep -qE "^quorvane: \[Error\] .*libavcodec.so.$major.* Please re-install the program and try it again\.$" "$T/err2" \
  || fail "library error text: $(cat "$T/err2")"
[ -n "$w" ] && close_box "$w"
wait_exit $p; rc=$RC
[ "$rc" = 1 ] && pass "broken library refused" || fail "broken library: exit $rc"
grep -q "ShowTip=1" "$XDG_CONFIG_HOME/Quorvane/Options.ini" || fail "settings touched after a failed start"

# 4. A normal start: tray icon, first-run balloon, settings written back.
"$BIN/quorvane" 2>"$T/err3" &
first=$!; pids+=($first)
for _ in $(seq 1 100); do grep -q "ShowTip=0" "$XDG_CONFIG_HOME/Quorvane/Options.ini" && break; sleep 0.1; done
grep -q "ShowTip=0" "$XDG_CONFIG_HOME/Quorvane/Options.ini" && pass "balloon shown once" || fail "ShowTip not cleared"
grep -qF "OutputFolder=$HOME/Documents/Quorvane/" "$XDG_CONFIG_HOME/Quorvane/Options.ini" || fail "default folder not written back"
sleep 1
import -window root "$ART/tray_balloon.png"

# 5. A second start ends at once and brings the first one's menu up at its tray icon (the keyboard
# then picks from it: Options..., past Recent Recordings...); the first goes on. Where the holder of
# the lock does not answer, the second start says that one runs and ends.
out=$("$BIN/quorvane" 2>&1); rc=$?
sleep 0.7
import -window root "$ART/second_start_menu.png"
xdotool key Down Down Down Return
w=$(wait_window $first "Options of Quorvane" 5)
[ $rc = 0 ] && [ "$out" = "Quorvane is already running. Quorvane's menu is open at its tray icon." ] && [ -n "$w" ] \
  && kill -0 $first 2>/dev/null && pass "a second start opens the first one's menu" \
  || fail "second start: exit $rc: $out; options window: ${w:-none}"
[ -n "$w" ] && { xdotool windowactivate --sync "$w"; xdotool key Escape; }
mkdir -p "$T/other_run" && chmod 700 "$T/other_run"
flock "$T/other_run/ZMX_Quorvane.lock" sleep 30 &
holder=$!; pids+=($holder)
sleep 0.3
XDG_RUNTIME_DIR=$T/other_run env -u DBUS_SESSION_BUS_ADDRESS "$BIN/quorvane" 2>"$T/err4" &
p=$!; pids+=($p)
w=$(wait_window $p Quorvane)
grep -qF "Quorvane already runs." "$T/err4" || fail "second instance text: $(cat "$T/err4")"
[ -n "$w" ] && close_box "$w"
wait_exit $p; rc=$RC
[ "$rc" = 1 ] && pass "a lock holder that does not answer: told, exit 1" || fail "unanswering holder: exit $rc"
kill $holder

# 6. The tray icon: a right press opens the menu (the keyboard then picks its items).
icon=$(tray_icon_of $first)
if [ -z "$icon" ]; then
  fail "no tray icon (is a tray host running?)"
else
  eval "$(xdotool getwindowgeometry --shell "$icon")"
  cx=$((X + WIDTH / 2)); cy=$((Y + HEIGHT / 2))
  xdotool mousemove $cx $cy click 3; sleep 0.7
  import -window root "$ART/tray_menu.png"
  # Down skips the disabled items: Start Recording, Recent Recordings..., then Options...
  xdotool key Down Down Down Return
  w=$(wait_window $first "Options of Quorvane" 5)
  if [ -z "$w" ]; then
    fail "Options... did not show the window"
  else
    sleep 0.5
    import -window root "$ART/options_window.png"
    import -window "$w" "$ART/options_window_only.png"
    eval "$(xdotool getwindowgeometry --shell "$w")"
    [ "$WIDTH" -ge 700 ] && [ $((Y + HEIGHT)) -le 1080 ] && pass "options window ${WIDTH}x$HEIGHT, whole on the screen" \
      || fail "options window ${WIDTH}x$HEIGHT at $X,$Y"
    # No taskbar entry: the window manager is asked to leave the window out of it.
    xprop -id "$w" _NET_WM_STATE | grep -q _NET_WM_STATE_SKIP_TASKBAR && pass "options window skips the taskbar" \
      || fail "options window state: $(xprop -id "$w" _NET_WM_STATE)"
    xdotool windowactivate --sync "$w"; xdotool key alt+F4; sleep 0.5
    [ -z "$(xdotool search --onlyvisible --name '^Options of Quorvane$')" ] && kill -0 $first \
      && pass "closing the window hides it, the program runs on" || fail "close button"
  fi
fi

kill -TERM $first 2>/dev/null; wait_exit $first

# 7. "Exit" in the menu of a fresh instance ends the program. (Up from no selection lands on the
# last item.)
"$BIN/quorvane" 2>"$T/err5" &
p=$!; pids+=($p)
sleep 2
if [ -n "$icon" ]; then
  xdotool mousemove $cx $cy click 3; sleep 0.7
  xdotool key Up Return
  wait_exit $p; rc=$RC
  [ "$rc" = 0 ] && pass "Exit ends the program" || fail "Exit: exit $rc"
fi

# 8. SIGTERM (a session ending by signal) ends it cleanly too.
"$BIN/quorvane" 2>"$T/err6" &
p=$!; pids+=($p)
sleep 2
kill -TERM $p
wait_exit $p; rc=$RC
[ "$rc" = 0 ] && pass "SIGTERM ends the program cleanly" || fail "SIGTERM: exit $rc"

# 9. The X server is left as it was found (see x_server_state.sh).
state=$(x_server_state "$T")
[ "$state" = "$kX_SERVER_CLEAN" ] || [ "$state" = unknown ] && pass "X server left clean" \
  || fail "X server left in this state: $state"

echo "screenshots: $ART/tray_balloon.png $ART/second_start_menu.png $ART/tray_menu.png $ART/options_window.png"
[ $failures = 0 ] && echo "startup_test: all passed" || echo "startup_test: $failures failed"
exit $((failures > 0))
