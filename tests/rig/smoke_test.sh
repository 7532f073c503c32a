#!/usr/bin/env bash
# Proves each part of the desktop rig the other desktop tests stand on: the X server and its
# extensions, openbox as window manager, trayer owning the system tray, a client window that gets
# mapped and framed, the 1 kHz tone recorded through ALSA in real time, the 16-bit variant and the
# two-monitor one.
set -u
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=${QV_SOURCE_DIR:-$(cd "$here/../.." && pwd)}

# Run by hand outside the rig: put ourselves inside one.
if [ "${QV_RIG:-}" != 1 ]; then
  exec bash "$root/scripts/desktop-rig.sh" -- bash "${BASH_SOURCE[0]}" "$@"
fi

failures=0
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
ok() { echo "ok   - $*"; }
bad() { echo "FAIL - $*"; failures=$((failures + 1)); }
check() { # check DESCRIPTION COMMAND...
  local what=$1; shift
  if "$@"; then ok "$what"; else bad "$what"; fi
}

# --- X server -------------------------------------------------------------------------------------
xdpyinfo >"$work/xdpyinfo" 2>&1 || bad "xdpyinfo on $DISPLAY"
check "screen is 1920x1080" grep -q 'dimensions: *1920x1080 pixels' "$work/xdpyinfo"
check "root depth is ${QV_RIG_DEPTH:-24}" grep -q "depth of root window: *${QV_RIG_DEPTH:-24} planes" "$work/xdpyinfo"
for ext in MIT-SHM SHAPE XFIXES XTEST; do
  check "extension $ext" grep -qw "$ext" "$work/xdpyinfo"
done

# --- window manager -------------------------------------------------------------------------------
wm=$(xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null)
wm=${wm##* }
check "openbox is the window manager ($wm)" \
  bash -c "xprop -id '$wm' _NET_WM_NAME | grep -q '\"Openbox\"'"

# --- tray host ------------------------------------------------------------------------------------
owner=$(x-selection-owner _NET_SYSTEM_TRAY_S0)
owner_pid=$(xprop -id "$owner" _NET_WM_PID 2>/dev/null | awk '{print $NF}')
check "trayer owns _NET_SYSTEM_TRAY_S0 ($owner, pid ${owner_pid:-?})" \
  test "$(cat "/proc/${owner_pid:-0}/comm" 2>/dev/null)" = trayer

# --- a client window is mapped and framed by the window manager -------------------------------------
xmessage -name qv_smoke_window "rig smoke test" &
client=$!
win=$(timeout 10 xdotool search --sync --onlyvisible --classname qv_smoke_window 2>/dev/null | head -n1)
if [ -n "$win" ]; then
  xwininfo -id "$win" >"$work/win" 2>&1
  check "client window $win is viewable" grep -q 'Map State: IsViewable' "$work/win"
  root_id=$(xwininfo -root | awk '/Window id:/ {print $4}')
  parent=$(xwininfo -children -id "$win" | awk '/Parent window id:/ {print $4}')
  check "client window is reparented into a frame ($parent)" test -n "$parent" -a "$parent" != "$root_id"
  check "window manager set WM_STATE Normal" bash -c "xprop -id $win WM_STATE | grep -q 'window state: Normal'"
else
  bad "client window did not appear"
fi
kill "$client" 2>/dev/null
wait "$client" 2>/dev/null

# --- sound: the tone through ALSA's default device, paced in real time -----------------------------
check "default source is the tone sink's monitor" \
  bash -c "pactl info | grep -q 'Default Source: qv_tone.monitor'"
for dev in default pulse; do
  t0=$(date +%s%N)
  arecord -q -D "$dev" -f S16_LE -r 44100 -c 2 -d 2 "$work/$dev.wav"
  rc=$?
  ms=$((($(date +%s%N) - t0) / 1000000))
  check "arecord -D $dev exit code 0" test "$rc" = 0
  check "arecord -D $dev took ${ms} ms for 2 s (1700-2600)" test "$ms" -ge 1700 -a "$ms" -le 2600
  sox "$work/$dev.wav" -n remix 1 stat >"$work/$dev.stat" 2>&1
  samples=$(awk '/Samples read:/ {print $3}' "$work/$dev.stat")
  rms=$(awk '/RMS +amplitude:/ {print $3}' "$work/$dev.stat")
  freq=$(awk '/Rough +frequency:/ {print $3}' "$work/$dev.stat")
  check "$dev: 88200 samples per channel (got ${samples:-none})" test "${samples:-0}" = 88200
  check "$dev: tone is loud (RMS ${rms:-none} > 0.1)" awk -v r="${rms:-0}" 'BEGIN { exit !(r > 0.1) }'
  check "$dev: tone is 1 kHz (rough frequency ${freq:-none})" \
    awk -v f="${freq:-0}" 'BEGIN { exit !(f >= 950 && f <= 1050) }'
done

# --- the 16-bit variant (a rig of its own, without sound) --------------------------------------------
if [ "${QV_RIG_DEPTH:-24}" = 24 ]; then
  depth16=$(bash "$root/scripts/desktop-rig.sh" --depth 16 --no-sound -- \
    xdpyinfo 2>&1)
  check "--depth 16 gives a 16-bit root window" grep -q 'depth of root window: *16 planes' <<<"$depth16"
fi

# --- the two-monitor variant (Xorg with the dummy driver; root only) ----------------------------------
if [ "${QV_RIG_DEPTH:-24}" = 24 ] && [ "$(id -u)" = 0 ]; then
  two=$(bash "$root/scripts/desktop-rig.sh" --monitors 2 --no-sound -- \
    bash -c 'xdpyinfo -ext XINERAMA; xrandr --listmonitors; xprop -root _NET_SUPPORTING_WM_CHECK' 2>&1)
  check "--monitors 2 gives a 3840x1080 desktop" grep -q 'dimensions: *3840x1080 pixels' <<<"$two"
  check "RandR lists LEFT (primary) at 0,0" grep -Eq '0: \*LEFT 1920/[0-9]+x1080/[0-9]+\+0\+0' <<<"$two"
  check "RandR lists RIGHT at 1920,0" grep -Eq '1: RIGHT 1920/[0-9]+x1080/[0-9]+\+1920\+0' <<<"$two"
  check "Xinerama head 0 is LEFT's place" grep -q 'head #0: 1920x1080 @ 0,0' <<<"$two"
  check "Xinerama head 1 is RIGHT's place" grep -q 'head #1: 1920x1080 @ 1920,0' <<<"$two"
  check "a window manager runs on it" grep -q 'window id # 0x' <<<"$two"
fi

if [ "$failures" -ne 0 ]; then
  echo "rig smoke test: $failures check(s) failed"
  exit 1
fi
echo "rig smoke test: all checks passed"
