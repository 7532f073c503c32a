#!/bin/bash
# AVIs past 1 GB from quorvane-rec itself: one killed (kill -9) once past the size is repaired by
# `quorvane-convert -repair` to its full length (the header's duration and where the packets end
# within 1 s of each other, audio minus video within 60 ms); one stopped by SIGINT past the size is
# judged complete and left byte for byte as it was. Moving noise at 1280x720 and --vb 100000 fill
# the file at about 10 MB/s, so each recording takes a minute or two: too long for the default run,
# whose convert_test does the same on files made by the ffmpeg command line.
#
#   scripts/desktop-rig.sh -- bench/avi_repair_big.sh [--mb 1100] [--bin DIR]
set -u
mb=1100 bin="$(dirname "$0")/../build/bin"
while [ $# -gt 0 ]; do
  case "$1" in
    --mb) mb=$2; shift 2 ;;
    --bin) bin=$2; shift 2 ;;
    *) echo "usage: avi_repair_big.sh [--mb SIZE] [--bin DIR]" >&2; exit 2 ;;
  esac
done
[ -n "${DISPLAY:-}" ] || { echo "avi_repair_big: no DISPLAY; run it under scripts/desktop-rig.sh" >&2; exit 2; }
export QV_BIN_DIR=$(cd "$bin" && pwd)
. "$(dirname "$0")/../tests/support/rec_checks.sh"
CONVERT=$QV_BIN_DIR/quorvane-convert
WORK=$(mktemp -d /tmp/qv_bigavi_XXXXXX)
trap 'for p in "${pids[@]}"; do kill -9 "$p" 2>/dev/null; done; rm -rf "$WORK"' EXIT

ffplay -v error -an -noborder -left 0 -top 0 -window_title qv_noise -f lavfi \
  "testsrc2=s=1280x720:r=25,noise=alls=60:allf=t" >/dev/null 2>&1 &
pids+=($!)
timeout 10 xdotool search --sync --onlyvisible --name qv_noise >/dev/null

header_ms() { ffprobe -v error -show_entries format=duration -of csv=p=0 "$1" | awk '{ printf "%d\n", $1 * 1000 + 0.5 }'; }
# big NAME SIGNAL: records until the file passes the size, then sends the signal.
big() {
  local F="$WORK/$1.avi" t0
  start_rec "$WORK/$1.log" --region 0,0,1280,720 --vb 100000 "$F"
  t0=$SECONDS
  while [ "$(stat -c %s "$F" 2>/dev/null || echo 0)" -lt $((mb * 1000000)) ] && kill -0 "$rec_pid" 2>/dev/null; do
    sleep 0.2
  done
  kill -"$2" "$rec_pid"
  wait_rec 60
  echo "    $1: $(stat -c %s "$F") bytes after $((SECONDS - t0)) s, then SIG$2"
}
report() {  # report FILE WHEN
  local h v a
  h=$(header_ms "$1") v=$(stream_end_ms "$1" v) a=$(stream_end_ms "$1" a)
  echo "    $2: header ${h} ms, video ends at ${v} ms, sound at ${a} ms"
}

big killed 9
F="$WORK/killed.avi"
report "$F" "killed, before the repair"
if "$CONVERT" -repair "$F" >"$WORK/repair.log" 2>&1; then
  grep -v "not enough frames" "$WORK/repair.log" | sed 's/^/    /'
  report "$F" "killed, repaired"
  h=$(header_ms "$F") v=$(stream_end_ms "$F" v) a=$(stream_end_ms "$F" a)
  within "killed: header minus decoded length (ms)" $((h - v)) -1000 1000
  within "killed: audio minus video (ms)" $((a - v)) -60 60
  clean_decode "killed, repaired" "$F"
else
  fail "killed: the repair failed: $(tail -2 "$WORK/repair.log")"
fi
rm -f "$F"

big clean INT
F="$WORK/clean.avi"
report "$F" "stopped by SIGINT"
sum=$(md5sum <"$F")
if "$CONVERT" -repair "$F" >"$WORK/repair.log" 2>&1 && grep -q "is complete; nothing to repair" "$WORK/repair.log"; then
  pass "clean: judged complete"
else
  fail "clean: $(tail -1 "$WORK/repair.log")"
fi
[ "$(md5sum <"$F")" = "$sum" ] && pass "clean: left as it was" || fail "clean: the file changed"
finish_rec
