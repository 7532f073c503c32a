#!/usr/bin/env bash
# quorvane-rec on a Wayland session, in the Wayland rig: through the ScreenCast portal (the whole
# output), and from a PipeWire video node given by --node (the whole picture, and a region cut out of
# it), judged by ffprobe and decoded pixels. The node is a live SMPTE colour-bar source from
# GStreamer's PipeWire sink, so the colour at each place is known.
set -u
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=${QV_SOURCE_DIR:-$(cd "$here/../.." && pwd)}
bin=${QV_BIN_DIR:-$root/build/bin}

# shellcheck source=tests/support/shell_checks.sh
. "$root/tests/support/shell_checks.sh"
in_wayland_rig "${BASH_SOURCE[0]}" "$@" -- sway pipewire-pulse xdg-desktop-portal-wlr gstreamer1.0-pipewire gstreamer1.0-tools

work=$(mktemp -d)

trap 'stop_pipewire_bars "$work"; rm -rf "$work"' EXIT

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
frames_ok() { local n; n=$(probe "$1" v nb_read_frames); [ "${n:-0}" -ge 248 ] && [ "${n:-0}" -le 252 ]; }

# --- through the portal: the whole output -----------------------------------------------------------
"$bin/quorvane-rec" --backend pipewire --fullscreen --duration 10 "$work/portal.avi" >"$work/portal.log" 2>&1
rc=$?
check "portal: asks to share the screen until revoked (persist_mode 2 reached the portal)" \
  grep -q "option persist_mode:2" "$QV_RIG_DIR/log/portal-wlr.log"
if [ $rc != 0 ] && grep -q "unable to receive a valid format" "$QV_RIG_DIR/log/portal-wlr.log"; then
  # Debian 12's xdg-desktop-portal-wlr streams only when the compositor can hand out GPU buffers.
  echo "SKIP - portal: xdg-desktop-portal-wlr found no usable buffer format on this GPU-less sway"
else
  check "portal: quorvane-rec exit code 0 (got $rc)" test $rc = 0
  check "portal: 250 +- 2 frames" frames_ok "$work/portal.avi"
  check "portal: the output's size ${QV_RIG_SIZE}" \
    test "$(probe "$work/portal.avi" v width,height | tr , x)" = "$QV_RIG_SIZE"
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
  check "node: 250 +- 2 frames" frames_ok "$work/node.avi"
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
