#!/usr/bin/env bash
# The tray program on Wayland desktops (the Wayland rig), two of them one after the other.
# Without a tray host it starts, shows its control window (found through sway's window tree) and
# records through the window's buttons, worked by Alt+letter key presses from a virtual keyboard;
# its hotkeys are said to be unavailable there, and the options window offers the commands to bind
# instead: one copied by its button (wl-paste reads the clipboard) and run as a desktop runs a bound
# shortcut starts and then stops a recording. Where the desktop has a GlobalShortcuts portal the
# hotkeys are bound through it: no such portal exists on this machine, so a small one of the test's
# own (tests/support/global_shortcuts_portal.py) stands in on a session bus of its own, and its
# shortcuts pressed start and stop a recording. A bar started after the program still gets its icon,
# and then no control window comes. With a bar that hosts StatusNotifierItems (--tray: waybar) its
# icon registers with the bar's watcher, no window of its own shows, and a recording is started and
# stopped through the menu the icon exports (com.canonical.dbusmenu), as the bar would. The picture
# is a PipeWire node named in the settings (so its colours are known), a live SMPTE bar
# source; the files are judged by ffprobe and their pixels. The control window during the recording,
# the options window and the region picker are kept in build/test-artifacts/.
# Then on GNOME (no tray host there either): the whole screen through the portal, with the permission
# a returning user has kept, started by the control window's Start (Alt+S through mutter's remote
# desktop keyboard) and stopped by the remote control, then started and stopped by the remote control
# alone; the files judged by ffprobe and a window's colour at its place.
set -u
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=${QV_SOURCE_DIR:-$(cd "$here/../.." && pwd)}
bin=${QV_BIN_DIR:-$root/build/bin}

# shellcheck source=tests/support/shell_checks.sh
. "$root/tests/support/shell_checks.sh"
packages=(sway pipewire-pulse qt6-wayland gstreamer1.0-pipewire gstreamer1.0-tools wtype grim wl-clipboard
  python3-dbus python3-gi)
if [ "${QV_WAYLAND_RIG:-}" != 1 ]; then
  (in_wayland_rig "${BASH_SOURCE[0]}" window -- "${packages[@]}")
  window=$?
  (in_wayland_rig --tray "${BASH_SOURCE[0]}" tray -- "${packages[@]}" waybar)
  tray=$?
  (in_wayland_rig --desktop gnome "${BASH_SOURCE[0]}" gnome -- mutter xdg-desktop-portal-gnome pipewire-pulse \
    qt6-wayland foot python3-gi)
  gnome=$?
  [ $window = 0 ] && [ $tray = 0 ] && [ $gnome = 0 ]
  exit
fi
mode=${1:-window}

art=$(cd "$bin/.." && pwd)/test-artifacts
mkdir -p "$art"
work=$(mktemp -d)
pid=
bar=
portal_bus=
trap '[ -n "$pid" ] && kill "$pid" 2>/dev/null; [ -n "$bar" ] && kill "$bar" 2>/dev/null
  [ -n "$portal_bus" ] && kill "$portal_bus" 2>/dev/null; stop_pipewire_bars "$work"; rm -rf "$work"' EXIT
export XDG_CONFIG_HOME=$work/config XDG_STATE_HOME=$work/state
mkdir -p "$XDG_CONFIG_HOME/Quorvane" "$work/out"

