#!/bin/bash
# Soak run: one long quorvane-rec recording at 1280x720 with sound and three pauses, on a desktop
# whose content moves everywhere 25 times a second (rec_bench --animate). Watches the recorder as it
# goes and judges the file at the end.
#
#   scripts/desktop-rig.sh -- bench/soak.sh [--minutes 60] [--every 300] [--pause 10] [--bin DIR] [--keep DIR]
#
# --minutes is recorded time; the three pauses (--pause seconds each, at a quarter, half and three
# quarters) come on top. Every --every seconds it prints the recorder's RSS, its CPU (seconds so far
# and share of one core over the last interval), and the frames, duplicates and drops it reports.
# At the end: the file's audio minus video length (ffprobe, where each stream's last packet ends)
# and the sound clock's own summary (its drift against the wall clock and the frames it inserted or
# dropped to follow it). The programs are copied first, so a rebuild during the run changes nothing.
set -u
minutes=60 every=300 pause=10 bin="$(dirname "$0")/../build/bin" keep=""
while [ $# -gt 0 ]; do
  case "$1" in
    --minutes) minutes=$2; shift 2 ;;
    --every) every=$2; shift 2 ;;
    --pause) pause=$2; shift 2 ;;
    --bin) bin=$2; shift 2 ;;
    --keep) keep=$2; shift 2 ;;
    *) echo "usage: soak.sh [--minutes N] [--every S] [--pause S] [--bin DIR] [--keep DIR]" >&2; exit 2 ;;
  esac
done
[ -n "${DISPLAY:-}" ] || { echo "soak: no DISPLAY; run it under scripts/desktop-rig.sh" >&2; exit 2; }
dir=${keep:-$(mktemp -d /tmp/qv-soak.XXXXXX)}
mkdir -p "$dir/bin"
cp "$bin/quorvane-rec" "$bin/rec_bench" "$dir/bin/" || exit 1
out="$dir/soak.avi" log="$dir/soak.log"
record_s=$((minutes * 60))
wall_s=$((record_s + 3 * pause))

"$dir/bin/rec_bench" --animate $((wall_s + 60)) &
animator=$!
sleep 2
QV_LOG_LEVEL=info "$dir/bin/quorvane-rec" --region 0,0,1280,720 "$out" </dev/null 2>"$log" &
rec=$!
trap 'kill -INT $rec 2>/dev/null; kill $animator 2>/dev/null' EXIT
ticks=$(getconf CLK_TCK)
start=$SECONDS

cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$rec/stat" 2>/dev/null; }
rss_mb() { awk '/^VmRSS/ { printf "%.1f", $2 / 1024 }' "/proc/$rec/status" 2>/dev/null; }
last_progress() { grep -a '^time=' "$log" | tail -1; }
report() {
  local now_ticks p frames dup drop
  now_ticks=$(cpu_ticks)
  [ -n "$now_ticks" ] || return
  p=$(last_progress)
  frames=$(sed -n 's/.*coded=\([0-9]*\).*/\1/p' <<<"$p")
  dup=$(sed -n 's/.*dup=\([0-9]*\).*/\1/p' <<<"$p")
  drop=$(sed -n 's/.*drop=\([0-9]*\).*/\1/p' <<<"$p")
  printf '%8d %9s %9.1f %8.1f %10s %8s %8s %s\n' $((SECONDS - start)) "$(rss_mb)" \
    "$(echo "$now_ticks / $ticks" | bc -l)" "$(echo "100 * ($now_ticks - $last_ticks) / $ticks / ($SECONDS - $last_at)" | bc -l)" \
    "${frames:-0}" "${dup:-0}" "${drop:-0}" "$(sed -n 's/^time=\([^ ]*\).*/\1/p' <<<"$p")"
  last_ticks=$now_ticks last_at=$SECONDS
}

echo "soak: ${minutes} min recorded at 1280x720 with sound, 3 pauses of ${pause} s; file $out"
printf '%8s %9s %9s %8s %10s %8s %8s %s\n' wall_s rss_MB cpu_s cpu_% frames dup drop recorded
last_ticks=0 last_at=$start
next_report=$every
pauses_at=($((record_s / 4)) $((record_s / 2)) $((record_s * 3 / 4)))
paused_s=0
while [ $((SECONDS - start - paused_s)) -lt $record_s ] && kill -0 $rec 2>/dev/null; do
  sleep 1
  if [ ${#pauses_at[@]} -gt 0 ] && [ $((SECONDS - start - paused_s)) -ge "${pauses_at[0]}" ]; then
    kill -USR1 $rec; sleep "$pause"; kill -USR2 $rec
    paused_s=$((paused_s + pause))
    pauses_at=("${pauses_at[@]:1}")
  fi
  if [ $((SECONDS - start)) -ge $next_report ]; then report; next_report=$((next_report + every)); fi
done
report
kill -INT $rec 2>/dev/null
wait $rec
rc=$?
trap - EXIT
kill $animator 2>/dev/null
wait $animator 2>/dev/null

stream_end() {
  ffprobe -v error -select_streams "$2:0" -show_entries packet=pts_time,duration_time -of csv=p=0 "$1" |
    awk -F, '{ e = $1 + $2; if (e > m) m = e } END { printf "%.3f\n", m }'
}
v=$(stream_end "$out" v) a=$(stream_end "$out" a)
echo "exit status $rc; $(grep -a '^Finished:' "$log" || grep -a 'quorvane-rec:' "$log" | tail -3)"
echo "video ends at $v s, audio at $a s; audio minus video $(echo "($a - $v) * 1000" | bc -l | xargs printf '%.0f') ms"
echo "sound clock: $(grep -a 'audio clock' "$log" | sed 's/.*\(audio clock\)/\1/' | tail -1)"
[ -n "$keep" ] || rm -rf "$dir"
