# What the shell tests of quorvane-rec share: counted checks, a recording in the background, and
# ffprobe/ffmpeg readings of the files. The caller's exit trap kills what pids lists.

BIN="${QV_BIN_DIR:?QV_BIN_DIR not set}/quorvane-rec"
pids=()

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
pass() { echo "ok: $*"; }

# End of the last packet of a stream (v or a), in milliseconds.
stream_end_ms() {
  ffprobe -v error -select_streams "$2:0" -show_entries packet=pts_time,duration_time -of csv=p=0 "$1" |
    awk -F, '{ e = $1 + $2; if (e > m) m = e } END { printf "%d\n", m * 1000 + 0.5 }'
}
frames() {
  ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames -of csv=p=0 "$1"
}
slots() {
  ffprobe -v error -select_streams v:0 -show_entries stream=nb_frames -of csv=p=0 "$1"
}
codecs() {
  ffprobe -v error -show_entries stream=codec_name -of csv=p=0 "$1" | tr '\n' ' '
}
# within NAME VALUE LOW HIGH
within() {
  if [ "$2" -ge "$3" ] && [ "$2" -le "$4" ]; then pass "$1: $2 in [$3, $4]"; else fail "$1: $2 not in [$3, $4]"; fi
}
# A finished file decodes without a single error message.
clean_decode() {
  local errors
  errors=$(ffmpeg -nostdin -v error -i "$2" -f null - 2>&1 | head -5)
  if [ -z "$errors" ]; then pass "$1: decodes cleanly"; else fail "$1: decode errors: $errors"; fi
}
# The video's length: its slots in the header, or where its last packet ends in a file without one
# (the reader does not hand out the empty chunks of held pictures).
video_ms() {
  local n
  n=$(slots "$1")
  if [ "${n:-0}" -gt 0 ] 2>/dev/null; then echo $((n * 40)); else stream_end_ms "$1" v; fi
}
# sync NAME FILE [MS]: audio end minus video end within MS (40) milliseconds.
sync_check() {
  local v a
  v=$(video_ms "$2")
  a=$(stream_end_ms "$2" a)
  within "$1: audio minus video (ms)" $((a - v)) -"${3:-40}" "${3:-40}"
}
# psnr FILE SOURCE SECONDS: PSNR (dB, whole number) of FILE's first picture against SOURCE's
# picture at SECONDS, the source scaled to FILE's size, both as RGB.
psnr() {
  local size
  size=$(ffprobe -v error -select_streams v:0 -show_entries stream=width,height -of csv=s=x:p=0 "$1")
  ffmpeg -nostdin -v info -i "$1" -ss "$3" -i "$2" -filter_complex \
    "[0:v]format=rgb24,trim=end_frame=1[a];[1:v]scale=$size,format=rgb24,trim=end_frame=1[b];[a][b]psnr" \
    -f null - 2>&1 | sed -n 's/.*PSNR.* average:\([0-9inf.]*\).*/\1/p' | awk '{ printf "%d\n", ($1 == "inf") ? 99 : $1 }'
}
now_ms() { date +%s%3N; }
# start_rec LOG ARGS...: starts a recording in the background; its pid in $rec_pid.
start_rec() {
  local log=$1
  shift
  "$BIN" "$@" </dev/null 2>"$log" &
  rec_pid=$!
  pids+=("$rec_pid")
}
# wait_rec TIMEOUT: waits for $rec_pid; its exit status in $rec_rc (124 after a time-out).
wait_rec() {
  local deadline=$((SECONDS + $1))
  while kill -0 "$rec_pid" 2>/dev/null && [ $SECONDS -lt $deadline ]; do sleep 0.1; done
  if kill -0 "$rec_pid" 2>/dev/null; then kill -9 "$rec_pid"; wait "$rec_pid" 2>/dev/null; rec_rc=124; return; fi
  wait "$rec_pid"
  rec_rc=$?
}
# wait_frames LOG COUNT: until the progress line reports COUNT coded pictures (the recording is under way).
wait_frames() {
  local deadline=$((SECONDS + 20))
  while [ $SECONDS -lt $deadline ]; do
    local n
    n=$(grep -o 'coded=[0-9]*' "$1" 2>/dev/null | tail -1 | tr -dc 0-9)
    [ -n "$n" ] && [ "$n" -ge "$2" ] && return 0
    sleep 0.05
  done
  fail "no progress to $2 frames in $1"; return 1
}
# finish_rec: the count of failed checks, and the exit status.
finish_rec() {
  echo "$failures failure(s)"
  exit $((failures > 0))
}
# The sounds of an input (ffmpeg's input options, then -i FILE), one a line: onset and length in
# seconds, each sound ending at 3 ms of silence (so a gap inside a sound makes two).
sound_bursts() {
  ffmpeg -nostdin -nostats -v info "$@" -map 0:a -af silencedetect=n=-40dB:d=0.003 -f null - 2>&1 |
    awk '{ for (i = 1; i < NF; i++) {
             if ($i == "silence_end:") on = $(i + 1)
             if ($i == "silence_start:" && on != "") { print on, $(i + 1) - on; on = "" } } }'
}
# When FILE's picture turns from black to bright, in seconds, one a line.
flash_onsets() {
  ffmpeg -nostdin -nostats -v info -i "$1" -map 0:v -vf blackdetect=d=0:pix_th=0.5 -f null - 2>&1 |
    sed -n 's/.*black_end:\([0-9.]*\).*/\1/p'
}
