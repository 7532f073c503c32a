#!/usr/bin/env bash
# Proves each part of the Wayland rig: sway's output of the announced size, the ScreenCast portal
# answering on the session bus and offering monitors, PipeWire and WirePlumber running, and the
# tone recorded through ALSA's default device via pipewire-pulse.
set -u
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=${QV_SOURCE_DIR:-$(cd "$here/../.." && pwd)}

# shellcheck source=tests/support/shell_checks.sh
. "$root/tests/support/shell_checks.sh"
in_wayland_rig "${BASH_SOURCE[0]}" "$@" -- sway pipewire wireplumber pipewire-pulse xdg-desktop-portal xdg-desktop-portal-wlr

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# --- sway -------------------------------------------------------------------------------------------
swaymsg -t get_outputs -r >"$work/outputs" 2>&1
check "sway's output $QV_RIG_OUTPUT is ${QV_RIG_SIZE}" \
  python3 -c "import json,sys; o=json.load(open('$work/outputs'))[0]; \
sys.exit(not (o['name']=='$QV_RIG_OUTPUT' and '%dx%d'%(o['rect']['width'],o['rect']['height'])=='$QV_RIG_SIZE'))"
check "the Wayland socket $WAYLAND_DISPLAY is there" test -S "$XDG_RUNTIME_DIR/$WAYLAND_DISPLAY"
check "sway runs as an ordinary user" \
  bash -c "test \"\$(ps -o user= -C sway | head -n1)\" != root"

# --- the ScreenCast portal on the session bus --------------------------------------------------------
types=$(dbus-send --session --print-reply --dest=org.freedesktop.portal.Desktop \
  /org/freedesktop/portal/desktop org.freedesktop.DBus.Properties.Get \
  string:org.freedesktop.portal.ScreenCast string:AvailableSourceTypes 2>&1 | awk '/uint32/ {print $NF}')
check "the portal offers monitors (source types ${types:-none})" test $(( ${types:-0} & 1 )) = 1

# --- PipeWire ---------------------------------------------------------------------------------------
check "pipewire answers" bash -c "pw-cli info 0 | grep -q 'core.name'"
check "wireplumber is connected" bash -c "pw-cli ls Client | grep -qi wireplumber"

# --- sound through pipewire-pulse ---------------------------------------------------------------------
arecord -q -D default -f S16_LE -r 44100 -c 2 -d 2 "$work/tone.wav"
sox "$work/tone.wav" -n remix 1 stat >"$work/tone.stat" 2>&1
rms=$(awk '/RMS +amplitude:/ {print $3}' "$work/tone.stat")
freq=$(awk '/Rough +frequency:/ {print $3}' "$work/tone.stat")
check "the tone is recorded (RMS ${rms:-none} > 0.1)" awk -v r="${rms:-0}" 'BEGIN { exit !(r > 0.1) }'
check "the tone is 1 kHz (rough frequency ${freq:-none})" \
  awk -v f="${freq:-0}" 'BEGIN { exit !(f >= 950 && f <= 1050) }'

finish "wayland rig smoke test"
