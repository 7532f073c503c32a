#!/usr/bin/env bash
# quorvane-rec on Wayland sessions, in the Wayland rig on both of its desktops: through the ScreenCast
# portal (the whole output with sound, windows of known colour at their places; on sway the output's
# mode changed mid-recording), and on sway from a
# PipeWire video node given by --node (the whole picture, and a region cut out of it), judged by
# ffprobe and decoded pixels. The node is a live SMPTE colour-bar source from GStreamer's PipeWire
# sink, so the colour at each place is known. On GNOME also: a region shared with the permission kept
# from the recording before (nothing asks: no one is there to answer the desktop's dialog), the
# share ended by the desktop mid-recording (the portal backend closes its session), and, once the
# kept permission is forgotten, the desktop's dialog cancelled.
set -u
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=${QV_SOURCE_DIR:-$(cd "$here/../.." && pwd)}
bin=${QV_BIN_DIR:-$root/build/bin}

# shellcheck source=tests/support/shell_checks.sh
. "$root/tests/support/shell_checks.sh"
packages=(pipewire-pulse qt6-wayland foot gstreamer1.0-pipewire gstreamer1.0-tools)
if [ "${QV_WAYLAND_RIG:-}" != 1 ]; then
  (in_wayland_rig "${BASH_SOURCE[0]}" -- "${packages[@]}" sway xdg-desktop-portal-wlr)
  sway=$?
  (in_wayland_rig --desktop gnome "${BASH_SOURCE[0]}" -- "${packages[@]}" mutter xdg-desktop-portal-gnome)
  gnome=$?
  [ $sway = 0 ] && [ $gnome = 0 ]
  exit
fi

work=$(mktemp -d)
windows=()
trap 'stop_pipewire_bars "$work"; kill "${windows[@]}" 2>/dev/null; rm -rf "$work"' EXIT
export XDG_STATE_HOME=$work/state
desk=$QV_RIG_DESKTOP

probe() { # probe FILE TYPE FIELD
  ffprobe -v error -count_frames -select_streams "${2:0:1}:0" -show_entries "stream=$3" -of csv=p=0 "$1"
}
# "R G B" of the pixel at X,Y of frame N.
pixel() {
  ffmpeg -v error -i "$1" -vf "select=eq(n\\,$2),format=rgb24,crop=1:1:$3:$4" -frames:v 1 -f rawvideo -pix_fmt rgb24 - |
    od -An -tu1 | xargs
}
# "START END": audio minus video at the streams' first and last packets' times, in milliseconds.
av_ms() {
  local v a
  span() { ffprobe -v error -select_streams "$2:0" -show_entries packet=pts_time,duration_time -of csv=p=0 "$1" |
    awk -F, 'NR == 1 { s = $1 } $1 != "N/A" { e = $1 + $2 } END { if (NR) print s, e }'; }
  v=$(span "$1" v); a=$(span "$1" a)
  [ -n "$v" ] && [ -n "$a" ] || return 1
  awk -v v="$v" -v a="$a" 'BEGIN { split(v, x, " "); split(a, y, " ");
    printf "%.0f %.0f", (y[1] - x[1]) * 1000, (y[2] - x[2]) * 1000 }'
}
# "R G B" at X,Y of the last picture coded (a slot in which nothing changed codes none).
last_pixel() { local n; n=$(probe "$1" v nb_read_frames); pixel "$1" $((${n:-1} - 1)) "$2" "$3"; }
slots_ok() { local n; n=$(probe "$1" v nb_frames); [ "${n:-0}" -ge 248 ] && [ "${n:-0}" -le 252 ]; }
sync_ok() { # sync_ok FILE: sound and picture start and end together, within 60 ms
  awk -v d="${1:-x}" 'BEGIN { split(d, e, " "); exit !(d != "x" && e[1] <= 60 && e[1] >= -60 && e[2] <= 60 && e[2] >= -60) }'
}
not_near() { ! near "$@"; }
under_way() { grep -q 'coded=[1-9]' "$1"; }  # under_way LOG: a recording's first picture is coded

# --- through the portal: the whole output, with sound, two windows of known colour ------------------
# sway tiles them side by side over the output; mutter places one at the top left.
if [ "$desk" = sway ]; then
  # One after the other: the second one mapped goes to the right.
  shown() { [ "$(swaymsg -t get_tree | grep -c '"app_id": "foot"')" = "$1" ]; }
  windows+=("$(colour_window qvred ff0000)")
  wait_until 10 shown 1
  windows+=("$(colour_window qvblue 0000ff)")
  wait_until 10 shown 2
  inside=(320 360) outside=(960 360)
  token=()
else
  windows+=("$(colour_window qvred ff0000 400x300)")
  inside=(238 200) outside=(900 500)
  sleep 1
  token=(--restore-token "$(seed_screen_permission)")
