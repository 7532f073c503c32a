#!/bin/bash
# quorvane-rec's command line and the failures it must explain before recording anything: bad
# arguments (exit 2), no display, no sound server, no such window, an unwritable output (exit 1).
# Runs on the rig's desktop; nothing here records more than a moment.
set -u
BIN="${QV_BIN_DIR:?QV_BIN_DIR not set}/quorvane-rec"
WORK=$(mktemp -d /tmp/qv_rec_args_XXXXXX)
trap 'rm -rf "$WORK"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
pass() { echo "ok: $*"; }

# expect NAME STATUS PATTERN -- command...: exit status and a text on stdout/stderr
expect() {
  local name=$1 status=$2 pattern=$3
  shift 4
  timeout 60 "$@" >"$WORK/out.txt" 2>&1 </dev/null
  local rc=$?
  if [ "$rc" != "$status" ]; then
    fail "$name: exit $rc, wanted $status"; sed 's/^/    /' "$WORK/out.txt" | tail -5; return 1
  fi
  if ! grep -qF -- "$pattern" "$WORK/out.txt"; then
    fail "$name: no \"$pattern\" in the output"; sed 's/^/    /' "$WORK/out.txt" | tail -5; return 1
  fi
  pass "$name"
}

OUT="$WORK/out.avi"
# name | status | expected text | arguments
while IFS='|' read -r name status pattern args; do
  [ -z "$name" ] && continue
  eval "set -- $args"
  expect "$name" "$status" "$pattern" -- "$BIN" "$@"
  [ -e "$OUT" ] && { fail "$name: left $OUT behind"; rm -f "$OUT"; }
