#!/usr/bin/env bash
# The tray program on a Wayland desktop without a tray host (the Wayland rig): it starts, shows its
# control window (found through sway's window tree) and records through the window's buttons, worked
# by Alt+letter key presses from a virtual keyboard; its hotkeys are said to be unavailable there.
# The picture is a PipeWire node named in the settings (the rig's portal cannot stream), a live SMPTE
# bar source; the file is judged by ffprobe and its pixels. The control window during the recording
# the options window and the region picker are kept in build/test-artifacts/.
set -u
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=${QV_SOURCE_DIR:-$(cd "$here/../.." && pwd)}
bin=${QV_BIN_DIR:-$root/build/bin}

# shellcheck source=tests/support/shell_checks.sh
. "$root/tests/support/shell_checks.sh"
in_wayland_rig "${BASH_SOURCE[0]}" "$@" -- sway pipewire-pulse qt6-wayland gstreamer1.0-pipewire gstreamer1.0-tools wtype grim

art=$(cd "$bin/.." && pwd)/test-artifacts
mkdir -p "$art"
work=$(mktemp -d)
pid=
trap '[ -n "$pid" ] && kill "$pid" 2>/dev/null; stop_pipewire_bars "$work"; rm -rf "$work"' EXIT
export XDG_CONFIG_HOME=$work/config XDG_STATE_HOME=$work/state
mkdir -p "$XDG_CONFIG_HOME/Quorvane" "$work/out"

wait_until() { # wait_until SECONDS COMMAND...
  local end=$((SECONDS + $1)); shift
  until "$@"; do [ $SECONDS -ge $end ] && return 1; sleep 0.2; done
}
# Alt+KEY to the focused window. The virtual keyboard is the seat's only one: the client learns of
# it only when it appears, so the keys wait a moment for that.
alt() { wtype -s 500 -M alt -s 100 "$1" -s 100 -m alt; }
control_window() { # the control window of process $pid in sway's tree
  swaymsg -t get_tree -r | python3 -c "import json,sys
def walk(n):
  yield n
  for c in n.get('nodes', []) + n.get('floating_nodes', []): yield from walk(c)
sys.exit(not any(n.get('pid') == $pid and n.get('name') == 'Quorvane' for n in walk(json.load(sys.stdin))))"
}
saved() { grep -q "Saved .*\.avi (" "$work/err"; }
recorded() { ls "$work/out"/*.avi >/dev/null 2>&1; }
pixel() { # pixel FILE N X Y: "R G B" of that pixel of frame N
  ffmpeg -v error -i "$1" -vf "select=eq(n\\,$2),format=rgb24,crop=1:1:$3:$4" -frames:v 1 -f rawvideo - | od -An -tu1 | xargs
}

node=$(pipewire_bars qv_tray_bars "$work/gst.log") || { bad "no bar source ($(tail -n 2 "$work/gst.log"))"; finish "tray on Wayland"; }
cat >"$XDG_CONFIG_HOME/Quorvane/Options.ini" <<INI
[Recorder]
BoolRecordAudio=1
BoolPlayback=0
RegionToCapture=FullScreen
ShowTip=0
StartHotkey=Ctrl+Shift+F9
PipeWireNode=$node
[OutputType]
VideoBitrate=7
[Save]
BoolAutoSave=1
OutputFolder=$work/out
INI

"$bin/quorvane" >"$work/out.log" 2>"$work/err" &
pid=$!
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
alt o; sleep 1; grim "$art/options_window_wayland.png"; wtype -s 500 -k Escape
# The region picker: a fresh source (GStreamer's sink serves one consumer well), its first picture
# frozen full screen; Escape cancels without a recording.
node=$(pipewire_bars qv_tray_picker "$work/gst2.log")
sed -i "s/^RegionToCapture=.*/RegionToCapture=Region/; s/^PipeWireNode=.*/PipeWireNode=$node/" \
  "$XDG_CONFIG_HOME/Quorvane/Options.ini"
alt s; sleep 2
grim "$art/region_picker_wayland.png"
px=$(ffmpeg -v error -i "$art/region_picker_wayland.png" -vf "format=rgb24,crop=1:1:550:100" -f rawvideo - |
  od -An -tu1 | xargs)
check "picker: the node's picture, dimmed, full screen (red bar at 550,100: $px)" near "$px" 128 0 0
wtype -s 300 -k Escape; sleep 1
check "picker: Escape records nothing" test "$(ls "$work/out" | wc -l)" = 1
alt x   # Exit
check "Exit ends the program" wait_until 10 bash -c "! kill -0 $pid 2>/dev/null"
finish "tray on Wayland"