# Alt+KEY to the focused window. The virtual keyboard is the seat's only one: the client learns of
# it only when it appears, so the keys wait a moment for that.
alt() { wtype -s 500 -M alt -s 100 "$1" -s 100 -m alt; }
windows_of_program() { # windows_of_program [TITLE]: how many windows of process $pid sway has
  swaymsg -t get_tree -r | python3 -c "import json,sys
def walk(n):
  yield n
  for c in n.get('nodes', []) + n.get('floating_nodes', []): yield from walk(c)
title = sys.argv[1] if len(sys.argv) > 1 else None
print(sum(n.get('pid') == $pid and title in (None, n.get('name')) for n in walk(json.load(sys.stdin))))" "$@"
}
control_window() { [ "$(windows_of_program Quorvane)" -gt 0 ]; }
saved() { grep -q "Saved .*\.avi (" "$work/err"; }
saved_count() { [ "$(grep -c "Saved .*\.avi (" "$work/err")" -ge "$1" ]; }
files_count() { [ "$(ls "$work/out" | wc -l)" -ge "$1" ]; }
frames_of_newest() { # the picture's frames in the newest file
  ffprobe -v error -select_streams v:0 -show_entries stream=nb_frames -of csv=p=0 "$(ls -t "$work/out"/*.avi | head -n 1)"
}
use_source() { # use_source NAME REGION: a fresh bar source, recorded as REGION (FullScreen or Region)
  node=$(pipewire_bars "$1" "$work/$1.log")
  sed -i "s/^RegionToCapture=.*/RegionToCapture=$2/; s/^PipeWireNode=.*/PipeWireNode=$node/" \
    "$XDG_CONFIG_HOME/Quorvane/Options.ini"
}
recorded() { ls "$work/out"/*.avi >/dev/null 2>&1; }
pixel() { # pixel FILE N X Y: "R G B" of that pixel of frame N
  ffmpeg -v error -i "$1" -vf "select=eq(n\\,$2),format=rgb24,crop=1:1:$3:$4" -frames:v 1 -f rawvideo - | od -An -tu1 | xargs
}

# The icon's menu as the bar reaches it: the item's bus name and the menu's path.
item_bus=
menu_path=
item_registered() { # the program's item among the watcher's, with the menu it exports
  local item
  item=$(gdbus call --session -d org.kde.StatusNotifierWatcher -o /StatusNotifierWatcher \
    -m org.freedesktop.DBus.Properties.Get org.kde.StatusNotifierWatcher RegisteredStatusNotifierItems |
    grep -o "'[^']*'" | tr -d "'" | head -n 1)
  [ -n "$item" ] || return 1
  item_bus=${item%%/*}
  gdbus call --session -d org.freedesktop.DBus -o /org/freedesktop/DBus \
    -m org.freedesktop.DBus.GetConnectionUnixProcessID "$item_bus" | grep -q " $pid,)" || return 1
  menu_path=$(gdbus call --session -d "$item_bus" -o "/${item#*/}" -m org.freedesktop.DBus.Properties.Get \
    org.kde.StatusNotifierItem Menu | grep -o "'[^']*'" | tr -d "'")
  [ -n "$(menu_entry 'Start Recording' 2>/dev/null)" ]
}
menu_entry() { # menu_entry LABEL: the entry's id, if it is enabled
  gdbus call --session -d "$item_bus" -o "$menu_path" -m com.canonical.dbusmenu.GetLayout -- 0 -1 '[]' |
    grep -o "([0-9]*, {[^}]*}" | grep "'label': <'$1'>" | grep "'enabled': <true>" | grep -o '^([0-9]*' | tr -d '('
}
click() { # click LABEL: what the bar sends when that entry of the icon's menu is clicked
  local id
  id=$(menu_entry "$1")
  [ -n "$id" ] && gdbus call --session -d "$item_bus" -o "$menu_path" -m com.canonical.dbusmenu.Event -- \
    "$id" clicked '<0>' 0 >/dev/null
}
no_window_past_the_wait() { # without a tray the control window comes 5 s after the start
  while [ $((SECONDS - started)) -lt 7 ]; do sleep 0.5; done
  local shown
  shown=$(windows_of_program)
  check "no window of the program shows ($shown in sway's tree 7 s after the start)" test "$shown" = 0
}
tray_section() {
  local what="the icon registers with the bar's watcher and exports a menu"
  wait_until 10 item_registered || { bad "$what"; return; }
  ok "$what ($item_bus, $menu_path)"
  click 'Start Recording'
  check "Start Recording in the icon's menu makes a file" wait_until 10 recorded
  sleep 4
  click 'Stop Recording'
  check "Stop Recording in the icon's menu ends the recording and says so" wait_until 15 saved
  no_window_past_the_wait
  local file size frames
  file=$(ls "$work/out"/*.avi 2>/dev/null | head -n 1)
  size=$(ffprobe -v error -select_streams v:0 -show_entries stream=width,height -of csv=p=0 "$file" | tr , x)
  check "the node's size 700x420 (got ${size:-none})" test "$size" = 700x420
  frames=$(ffprobe -v error -select_streams v:0 -show_entries stream=nb_frames -of csv=p=0 "$file")
  check "about 4 s of picture (${frames:-no} frames, 60-150 at 25 a second)" \
    test "${frames:-0}" -ge 60 -a "${frames:-0}" -le 150
  check "sound beside the picture" \
    test -n "$(ffprobe -v error -select_streams a -show_entries stream=codec_name -of csv=p=0 "$file")"
  click Exit
  check "Exit in the icon's menu ends the program" wait_until 10 bash -c "! kill -0 $pid 2>/dev/null"
}

write_options() { # write_options [RECORDER LINE...]: the settings of a full-screen recording into out/
  {
    printf '%s\n' "[Recorder]" BoolRecordAudio=1 BoolPlayback=0 RegionToCapture=FullScreen ShowTip=0 "$@"
    printf '%s\n' "[OutputType]" VideoBitrate=7 "[Save]" BoolAutoSave=1 "OutputFolder=$work/out"
  } >"$XDG_CONFIG_HOME/Quorvane/Options.ini"
}

gnome_section() {
  local window file px n
  window=$(colour_window qvred ff0000 400x300)
  write_options "PortalRestoreToken=$(seed_screen_permission)"
  "$bin/quorvane" >"$work/out.log" 2>"$work/err" &
  pid=$!
  check "gnome: the control window comes" wait_until 10 grep -q "showing the control window" "$work/err"
  /usr/bin/python3 "$root/tests/support/gnome_keys.py" alt+s
  check "gnome: Start in the control window makes a file" wait_until 10 recorded
  sleep 3
  check "gnome: the remote control's --stop ends it ($("$bin/quorvane" --stop 2>&1))" wait_until 15 saved
  file=$(ls "$work/out"/*.avi 2>/dev/null | head -n 1)
  check "gnome: the whole screen, ${QV_RIG_SIZE}" \
    test "$(ffprobe -v error -select_streams v:0 -show_entries stream=width,height -of csv=p=0 "$file" | tr , x)" = "$QV_RIG_SIZE"
  px=$(pixel "$file" 0 238 200)
  check "gnome: the red window at its place (got $px)" near "$px" 255 0 0
  check "gnome: sound beside the picture" \
    test -n "$(ffprobe -v error -select_streams a -show_entries stream=codec_name -of csv=p=0 "$file")"
  "$bin/quorvane" --start >"$work/remote.log" 2>&1
  sleep 3
  "$bin/quorvane" --stop >>"$work/remote.log" 2>&1
  file=$(ls -t "$work/out"/*.avi 2>/dev/null | head -n 1)
  n=$(ffprobe -v error -select_streams v:0 -show_entries stream=nb_frames -of csv=p=0 "$file")
  check "gnome: --start and --stop record again with the kept permission (${n:-no} frames, 50-150; $(tail -n 1 "$work/remote.log"))" \
    test "$(ls "$work/out" | wc -l)" = 2 -a "${n:-0}" -ge 50 -a "${n:-0}" -le 150
  kill "$window"
  kill -TERM "$pid"
  check "gnome: TERM ends the program" wait_until 10 bash -c "! kill -0 $pid 2>/dev/null"
  finish "tray on GNOME"
}
[ "$mode" = gnome ] && gnome_section

node=$(pipewire_bars qv_tray_bars "$work/gst.log") || { bad "no bar source ($(tail -n 2 "$work/gst.log"))"; finish "tray on Wayland"; }
write_options "StartHotkey=Ctrl+Shift+F9" "PipeWireNode=$node"

"$bin/quorvane" >"$work/out.log" 2>"$work/err" &
pid=$!
started=$SECONDS
[ "$mode" = tray ] && { tray_section; finish "tray icon on Wayland"; }
check "the control window shows in sway's tree" wait_until 10 control_window
check "hotkeys: said once to be unavailable here, none named as failed" \
  bash -c "grep -q 'hotkeys\] Hotkeys are not available in this session' '$work/err' && ! grep -q Error '$work/err'"
alt s   # Start
check "Start makes a file" wait_until 10 recorded
sleep 2; alt p; sleep 1; alt r; sleep 2   # Pause, Resume
grim "$art/control_window_wayland.png"
alt t   # Stop
check "Stop ends the recording and says so" wait_until 15 saved
file=$(ls "$work/out"/*.avi 2>/dev/null | head -n 1)
size=$(ffprobe -v error -select_streams v:0 -show_entries stream=width,height -of csv=p=0 "$file" | tr , x)
check "the node's size 700x420 (got ${size:-none})" test "$size" = 700x420
frames=$(ffprobe -v error -select_streams v:0 -show_entries stream=nb_frames -of csv=p=0 "$file")
check "the recorded time without the pause (${frames:-no} frames, 75-150 at 25 a second)" test "${frames:-0}" -ge 75 -a "${frames:-0}" -le 150
check "sound beside the picture" test -n "$(ffprobe -v error -select_streams a -show_entries stream=codec_name -of csv=p=0 "$file")"
px=$(pixel "$file" 20 550 100)
check "the red bar at 550,100 (got $px)" near "$px" 255 0 0
grep -q resumed "$XDG_STATE_HOME/Quorvane/"recording-*.log
check "paused and resumed by the buttons" test $? = 0
wtype -s 500 -k Return   # the box that told the end
alt o; sleep 1; grim "$art/options_window_wayland.png"
# The first Copy button (Start or stop) takes the focus at Alt+C, Space presses it.
alt c; wtype -s 300 -k space; sleep 0.5
copied=$(wl-paste -n 2>/dev/null)
check "the options window's Copy puts the command on the clipboard (got '$copied')" \
  test "$copied" = "$(cd "$bin" && pwd -P)/quorvane --toggle"
wtype -s 300 -k Escape
# The region picker: a fresh source (GStreamer's sink serves one consumer well), its first picture
# frozen full screen; Escape cancels without a recording.
use_source qv_tray_picker Region
alt s; sleep 2
grim "$art/region_picker_wayland.png"
px=$(ffmpeg -v error -i "$art/region_picker_wayland.png" -vf "format=rgb24,crop=1:1:550:100" -f rawvideo - |
  od -An -tu1 | xargs)
check "picker: the node's picture, dimmed, full screen (red bar at 550,100: $px)" near "$px" 128 0 0
wtype -s 300 -k Escape; sleep 1
check "picker: Escape records nothing" test "$(ls "$work/out" | wc -l)" = 1
# The copied command as a desktop runs a bound shortcut: a plain command, once to start, once to stop.
use_source qv_tray_toggle FullScreen
sh -c "$copied" >/dev/null
check "the copied command starts a recording" wait_until 15 files_count 2
sleep 3
sh -c "$copied" >/dev/null
check "the copied command run again stops it" wait_until 15 saved_count 2
frames=$(frames_of_newest)
check "about 3 s recorded between the two (${frames:-no} frames, 40-120)" test "${frames:-0}" -ge 40 -a "${frames:-0}" -le 120
alt x   # Exit
check "Exit ends the program" wait_until 10 bash -c "! kill -0 $pid 2>/dev/null"
# A desktop with a GlobalShortcuts portal, on a bus of its own (the rig's portal owns the name there).
{ read -r address; read -r portal_bus; } < <(dbus-daemon --session --fork --print-address=1 --print-pid=1)
(failures=0
  export DBUS_SESSION_BUS_ADDRESS=$address
  /usr/bin/python3 "$root/tests/support/global_shortcuts_portal.py" "$work/bound.json" &
  fake=$!
  # Asked without touching the name, which the bus would start the machine's own portal for.
  for _ in $(seq 100); do
    gdbus call --session -d org.freedesktop.DBus -o /org/freedesktop/DBus -m org.freedesktop.DBus.NameHasOwner \
      org.freedesktop.portal.Desktop 2>/dev/null | grep -q true && break
    sleep 0.1
  done
  use_source qv_tray_portal FullScreen
  : >"$work/err"
  "$bin/quorvane" >"$work/out.log" 2>"$work/err" &
  pid=$!
  press() { gdbus call --session -d org.freedesktop.portal.Desktop -o /org/freedesktop/portal/desktop \
    -m io.github.quorvane.TestPortal.Press "$1" >/dev/null; }
  check "the hotkeys are bound through the portal" wait_until 15 grep -q "global shortcuts: start=" "$work/err"
  check "all four asked for, Start with its keys (got $(cat "$work/bound.json" 2>/dev/null))" python3 -c "import json,sys
b = json.loads(open(sys.argv[1]).readline())['shortcuts']
sys.exit(sorted(b) != ['pause', 'resume', 'start', 'stop'] or b['start'].get('preferred_trigger') != 'CTRL+SHIFT+F9')" \
    "$work/bound.json"
  press start
  check "the portal's start shortcut starts a recording" wait_until 15 files_count 3
  sleep 3
  press stop
  check "its stop shortcut stops it" wait_until 15 saved_count 1
  frames=$(frames_of_newest)
  check "about 3 s recorded between the two (${frames:-no} frames, 40-120)" test "${frames:-0}" -ge 40 -a "${frames:-0}" -le 120
  kill "$pid"
  check "the program ends at a TERM signal" wait_until 10 bash -c "! kill -0 $pid 2>/dev/null"
  kill "$fake"
  finish "GlobalShortcuts portal") || failures=$((failures + 1))
kill "$portal_bus" 2>/dev/null
portal_bus=
# A session that starts its bar and the program together: the bar's host may come second.
if command -v waybar >/dev/null; then
  "$bin/quorvane" >"$work/out.log" 2>"$work/err" &
  pid=$!
  started=$SECONDS
  sleep 2
  echo '{ "modules-right": ["tray"] }' >"$work/bar.json"
  waybar --config "$work/bar.json" >"$work/waybar.log" 2>&1 &
  bar=$!
  check "a bar started 2 s after the program gets its icon" wait_until 10 item_registered
  no_window_past_the_wait
  click Exit
  check "Exit in the icon's menu ends the program" wait_until 10 bash -c "! kill -0 $pid 2>/dev/null"
else
  echo "SKIP: waybar is not installed (scripts/deps.sh installs it): no bar started after the program"
fi
finish "tray on Wayland"