fi
"$bin/quorvane-rec" --backend pipewire --fullscreen "${token[@]}" --duration 10 "$work/portal.avi" >"$work/portal.log" 2>&1
rc=$?
[ "$desk" = sway ] && check "$desk portal: asks to share the screen until revoked (persist_mode 2 reached the portal)" \
  grep -q "option persist_mode:2" "$QV_RIG_DIR/log/portal-wlr.log"
check "$desk portal: quorvane-rec exit code 0 (got $rc; $(tail -n 1 "$work/portal.log"))" test $rc = 0
check "$desk portal: 250 +- 2 slots" slots_ok "$work/portal.avi"
check "$desk portal: the output's size ${QV_RIG_SIZE}" \
  test "$(probe "$work/portal.avi" v width,height | tr , x)" = "$QV_RIG_SIZE"
av=$(av_ms "$work/portal.avi")
check "$desk portal: sound and picture start and end together (A-V ${av:-unknown} ms, within 60)" sync_ok "$av"
px=$(last_pixel "$work/portal.avi" "${inside[@]}")
check "$desk portal: the red window at ${inside[*]} (got $px)" near "$px" 255 0 0
px=$(last_pixel "$work/portal.avi" "${outside[@]}")
if [ "$desk" = sway ]; then
  check "$desk portal: the blue window at ${outside[*]} (got $px)" near "$px" 0 0 255
else
  check "$desk portal: the desktop, not the window, at ${outside[*]} (got $px)" not_near "$px" 255 0 0
fi

if [ "$desk" = sway ]; then
  # --- the output's mode changed mid-recording: the frame keeps its size, black where the screen
  # no longer reaches, said once ---------------------------------------------------------------------
  "$bin/quorvane-rec" --backend pipewire --no-audio --duration 4 "$work/resized.avi" >"$work/resized.log" 2>&1 &
  rec=$!
  # A cast of a still output may wait for a change before its first picture (xdg-desktop-portal-wlr
  # 0.7 here, when it is not the backend's first): a third window brings one.
  sleep 1
  windows+=("$(colour_window qvgreen 00ff00)")
  wait_until 20 under_way "$work/resized.log"
  sleep 1
  swaymsg output "$QV_RIG_OUTPUT" mode 1024x600 >/dev/null
  wait $rec
  rc=$?
  check "$desk resized: exit 0 (got $rc; $(tail -n 1 "$work/resized.log")), the frame still ${QV_RIG_SIZE}" \
    test $rc = 0 -a "$(probe "$work/resized.avi" v width,height | tr , x)" = "$QV_RIG_SIZE"
  check "$desk resized: said once" test "$(grep -c 'The screen is now 1024x600: the recording goes on at' "$work/resized.log")" = 1
  px=$(last_pixel "$work/resized.avi" 1200 650)
  check "$desk resized: black beyond the smaller screen (got $px)" near "$px" 0 0 0
fi

