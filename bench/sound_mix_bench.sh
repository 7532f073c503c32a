#!/bin/bash
# What mixing two sound sources costs: the same small, still recording (64x64, so the picture costs
# next to nothing) with the rig's 1 kHz source alone and mixed with its 440 Hz one, each run
# --runs times; prints CPU seconds (user + system) per recorded second for each and their ratio.
# With --minutes, one more recording of the mix that long, and where the two tones' sound ends
# against the picture (the drift of the sources against the wall clock shows there, and in each
# wave device's clock summary in the log).
#
#   scripts/desktop-rig.sh -- bench/sound_mix_bench.sh [--seconds 20] [--runs 3] [--minutes 0] [--bin DIR]
set -u
seconds=20 runs=3 minutes=0 bin="$(dirname "$0")/../build/bin"
while [ $# -gt 0 ]; do
  case "$1" in
    --seconds) seconds=$2; shift 2 ;;
    --runs) runs=$2; shift 2 ;;
    --minutes) minutes=$2; shift 2 ;;
    --bin) bin=$2; shift 2 ;;
    *) echo "usage: sound_mix_bench.sh [--seconds N] [--runs N] [--minutes N] [--bin DIR]" >&2; exit 2 ;;
  esac
done
work=$(mktemp -d /tmp/qv_mixbench_XXXXXX)
trap 'rm -rf "$work"' EXIT
# cpu_per_second ARGS...: CPU seconds per recorded second of one recording.
cpu_per_second() {
  /usr/bin/time -f "%U %S" -o "$work/time" "$bin/quorvane-rec" --region 0,0,64,64 --duration "$seconds" -y "$@" \
    "$work/out.avi" >/dev/null 2>&1 </dev/null
  awk -v s="$seconds" '{ printf "%.4f\n", ($1 + $2) / s }' "$work/time"
}
one=() two=()
for ((i = 0; i < runs; i++)); do
  one+=("$(cpu_per_second --audio-source qv_tone.monitor)")
  two+=("$(cpu_per_second --audio-source qv_tone.monitor --audio-source qv_voice.monitor --volume qv_voice.monitor=80)")
done
best() { printf '%s\n' "$@" | sort -n | head -1; }
b1=$(best "${one[@]}") b2=$(best "${two[@]}")
echo "one source:  ${one[*]} CPU s per recorded s (best $b1)"
echo "two, mixed:  ${two[*]} CPU s per recorded s (best $b2)"
awk -v a="$b1" -v b="$b2" 'BEGIN { printf "ratio mixed / one: %.2f\n", b / a }'
if [ "$minutes" -gt 0 ]; then
  "$bin/quorvane-rec" --region 0,0,64,64 --duration $((minutes * 60)) -y --audio-source qv_tone.monitor \
    --audio-source qv_voice.monitor "$work/long.avi" >/dev/null 2>"$work/long.log" </dev/null
  for s in v a; do
    ffprobe -v error -select_streams "$s:0" -show_entries packet=pts_time,duration_time -of csv=p=0 "$work/long.avi" |
      awk -F, -v s=$s '{ e = $1 + $2; if (e > m) m = e } END { printf "%s ends at %.3f s\n", s, m }'
  done
  grep -i "drift\|limiter" "$work/long.log" || true
fi
