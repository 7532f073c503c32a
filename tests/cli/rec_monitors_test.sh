#!/bin/bash
# quorvane-rec on a desktop of two monitors side by side (LEFT, the primary, and RIGHT): full
# screen follows the pointer's monitor or a named one, "all" takes the whole desktop, and regions
# and windows are where they are on the desktop; a screen that changes size does not end a recording.
# Decoded frames judge where each colour landed.
set -u
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=${QV_SOURCE_DIR:-$(cd "$here/../.." && pwd)}
if [ "${QV_RIG_MONITORS:-}" != 2 ]; then
  if [ "$(id -u)" != 0 ]; then echo "skipped: the two-monitor desktop needs root"; exit 0; fi
  exec bash "$root/scripts/desktop-rig.sh" --monitors 2 --no-sound -- bash "${BASH_SOURCE[0]}" "$@"
fi
BIN="${QV_BIN_DIR:?QV_BIN_DIR not set}/quorvane-rec"
WORK=$(mktemp -d /tmp/qv_rec_monitors_XXXXXX)
viewer=
trap '[ -n "$viewer" ] && kill "$viewer" 2>/dev/null; rm -rf "$WORK"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
pass() { echo "ok: $*"; }

# The desktop: red on LEFT, blue on RIGHT, and a green window on RIGHT.
convert -size 1920x1080 xc:'#ff0000' xc:'#0000ff' +append "$WORK/desktop.png"
display -window root "$WORK/desktop.png"
convert -size 400x300 xc:'#00ff00' "$WORK/green.png"
display -title qv-green -geometry +2500+400 "$WORK/green.png" &
viewer=$!
green=$(timeout 10 xdotool search --sync --onlyvisible --name qv-green | head -n1)
[ -n "$green" ] || { echo "FAIL: the green window did not appear"; exit 1; }
sleep 0.5
gx=$(xwininfo -id "$green" | awk '/Absolute upper-left X/ {print $4}')
gy=$(xwininfo -id "$green" | awk '/Absolute upper-left Y/ {print $4}')
# The pointer is drawn into the recording: keep it in a corner no check looks at.
xdotool mousemove 3830 1070

size_of() { ffprobe -v error -select_streams v:0 -show_entries stream=width,height -of csv=s=x:p=0 "$1"; }
# colour FILE X Y W H: the mean colour of that part of a frame 1 s in, as "R G B" rounded to 0 or 255.
colour() {
  ffmpeg -nostdin -v error -ss 1 -i "$1" -frames:v 1 -vf "crop=$4:$5:$2:$3,scale=1:1:flags=area" \
    -f rawvideo -pix_fmt rgb24 - | od -An -tu1 |
    awk '{ for (i = 1; i <= 3; i++) printf "%s%d", (i > 1 ? " " : ""), ($i > 127 ? 255 : 0) }'
}
# expect_colour NAME FILE X Y W H "R G B"
expect_colour() {
  local got
  got=$(colour "$2" "$3" "$4" "$5" "$6")
  if [ "$got" = "$7" ]; then pass "$1: $got"; else fail "$1: colour \"$got\", wanted \"$7\""; fi
}
# record NAME ARGS...: a 2 s recording into $WORK/NAME.avi; true when it finished well.
record() {
  local name=$1
  shift
  if timeout 60 "$BIN" --no-audio --vb 4000 --duration 2 "$@" "$WORK/$name.avi" >"$WORK/$name.log" 2>&1; then
    return 0
  fi
  fail "$name: quorvane-rec failed"
  sed 's/^/    /' "$WORK/$name.log" | tail -5
  return 1
}
expect_size() {
  local got
  got=$(size_of "$2")
  if [ "$got" = "$3" ]; then pass "$1: $got"; else fail "$1: frame size $got, wanted $3"; fi
}

# Full screen, the pointer on RIGHT: RIGHT alone, with the green window where it is on RIGHT.
if record pointer; then
  expect_size "pointer on RIGHT" "$WORK/pointer.avi" 1920x1080
  grep -q "the monitor RIGHT 1920x1080 at 1920,0" "$WORK/pointer.log" || fail "pointer on RIGHT: not said which monitor"
  expect_colour "pointer on RIGHT, its background" "$WORK/pointer.avi" 100 100 200 200 "0 0 255"
  expect_colour "pointer on RIGHT, the green window" "$WORK/pointer.avi" $((gx - 1920 + 50)) $((gy + 50)) 300 200 "0 255 0"
fi
# A monitor by name and by number, whatever the pointer's.
if record left --monitor LEFT; then
  expect_size "--monitor LEFT" "$WORK/left.avi" 1920x1080
  expect_colour "--monitor LEFT" "$WORK/left.avi" 100 100 1700 900 "255 0 0"
fi
if record second --monitor 1; then
  expect_colour "--monitor 1" "$WORK/second.avi" 100 100 200 200 "0 0 255"