done <<EOF
help|0|usage: quorvane-rec [--fullscreen|--help
no output|2|no output file given|--no-audio
two outputs|2|more than one output file|a.avi b.avi
unknown option|2|unknown option "--bogus"|--bogus "$OUT"
region too few numbers|2|bad region "1,2,3"|--region 1,2,3 "$OUT"
region zero width|2|bad region "0,0,0,10"|--region 0,0,0,10 "$OUT"
region negative|2|bad region "-1,0,10,10"|--region -1,0,10,10 "$OUT"
region trailing text|2|bad region "0,0,10,10x"|--region 0,0,10,10x "$OUT"
two areas|2|at most one of|--fullscreen --region 0,0,10,10 "$OUT"
monitor with a region|2|--monitor chooses the screen of a full-screen recording only|--monitor all --region 0,0,10,10 "$OUT"
monitor missing value|2|--monitor needs pointer, all|"$OUT" --monitor
window id text|2|bad window id "abc"|--window abc "$OUT"
window id zero|2|bad window id "0"|--window 0 "$OUT"
size with comma|2|bad frame size "640,480"|--size 640,480 "$OUT"
size missing value|2|--size needs WxH|"$OUT" --size
video bit rate zero|2|bad bit rate "0" for --vb|--vb 0 "$OUT"
audio bit rate text|2|bad bit rate "fast" for --ab|--ab fast "$OUT"
sample rate|2|bad sample rate "48000"|--ar 48000 "$OUT"
duration zero|2|bad duration "0"|--duration 0 "$OUT"
duration text|2|bad duration "10s"|--duration 10s "$OUT"
no-audio with value|2|--no-audio takes no value|--no-audio=1 "$OUT"
countdown text|2|bad countdown "3s"|--countdown 3s "$OUT"
sound source without sound|2|give --no-audio or --audio-source, not both|--no-audio --audio-source desktop "$OUT"
no such sound source|1|The sound source "qv nothing" could not be opened (ALSA: |--audio-source "qv nothing" --duration 1 "$OUT"
no such mixed source|1|The sound source "qv nothing" could not be opened (ALSA: |--audio-source desktop --audio-source "qv nothing" --duration 1 "$OUT"
volume of no source|2|--volume desktop=80 names no --audio-source|--audio-source qv_voice.monitor --volume desktop=80 "$OUT"
volume too loud|2|bad volume "desktop=201"|--audio-source desktop --volume desktop=201 "$OUT"
region off screen|1|outside the|--region 5000,0,10,10 "$OUT"
no such title|1|no top-level window is titled "qv no such window"|--title "qv no such window" "$OUT"
no such window id|1|no window 0x|--window 0x7ffffff1 "$OUT"
backend unknown|2|--backend needs x11 or pipewire|--backend wayland "$OUT"
format unknown|2|--format needs avi, mkv or mp4|--format mov "$OUT"
frame rate not offered|2|--fps needs one of 10, 15, 20, 25, 30, 50, 60|--fps 24 "$OUT"
proportions without a size|2|--keep-proportions needs --size|--keep-proportions "$OUT"
extension of no format|1|the file name's extension ".mov" names no format|"$WORK/out.mov"
node text|2|--node needs a PipeWire node id|--node abc "$OUT"
node with x11|2|--node needs the pipewire backend|--node 5 --backend x11 "$OUT"
window through the portal|1|on Wayland a window is picked in the desktop's dialog: give --window pick|--backend pipewire --window 0x10 "$OUT"
window picked on X11|1|--window pick is for a Wayland desktop|--backend x11 --window pick "$OUT"
restore token and forget|2|give --restore-token or --forget-screen-permission, not both|--restore-token t --forget-screen-permission "$OUT"
missing folder|1|cannot write "$WORK/missing/out.avi"|--no-audio --duration 1 "$WORK/missing/out.avi"
EOF

# The rig's two sources: the desktop's 1 kHz and the 440 Hz one standing for a microphone.
if expect "sound sources listed" 0 "What the desktop plays" -- "$BIN" --list-audio-sources; then
  grep -q "^ *qv_voice.monitor " "$WORK/out.txt" || fail "sound sources: no qv_voice.monitor"
fi

# Without a sound server ALSA's own PCMs are what there is: on the rig none is a card, so none is
# listed but the default, which cannot reach its server and says so; the plugins that record nothing
# of their own (silence, converters, other sound systems) are not offered at all.
if expect "sound sources without a server" 0 "default  The default sound input (Connection refused)" -- \
    env PULSE_SERVER=unix:$WORK/no-such-socket "$BIN" --list-audio-sources; then
  grep -q "^Not available now:" "$WORK/out.txt" || fail "sound sources without a server: the default is not set apart"
  grep -qE "^  (null|lavrate|samplerate|speexrate|jack|oss|pulse|speex|upmix|vdownmix) " "$WORK/out.txt" &&
    fail "sound sources without a server: a plugin is offered"
fi

expect "no display" 1 "cannot open the display \":987\"" -- env DISPLAY=:987 "$BIN" --no-audio "$OUT"
[ -e "$OUT" ] && fail "no display: left a file"
# (The rig has a session bus; this one is left without.)
expect "portal without a session bus" 1 "The desktop did not share the screen (no session bus" -- \
  env -u DBUS_SESSION_BUS_ADDRESS "$BIN" --backend pipewire --no-audio --duration 1 "$OUT"
[ -e "$OUT" ] && { fail "portal without a session bus: left $OUT behind"; rm -f "$OUT"; }
# No sound server behind ALSA's default device: the message says how to record without sound.
expect "no sound" 1 "add --no-audio" -- env PULSE_SERVER=unix:$WORK/no-such-socket "$BIN" --duration 1 "$OUT"
grep -q "No sound input could be opened (ALSA: " "$WORK/out.txt" || fail "no sound: the reason is not said in words"
grep -q "pause_pointer=" "$WORK/out.txt" && fail "no sound: the device's option string leaks into the message"
[ -e "$OUT" ] && fail "no sound: left a file"

# An existing file is never overwritten unasked: kept byte for byte, exit 2 (also with -n); -y
# overwrites it with a recording.
KEEP="$WORK/keep.mkv"
echo keep >"$KEEP"
expect "existing output" 2 "File '$KEEP' already exists. Use -y to overwrite." -- "$BIN" --duration 1 "$KEEP"
expect "existing output, -n" 2 "File '$KEEP' already exists. Exiting." -- "$BIN" -n --duration 1 "$KEEP"
[ "$(cat "$KEEP")" = keep ] || fail "existing output: the file was changed"
if expect "existing output, -y" 0 "Finished: $KEEP" -- "$BIN" -y --no-audio --region 0,0,64,48 --duration 1 "$KEEP"; then
  codec=$(ffprobe -v error -select_streams v:0 -show_entries stream=codec_name -of csv=p=0 "$KEEP")
  [ "$codec" = h264 ] || fail "existing output, -y: ffprobe reads \"$codec\", not the new recording"
fi

# A region cut at the screen's edge records what is on the screen and says so; so is an --ab that
# cannot apply (the sound's rate follows from its sample rate).
if expect "region at the edge" 0 "is cut to" -- "$BIN" --ab 64 --region 1800,1000,400,300 --duration 1 "$OUT"; then
  grep -qF -- "; --ab is not used: MS ADPCM at 44100 Hz takes 357 kbit/s" "$WORK/out.txt" || fail "an unused --ab is not said"
  size=$(ffprobe -v error -select_streams v:0 -show_entries stream=width,height -of csv=p=0 "$OUT")
  screen=$(xdpyinfo | awk '/dimensions:/ {print $2}')
  want="$(( ${screen%x*} - 1800 )),$(( ${screen#*x} - 1000 ))"
  [ "$size" = "$want" ] || fail "region at the edge: frame size $size, wanted $want"
fi
rm -f "$OUT"

echo "$failures failure(s)"
[ "$failures" = 0 ]
