#!/bin/bash
# What a recording of a mostly still screen shows, slot by slot: the root's colour changed once a
# second, the pointer moved between two places, a left and a right click with clicks shown, then
# keys pressed with keys shown in the default mode (a key pressed while paused, a chord, typed text,
# a repeated key); and in a short second recording the pointer spotlighted while it moves.
# Unchanged slots are held pictures, so every change must still land in its own slot: the decoded
# frames (ffmpeg at the constant rate) are read at a few places, and each change must appear in the
# slot its wall time gives (within one slot) counted from the first colour change, never before.
set -u
source "$(dirname "${BASH_SOURCE[0]}")/../support/rec_checks.sh"
WORK=$(mktemp -d /tmp/qv_unchanged_XXXXXX)
trap 'for p in "${pids[@]}"; do kill -9 "$p" 2>/dev/null; done; rm -rf "$WORK"' EXIT

# The recorded region, the place its colour is read (bare root), and two pointer places on the root.
RX=400 RY=300 RW=320 RH=240
SAMPLE="10 10 40 40"
P1="60 150"
P2="130 100"
colours=(606060 c00000 00a000 0000c0 c000c0)

# series FILE X Y W H: the mean colour of that part (region coordinates) of each decoded slot, one
# "R G B" line per slot.
series() {
  ffmpeg -nostdin -v error -i "$1" -vf "fps=25,crop=$4:$5:$2:$3,scale=1:1:flags=area" -f rawvideo -pix_fmt rgb24 - |
    od -An -v -tu1 -w3
}
# nearest_colour R G B: the index in colours of the nearest one.
nearest_colour() {
  local i best=0 bestd=999999 c d
  for i in "${!colours[@]}"; do
    c=${colours[$i]}
    d=$(( ($1 - 16#${c:0:2}) ** 2 + ($2 - 16#${c:2:2}) ** 2 + ($3 - 16#${c:4:2}) ** 2 ))
    [ $d -lt $bestd ] && bestd=$d best=$i
  done
  echo $best
}
# differs "R G B" "R G B": the two colours are apart by more than 60 over the three channels.
differs() {
  local a=($1) b=($2)
  local d=$(( ${a[0]} - ${b[0]} )) e=$(( ${a[1]} - ${b[1]} )) f=$(( ${a[2]} - ${b[2]} ))
  [ $(( ${d#-} + ${e#-} + ${f#-} )) -gt 60 ]
}
# ring_colour "R G B": amber (left button), red (right button) or none; the first slot of a ring is
# coded coarser, so the hue decides, not the level.
ring_colour() {
  local c=($1)
  if [ "${c[0]}" -lt 100 ] || [ "${c[2]}" -gt 90 ]; then echo none
  elif [ $((2 * ${c[1]})) -gt "${c[0]}" ]; then echo amber
  else echo red; fi
}

# Wall times of what the test does: before and after each step, in ms.
declare -A before after
step() { # step NAME COMMAND...
  local name=$1; shift
  before[$name]=$(now_ms)
  "$@"
  after[$name]=$(now_ms)
}
at_ms() { # at_ms T: sleeps until T ms after $base
  local left=$(( base + $1 - $(now_ms) ))
  [ $left -gt 0 ] && sleep "$(printf '%d.%03d' $((left / 1000)) $((left % 1000)))"
}
# slot_window NAME: the slots in which the step NAME may first show, counted from the first colour
# change (slot $anchor): its wall time against that change's, one slot either way. After the pause
# the paused time (between $paused_min and $paused_max ms) is not in the file, and where the pause
# began and ended within a slot widens the window by a slot.
paused_min=0 paused_max=0 paused_slack=0
slot_window() {
  lo=$(( anchor + (${before[$1]} - ${after[c1]} - paused_max) / 40 - 1 - paused_slack ))
  hi=$(( anchor + (${after[$1]} - ${before[c1]} - paused_min + 39) / 40 + 1 + paused_slack ))
}
# first_from START TEST...: the first slot from START on for which TEST SLOT succeeds; -1 if none.
first_from() {
  local i=$1; shift
  [ $i -ge 0 ] || { echo -1; return; }
  while [ $i -lt $slots_read ]; do "$@" $i && { echo $i; return; }; i=$((i + 1)); done
  echo -1
}
# shows NAME SLOT START: the step's change shows first at SLOT, found from START, inside its window.
shows() {
  slot_window "$1"
  if [ "$2" -ge "$lo" ] && [ "$2" -le "$hi" ]; then pass "$1: first in slot $2, expected $lo..$hi"
  else fail "$1: first in slot $2, expected $lo..$hi (searched from $3)"; fi
}

# --- the desktop: a bare root and a plain window to click on (the root would open menus) ---------------
xsetroot -solid "#${colours[0]}"
xlogo -name qv_clicks -geometry 140x140+560+340 -bg '#202020' -fg '#202020' &
pids+=($!)
disown
target=$(timeout 10 xdotool search --sync --onlyvisible --classname qv_clicks | head -1)
[ -n "$target" ] || { echo "FAIL: the window to click on did not appear"; exit 1; }
sleep 0.5
info=$(xwininfo -id "$target")
cx=$(( $(awk '/Absolute upper-left X/ {print $4}' <<<"$info") + $(awk '/Width:/ {print $2}' <<<"$info") / 2 - RX ))
cy=$(( $(awk '/Absolute upper-left Y/ {print $4}' <<<"$info") + $(awk '/Height:/ {print $2}' <<<"$info") / 2 - RY ))
if [ $cx -lt 40 ] || [ $cx -gt $((RW - 40)) ] || [ $cy -lt 40 ] || [ $cy -gt $((RH - 40)) ]; then
  echo "FAIL: the window's middle ($cx,$cy in the region) is not well inside the region"; exit 1
fi
move() { xdotool mousemove $((RX + $1)) $((RY + $2)); }
move 60 200

# --- the recording, with the steps at known wall times -------------------------------------------------
F="$WORK/changes.avi"
start_rec "$WORK/changes.log" --region $RX,$RY,$RW,$RH --no-audio --show-clicks --show-keys --duration 14 "$F"
wait_frames "$WORK/changes.log" 1 || exit 1
base=$(now_ms)
at_ms 500;  step c1 xsetroot -solid "#${colours[1]}"
at_ms 1000; step m1 move $P1
at_ms 1500; step c2 xsetroot -solid "#${colours[2]}"
at_ms 2000; step m2 move $P2
at_ms 2500; step c3 xsetroot -solid "#${colours[3]}"
at_ms 3000; step m3 move $P1
at_ms 3500; step c4 xsetroot -solid "#${colours[4]}"
at_ms 4000; move $cx $cy
at_ms 4500; step left xdotool click 1
at_ms 5700; step right xdotool click 3
at_ms 6500; move $P2
at_ms 7000; step pause kill -USR1 "$rec_pid"
at_ms 7300; xdotool key Escape
at_ms 7600; step resume kill -USR2 "$rec_pid"
at_ms 8000; step chord xdotool key ctrl+shift+t
at_ms 10200; step hello xdotool type hello
at_ms 11000; step bs xdotool key --delay 30 BackSpace BackSpace BackSpace BackSpace BackSpace
wait_rec 60
[ "$rec_rc" = 0 ] || { fail "exit $rec_rc"; tail -5 "$WORK/changes.log"; finish_rec; }
grep -q "XInput" "$WORK/changes.log" && fail "clicks not shown: $(grep XInput "$WORK/changes.log")"

# --- the decoded slots --------------------------------------------------------------------------------------
mapfile -t bg < <(series "$F" $SAMPLE)
mapfile -t at1 < <(series "$F" $(( ${P1% *} - 2 )) $(( ${P1#* } - 2 )) 10 10)
mapfile -t at2 < <(series "$F" $(( ${P2% *} - 2 )) $(( ${P2#* } - 2 )) 10 10)
mapfile -t ringW < <(series "$F" $((cx - 21)) $((cy - 1)) 3 3)
mapfile -t ringN < <(series "$F" $((cx - 1)) $((cy - 21)) 3 3)
mapfile -t inside < <(series "$F" $((cx - 9)) $((cy - 6)) 3 3)
# The key labels' dark ground, left of their text, at the bottom-left corner.
mapfile -t keys < <(series "$F" 13 213 4 8)
slots_read=${#bg[@]}
within "decoded slots" "$slots_read" 348 352

colour_is() { [ "$(nearest_colour ${bg[$2]})" = "$1" ]; }
pointer_at1() { differs "${at1[$1]}" "${bg[$1]}"; }
pointer_at2() { differs "${at2[$1]}" "${bg[$1]}"; }
ring_is() { [ "$(ring_colour "${ringW[$2]}")" = "$1" ] && [ "$(ring_colour "${ringN[$2]}")" = "$1" ]; }
no_ring() { [ "$(ring_colour "${ringW[$1]}")" = none ] && [ "$(ring_colour "${ringN[$1]}")" = none ]; }
any_ring() { ! no_ring "$1"; }

anchor=$(first_from 0 colour_is 1)
[ "$anchor" -ge 0 ] || { fail "the first colour change never shows"; finish_rec; }
pass "c1: first in slot $anchor (the anchor)"
from=$anchor
for k in 2 3 4; do
  s=$(first_from "$from" colour_is $k)
  shows c$k "$s" "$from"
  from=$s
done
s1=$(first_from "$anchor" pointer_at1); shows m1 "$s1" "$anchor"
s2=$(first_from "$s1" pointer_at2); shows m2 "$s2" "$s1"
s3=$(first_from "$s2" pointer_at1); shows m3 "$s3" "$s2"

# A ring of the button's colour around the click in the next slots, none before, gone after 0.5 s.
first=$(first_from "$anchor" ring_is amber)
shows left "$first" "$anchor"
[ "$(first_from "$anchor" any_ring)" = "$first" ] && pass "left: no ring before the click" ||
  fail "left: a ring before the click, in slot $(first_from "$anchor" any_ring)"
ok_slots=0
for i in 0 1 2 3; do ring_is amber $((first + i)) && ok_slots=$((ok_slots + 1)); done
within "left: slots with the amber ring around the click, of 4" $ok_slots 4 4
check_slot() { # check_slot WHAT SLOT TEST...: TEST SLOT succeeds
  local what=$1 slot=$2; shift 2
  if "$@" "$slot"; then pass "$what"; else fail "$what (slot $slot: ${ringW[$slot]} / ${inside[$slot]})"; fi
}
inside_clear() { [ "$(ring_colour "${inside[$1]}")" = none ]; }
check_slot "left: a ring, not a disc" "$first" inside_clear
check_slot "left: the ring gone 0.56 s later" $((first + 14)) no_ring
second=$(first_from $((first + 1)) ring_is red)
shows right "$second" "$first"
check_slot "right: the red ring two slots on" $((second + 2)) ring_is red

# Key labels: a dark grey unlike the root's colour. The Escape pressed while paused never shows: the first
# label is the chord's; plain typing is not shown in the default mode, so nothing comes between the
# chord's label fading and the Backspaces'; that one is gone 2 s after the last key.
label() {
  local c=(${keys[$1]})
  differs "${keys[$1]}" "${bg[$1]}" && [ "${c[0]}" -lt 80 ] && [ "${c[1]}" -lt 80 ] && [ "${c[2]}" -lt 80 ]
}
no_label() { ! label "$1"; }
paused_min=$(( ${before[resume]} - ${after[pause]} )) paused_max=$(( ${after[resume]} - ${before[pause]} ))
paused_slack=1
chord=$(first_from "$anchor" label)
shows chord "$chord" "$anchor"
faded=$(first_from "$chord" no_label)
slot_window hello
[ "$faded" -ge 0 ] && [ "$faded" -lt "$lo" ] && pass "chord: faded in slot $faded, before the typing" ||
  fail "chord: faded in slot $faded, not before the typing (slot $lo on)"
keys_back=$(first_from "$faded" label)
shows bs "$keys_back" "$faded"
slot_window bs
gone=$(( hi + 50 ))
no_label "$gone" && pass "Backspace: the label gone 2 s after the last key (slot $gone)" ||
  fail "Backspace: a label 2 s after the last key (slot $gone: ${keys[$gone]})"

# --- the pointer spotlighted: lit in the slot it moves in, not before, gone a second after it stopped --
xsetroot -solid '#606060'
move 100 120
F2="$WORK/spotlight.avi"
start_rec "$WORK/spotlight.log" --region $RX,$RY,$RW,$RH --no-audio --spotlight --duration 3 "$F2"
wait_frames "$WORK/spotlight.log" 1 || exit 1
sleep 0.8
move 200 120
wait_rec 30
[ "$rec_rc" = 0 ] || fail "spotlight: exit $rec_rc"
mapfile -t bg < <(series "$F2" $SAMPLE)
mapfile -t pointer < <(series "$F2" 198 118 10 10)
mapfile -t lit < <(series "$F2" 188 118 4 4)     # left of the pointer, where its image is not
mapfile -t litOld < <(series "$F2" 88 118 4 4)
slots_read=${#bg[@]}
pointer_moved() { differs "${pointer[$1]}" "${bg[$1]}"; }
lit_now() { differs "${lit[$1]}" "${bg[$1]}"; }
lit_before() { differs "${litOld[$1]}" "${bg[$1]}"; }
moved=$(first_from 0 pointer_moved)
[ "$moved" -gt 0 ] && [ "$(first_from 0 lit_now)" = "$moved" ] && pass "spotlight: lit with the move, slot $moved" ||
  fail "spotlight: the move in slot $moved, lit first in slot $(first_from 0 lit_now)"
[ "$(first_from 0 lit_before)" = -1 ] && pass "spotlight: none while the pointer stood still" ||
  fail "spotlight: lit at the first place in slot $(first_from 0 lit_before)"
lit_now $((moved + 5)) && ! lit_now $((moved + 30)) && pass "spotlight: held, then gone 1.2 s later" ||
  fail "spotlight: slot $((moved + 5)): ${lit[$((moved + 5))]}, slot $((moved + 30)): ${lit[$((moved + 30))]}"

finish_rec