if [ "$desk" = gnome ]; then
  # --- the permission kept: a region inside the red window, nobody to answer a dialog --------------
  check "gnome: the portal's new permission is kept for GNOME" test -s "$XDG_STATE_HOME/Quorvane/screen-permission-gnome"
  timeout 40 "$bin/quorvane-rec" --backend pipewire --region 100,120,200,150 --no-audio --duration 2 "$work/region.avi" \
    >"$work/region.log" 2>&1
  rc=$?
  check "gnome region: recorded without asking (exit $rc; $(tail -n 1 "$work/region.log"))" test $rc = 0
  check "gnome region: the region's size 200x150" test "$(probe "$work/region.avi" v width,height | tr , x)" = 200x150
  px=$(last_pixel "$work/region.avi" 100 75)
  check "gnome region: inside the red window (got $px)" near "$px" 255 0 0

  # --- the desktop ends the share: the portal backend closes the session -------------------------
  "$bin/quorvane-rec" --backend pipewire --no-audio "$work/ended.avi" >"$work/ended.log" 2>&1 &
  rec=$!
  session() {
    gdbus introspect --session --recurse --dest org.freedesktop.impl.portal.desktop.gnome \
      --object-path /org/freedesktop/portal/desktop/session | awk '/node .*quorvane/ { print $2 }' | tail -n 1
  }
  wait_until 20 under_way "$work/ended.log"
  gdbus call --session --dest org.freedesktop.impl.portal.desktop.gnome --object-path "$(session)" \
    --method org.freedesktop.impl.portal.Session.Close >/dev/null
  wait_until 10 bash -c "! kill -0 $rec 2>/dev/null"
  kill -9 $rec 2>/dev/null
  wait $rec
  rc=$?
  check "gnome ended: quorvane-rec exit code 1 (got $rc)" test $rc = 1
  check "gnome ended: says the desktop stopped sharing ($(tail -n 1 "$work/ended.log"))" \
    grep -q "The desktop stopped sharing the screen. The file so far is $work/ended.avi" "$work/ended.log"
  n=$(probe "$work/ended.avi" v nb_read_frames)
  check "gnome ended: the file so far is readable (${n:-no} frames)" test "${n:-0}" -gt 0
  "$bin/quorvane-rec" --forget-screen-permission >"$work/forget.log" 2>&1
  check "gnome: --forget-screen-permission drops the kept one ($(cat "$work/forget.log"))" \
    test ! -e "$XDG_STATE_HOME/Quorvane/screen-permission-gnome"

  # --- asked again, the user says no: Cancel clicked in the desktop's dialog (1280x720: its Cancel
  # button at 430,232; the pointer first pushed to the top left corner) ----------------------------
  "$bin/quorvane-rec" --backend pipewire --no-audio --duration 2 "$work/refused.avi" >"$work/refused.log" 2>&1 &
  rec=$!
  asking() {
    gdbus introspect --session --recurse --dest org.freedesktop.impl.portal.desktop.gnome \
      --object-path /org/freedesktop/portal/desktop/request 2>/dev/null | grep -q 'node .*quorvane'
  }
  wait_until 20 asking
  sleep 3   # the dialog shows
  /usr/bin/python3 "$root/tests/support/gnome_keys.py" click@-3000,-3000 click@430,232
  wait_until 15 bash -c "! kill -0 $rec 2>/dev/null"
  kill -9 $rec 2>/dev/null
  wait $rec
  rc=$?
  check "gnome refused: exit 1 (got $rc), the one message ($(tail -n 1 "$work/refused.log"))" \
    test $rc = 1 -a "$(grep -c '^quorvane-rec: The screen was not shared: the request was refused or cancelled.' "$work/refused.log")" = 1
  check "gnome refused: no file left" test ! -e "$work/refused.avi"
  finish "pipewire capture test (gnome)"
fi

# --- a PipeWire node: SMPTE bars, 7 bars of 100 pixels across the top two thirds --------------------
# A fresh source for each recording: GStreamer's sink does not always serve a second consumer.
bars() { pipewire_bars "$1" "$work/$1.gst.log"; }

if ! node=$(bars qv_bars_full); then
  bad "the GStreamer bar source did not appear in PipeWire ($(tail -n 2 "$work/qv_bars_full.gst.log"))"
else
  "$bin/quorvane-rec" --node "$node" --fullscreen --duration 10 "$work/node.avi" >"$work/node.log" 2>&1
  rc=$?
  check "node: quorvane-rec exit code 0 (got $rc; $(tail -n 1 "$work/node.log"))" test $rc = 0
  check "node: 250 +- 2 slots" slots_ok "$work/node.avi"
  check "node: the source's size 700x420" test "$(probe "$work/node.avi" v width,height | tr , x)" = 700x420
  px=$(pixel "$work/node.avi" 125 550 100)
  check "node: red bar at 550,100 (got $px)" near "$px" 255 0 0
  px=$(pixel "$work/node.avi" 125 150 100)
  check "node: yellow bar at 150,100 (got $px)" near "$px" 255 255 0
  packets=$(probe "$work/node.avi" a nb_read_frames)
  check "node: 10 s of sound beside the picture (${packets:-no} ADPCM blocks, 420-450)" \
    test "${packets:-0}" -ge 420 -a "${packets:-0}" -le 450
  vol=$(ffmpeg -nostdin -i "$work/node.avi" -map 0:a -af volumedetect -f null - 2>&1 | sed -n 's/.*mean_volume: \(-\?[0-9.]*\) dB.*/\1/p')
  check "node: the tone in the sound (mean ${vol:-none} dB > -30)" awk -v v="${vol:--999}" 'BEGIN { exit !(v > -30) }'
  av=$(av_ms "$work/node.avi")
  check "node: sound and picture start and end together (A-V ${av:-unknown} ms, within 60)" \
    awk -v d="${av:-x}" 'BEGIN { split(d, e, " "); exit !(d != "x" && e[1] <= 60 && e[1] >= -60 && e[2] <= 60 && e[2] >= -60) }'
fi

if node=$(bars qv_bars_region); then
  "$bin/quorvane-rec" --node "$node" --no-audio --region 300,50,100,80 --duration 2 "$work/region.avi" \
    >"$work/region.log" 2>&1
  check "region: recorded ($(tail -n 1 "$work/region.log"))" test -s "$work/region.avi"
  check "region: the region's size 100x80" test "$(probe "$work/region.avi" v width,height | tr , x)" = 100x80
  px=$(pixel "$work/region.avi" 10 50 40)
  check "region: all green bar (got $px)" near "$px" 0 255 0
fi

finish "pipewire capture test"