fi
# The whole desktop: both monitors side by side.
if record all --monitor all; then
  expect_size "the whole desktop" "$WORK/all.avi" 3840x1080
  expect_colour "the whole desktop, LEFT" "$WORK/all.avi" 100 100 1700 900 "255 0 0"
  expect_colour "the whole desktop, RIGHT" "$WORK/all.avi" 2000 100 300 200 "0 0 255"
  expect_colour "the whole desktop, the green window" "$WORK/all.avi" $((gx + 50)) $((gy + 50)) 300 200 "0 255 0"
fi
# A region across the seam between the monitors: red on its left half, blue on its right.
if record region --region 1800,100,240,200; then
  expect_size "region across both" "$WORK/region.avi" 240x200
  expect_colour "region across both, left half" "$WORK/region.avi" 0 0 110 200 "255 0 0"
  expect_colour "region across both, right half" "$WORK/region.avi" 130 0 110 200 "0 0 255"
fi
# A window on RIGHT is recorded where it is.
if record window --window "$green"; then
  expect_colour "the window on RIGHT" "$WORK/window.avi" 50 50 300 200 "0 255 0"
fi
# The names --monitor takes, as shell completion reads them.
listed=$("$BIN" --list-monitors 2>&1)
if grep -qx '  0        LEFT 1920x1080 at 0,0 (primary)' <<<"$listed" && grep -qx '  1        RIGHT 1920x1080 at 1920,0' <<<"$listed" &&
  grep -q '^  all      the whole desktop, 3840x1080$' <<<"$listed"; then
  pass "--list-monitors"
else
  fail "--list-monitors: $listed"
fi
# A monitor that is not there is refused before anything is recorded, naming those that are.
if timeout 30 "$BIN" --no-audio --monitor CENTRE "$WORK/none.avi" >"$WORK/none.log" 2>&1; then
  fail "an unknown monitor was recorded"
elif grep -q 'no monitor "CENTRE" on this desktop (0: LEFT 1920x1080 at 0,0 (primary); 1: RIGHT' "$WORK/none.log"; then
  pass "an unknown monitor is refused with the list"
else
  fail "an unknown monitor: $(cat "$WORK/none.log")"
fi
[ -e "$WORK/none.avi" ] && fail "an unknown monitor left a file"

# The screen changes size under a full-screen recording (a projector, a game's own mode): smaller,
# then back. The recording goes on to its end at its starting size; the smaller screen fills its
# top-left corner, black beyond it; the change is said once.
kill "$viewer" 2>/dev/null
viewer=
output=$(xrandr | awk '/ connected/ {print $1; exit}')
# colour_at FILE T X Y W H: as colour, of the picture shown at T s (the file's slots made even first).
colour_at() {
  ffmpeg -nostdin -v error -i "$1" -vf "fps=10,trim=start=$2,crop=$5:$6:$3:$4,scale=1:1:flags=area" -frames:v 1 \
    -f rawvideo -pix_fmt rgb24 - | od -An -tu1 |
    awk '{ for (i = 1; i <= 3; i++) printf "%s%d", (i > 1 ? " " : ""), ($i > 127 ? 255 : 0) }'
}
expect_colour_at() {
  local got
  got=$(colour_at "$2" "$3" "$4" "$5" "$6" "$7")
  if [ "$got" = "$8" ]; then pass "$1: $got"; else fail "$1: colour \"$got\", wanted \"$8\""; fi
}
timeout 60 "$BIN" --no-audio --vb 4000 --fps 10 --duration 8 --monitor LEFT "$WORK/resized.avi" >"$WORK/resized.log" 2>&1 &
rec=$!
sleep 2
xrandr --output "$output" --mode 1280x720 --fb 1280x720 || fail "the screen could not be made smaller"
sleep 3
xrandr --fb 3840x1080 --output "$output" --mode 3840x1080 || fail "the screen could not be made larger again"
if wait "$rec"; then
  expect_size "a screen that changed size" "$WORK/resized.avi" 1920x1080
  got=$(ffprobe -v error -show_entries format=duration -of csv=p=0 "$WORK/resized.avi")
  awk -v d="$got" 'BEGIN { exit !(d >= 7.8 && d <= 8.2) }' && pass "a screen that changed size: ${got} s" ||
    fail "a screen that changed size: ${got} s, wanted 8"
  expect_colour_at "before the change, the corner" "$WORK/resized.avi" 1 1450 800 400 200 "255 0 0"
  expect_colour_at "the smaller screen" "$WORK/resized.avi" 3.5 100 100 1000 500 "255 0 0"
  expect_colour_at "beyond the smaller screen" "$WORK/resized.avi" 3.5 1450 800 400 200 "0 0 0"
  expect_colour_at "back to its size, the corner" "$WORK/resized.avi" 7.5 1450 800 400 200 "255 0 0"
  said=$(grep -c "screencapture @ .*The screen is now 1280x720: the recording goes on at 1920x1080" "$WORK/resized.log")
  [ "$said" = 1 ] && pass "the change is said once" || fail "the change is said $said times"
else
  fail "a screen that changed size ended the recording: $(tail -3 "$WORK/resized.log")"
fi

echo "$failures failure(s)"
[ "$failures" = 0 ]
