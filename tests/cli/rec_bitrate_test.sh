#!/bin/bash
# The chosen video bit rate is the one written where the codec can reach it, and the recording says
# so where it cannot. A clock and an editor being typed into (desktop content) at 1280x720 and
# 360 kbit/s for 30 s with sound: ffprobe's video rate within a fifth of 360 and no word of overrun.
# Moving noise at 1280x720 and 360 kbit/s, which no quantiser squeezes that far: the notice, once.
set -u
BIN="${QV_BIN_DIR:?QV_BIN_DIR not set}/quorvane-rec"
WORK=$(mktemp -d /tmp/qv_rate_XXXXXX)
pids=()
trap 'for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done; rm -rf "$WORK"' EXIT
failures=0
check() {  # check WHAT CONDITION...
  local what=$1
  shift
  if "$@"; then echo "ok: $what"; else echo "FAIL: $what"; failures=$((failures + 1)); fi
}
# The video stream's rate in kbit/s from its packets.
video_kbps() {
  ffprobe -v error -select_streams v:0 -show_entries packet=size,pts_time -of csv=p=0 "$1" |
    awk -F, '{ bytes += $2; if ($1 > end) end = $1 } END { printf "%d\n", bytes * 8 / (end + 0.04) / 1000 }'
}
overrun_notices() { grep -c "more than the chosen" "$1"; }

# --- desktop content ---------------------------------------------------------------------------------
xclock -update 1 -geometry 300x300+20+20 &
pids+=($!)
xedit -geometry 900x600+340+60 &
pids+=($!)
editor=$(timeout 10 xdotool search --sync --onlyvisible --name '^xedit' | head -1)
(while :; do xdotool type --window "$editor" --delay 120 "The quick brown fox jumps over the lazy dog 0123456789 "
  xdotool key --window "$editor" Return; done) 2>/dev/null &
pids+=($!)
F="$WORK/desktop.avi"
"$BIN" --region 0,0,1280,720 --vb 360 --duration 30 "$F" </dev/null 2>"$WORK/desktop.log"
rate=$(video_kbps "$F")
echo "    desktop content at 360 kbit/s: video $rate kbit/s"
check "desktop content: video rate $rate kbit/s within a fifth of 360" test "$rate" -ge 288 -a "$rate" -le 432
check "desktop content: no word of overrun" test "$(overrun_notices "$WORK/desktop.log")" = 0
for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
pids=()

# --- moving noise --------------------------------------------------------------------------------------
ffplay -v error -an -noborder -left 0 -top 0 -window_title qv_noise -f lavfi \
  "testsrc2=s=1280x720:r=25,noise=alls=60:allf=t" >/dev/null 2>&1 &
pids+=($!)
timeout 10 xdotool search --sync --onlyvisible --name qv_noise >/dev/null
F="$WORK/noise.avi"
"$BIN" --region 0,0,1280,720 --no-audio --vb 360 --duration 16 "$F" </dev/null 2>"$WORK/noise.log"
grep "more than the chosen" "$WORK/noise.log"
echo "    moving noise at 360 kbit/s: video $(video_kbps "$F") kbit/s"
check "moving noise: the overrun said once" test "$(overrun_notices "$WORK/noise.log")" = 1
check "moving noise: in words" grep -q "quorvane-rec: The video needs about .*, more than the chosen 360 kbit/s; the file will be larger than planned." "$WORK/noise.log"

echo "$failures failure(s)"
[ "$failures" = 0 ]
