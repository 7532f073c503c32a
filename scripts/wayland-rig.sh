#!/usr/bin/env bash
# Wayland rig: a private headless Wayland desktop with a session bus, PipeWire and the ScreenCast
# portal for one command, torn down afterwards.
#
#   scripts/wayland-rig.sh [--size WxH] [--no-sound] [--tray] -- COMMAND [ARGS...]
#
# Starts headless sway (one output, HEADLESS-1, of --size, default 1280x720, pixman renderer, no
# input devices, no bar) as an ordinary user "qvrig" (sway refuses to run as root), a session bus of
# our own, PipeWire and WirePlumber, pipewire-pulse (unless --no-sound) with a null sink playing a
# 1 kHz sine whose monitor is the default source, and xdg-desktop-portal with xdg-desktop-portal-wlr
# set to hand out HEADLESS-1 without asking. Only sway runs as qvrig; the other services and COMMAND
# run as the caller and reach sway's socket in the shared runtime folder. With --tray, waybar (its
# tray module only) is the session's StatusNotifierWatcher and host, as on a wlroots desktop with a
# bar; the command starts once the watcher is on the bus and a host has registered with it.
#
# COMMAND sees WAYLAND_DISPLAY, DBUS_SESSION_BUS_ADDRESS, XDG_RUNTIME_DIR, XDG_CURRENT_DESKTOP=sway,
# HOME, XDG_CONFIG_HOME, PULSE_SERVER, PIPEWIRE_RUNTIME_DIR, SWAYSOCK, QT_QPA_PLATFORM=wayland,
# QV_WAYLAND_RIG=1, QV_RIG_SIZE (WxH), QV_RIG_OUTPUT and QV_RIG_DIR, and no DISPLAY. The rig exits
# with COMMAND's exit code (125 if the rig itself could not start).
set -u

usage() {
  echo "usage: $0 [--size WxH] [--no-sound] [--tray] -- COMMAND [ARGS...]" >&2
  exit 2
}

size=1280x720
sound=1
tray=0
while [ $# -gt 0 ]; do
  case "$1" in
    --size) [ $# -ge 2 ] || usage; size=$2; shift 2 ;;
    --size=*) size=${1#*=}; shift ;;
    --no-sound) sound=0; shift ;;
    --tray) tray=1; shift ;;
    --) shift; break ;;
    -h|--help) usage ;;
    -*) usage ;;
    *) break ;;
  esac
done
[ $# -gt 0 ] || usage
[[ $size =~ ^[0-9]+x[0-9]+$ ]] || { echo "wayland-rig: --size must be WxH" >&2; exit 2; }

rig_user=qvrig
output=HEADLESS-1
# /tmp rather than $TMPDIR: socket paths must stay short (sun_path is 108 bytes).
rig=$(mktemp -d /tmp/qv-wrig.XXXXXX) || exit 125
chmod 755 "$rig"
mkdir -p "$rig/home/.config" "$rig/runtime" "$rig/log" "$rig/pulse"

rig_name=wayland-rig
# shellcheck source=scripts/rig_lib.sh
. "$(dirname "${BASH_SOURCE[0]}")/rig_lib.sh"

for tool in sway swaymsg dbus-daemon pipewire wireplumber /usr/libexec/xdg-desktop-portal \
  /usr/libexec/xdg-desktop-portal-wlr runuser; do
  command -v "$tool" >/dev/null || fail "$tool is not installed (scripts/deps.sh installs it)"
done

# The one unprivileged user sway runs as; made once per machine.
if ! id -u "$rig_user" >/dev/null 2>&1; then
  useradd --system --no-create-home --home-dir /nonexistent --shell /usr/sbin/nologin "$rig_user" \
    2>"$rig/log/useradd.log" || fail "cannot add the user $rig_user"
fi
chown "$rig_user" "$rig/runtime"
chmod 700 "$rig/runtime"

export HOME="$rig/home"
export XDG_CONFIG_HOME="$HOME/.config"
export XDG_RUNTIME_DIR="$rig/runtime"
export PIPEWIRE_RUNTIME_DIR="$rig/runtime"
export XDG_CURRENT_DESKTOP=sway XDG_SESSION_TYPE=wayland
export QT_QPA_PLATFORM=wayland
export QV_WAYLAND_RIG=1 QV_RIG_SIZE=$size QV_RIG_OUTPUT=$output QV_RIG_DIR=$rig
# Keep everything off the caller's own desktop, bus and sound server.
unset DISPLAY WAYLAND_DISPLAY DBUS_SESSION_BUS_ADDRESS SESSION_MANAGER XAUTHORITY PULSE_SERVER SWAYSOCK

# --- sway, headless, as the rig user ----------------------------------------------------------------
cat >"$rig/sway.conf" <<EOF
output $output mode ${size}@60Hz position 0,0 bg #000000 solid_color
default_border none
default_floating_border none
focus_follows_mouse no
EOF
chmod 644 "$rig/sway.conf"
runuser -u "$rig_user" -- env -i PATH="$PATH" XDG_RUNTIME_DIR="$XDG_RUNTIME_DIR" HOME="$rig/runtime" \
  WLR_BACKENDS=headless WLR_LIBINPUT_NO_DEVICES=1 WLR_RENDERER=pixman WLR_HEADLESS_OUTPUTS=1 \
  sway --config "$rig/sway.conf" >"$rig/log/sway.log" 2>&1 &
pids+=($!)
sway_up() {
  local s
  for s in "$XDG_RUNTIME_DIR"/wayland-*; do
    [[ $s == *.lock ]] && continue
    [ -S "$s" ] || continue
    WAYLAND_DISPLAY=${s##*/}
  done
  for s in "$XDG_RUNTIME_DIR"/sway-ipc.*.sock; do [ -S "$s" ] && SWAYSOCK=$s; done
  [ -n "${WAYLAND_DISPLAY:-}" ] && [ -n "${SWAYSOCK:-}" ] && swaymsg -s "$SWAYSOCK" -t get_outputs >/dev/null
}
poll 20 sway_up || fail "sway did not start"
sway_up
export WAYLAND_DISPLAY SWAYSOCK

# --- session bus ------------------------------------------------------------------------------------
# Any user may connect: sway's user is not the one whose clients ask the portal.
start_session_bus "$rig/runtime/bus" "<standard_session_servicedirs/>" '<allow user="*"/>'
# Services the bus starts on demand get the same environment.
dbus-update-activation-environment WAYLAND_DISPLAY XDG_RUNTIME_DIR PIPEWIRE_RUNTIME_DIR \
  XDG_CURRENT_DESKTOP XDG_SESSION_TYPE HOME XDG_CONFIG_HOME SWAYSOCK >/dev/null 2>&1

# --- PipeWire, WirePlumber and the PulseAudio face ------------------------------------------------
pipewire >"$rig/log/pipewire.log" 2>&1 &
pids+=($!)
poll 10 test -S "$XDG_RUNTIME_DIR/pipewire-0" || fail "pipewire did not start"
wireplumber >"$rig/log/wireplumber.log" 2>&1 &
pids+=($!)

if [ "$sound" = 1 ]; then
  pipewire-pulse >"$rig/log/pipewire-pulse.log" 2>&1 &
  pids+=($!)
  export PULSE_SERVER="unix:$XDG_RUNTIME_DIR/pulse/native"
  poll 15 pactl info || fail "pipewire-pulse did not start"
  pactl load-module module-null-sink sink_name=qv_tone rate=44100 channels=2 \
    sink_properties=device.description=QuorvaneTone >/dev/null || fail "cannot make the tone's sink"
  pactl set-default-sink qv_tone && pactl set-default-source qv_tone.monitor
  cat >"$HOME/.asoundrc" <<'EOF'
pcm.!default { type pulse }
ctl.!default { type pulse }
EOF
  mkfifo "$rig/pulse/tone.fifo"
  sox -q -n -t raw -r 44100 -c 2 -b 16 -e signed - synth 0 sine 1000 vol 0.5 \
    >"$rig/pulse/tone.fifo" 2>"$rig/log/sox.log" &
  pids+=($!)
  pacat --playback --device=qv_tone --raw --rate 44100 --channels 2 --format s16le \
    --latency-msec=40 --client-name=qv-rig-tone --stream-name=tone <"$rig/pulse/tone.fifo" \
    >"$rig/log/pacat.log" 2>&1 &
  pids+=($!)
fi

# --- the ScreenCast portal, picking the output without asking --------------------------------------
mkdir -p "$XDG_CONFIG_HOME/xdg-desktop-portal-wlr"
cat >"$XDG_CONFIG_HOME/xdg-desktop-portal-wlr/config" <<EOF
[screencast]
output_name=$output
chooser_type=none
max_fps=60
EOF
/usr/libexec/xdg-desktop-portal-wlr -l INFO -c "$XDG_CONFIG_HOME/xdg-desktop-portal-wlr/config" \
  >"$rig/log/portal-wlr.log" 2>&1 &
pids+=($!)
has_name() {
  dbus-send --session --dest=org.freedesktop.DBus --type=method_call --print-reply \
    /org/freedesktop/DBus org.freedesktop.DBus.NameHasOwner "string:$1" | grep -q 'boolean true'
}
poll 10 has_name org.freedesktop.impl.portal.desktop.wlr || fail "xdg-desktop-portal-wlr did not start"
/usr/libexec/xdg-desktop-portal >"$rig/log/portal.log" 2>&1 &
pids+=($!)
poll 10 has_name org.freedesktop.portal.Desktop || fail "xdg-desktop-portal did not start"

# --- the tray host: waybar with its tray module alone --------------------------------------------
if [ "$tray" = 1 ]; then
  command -v waybar >/dev/null || fail "waybar is not installed (scripts/deps.sh installs it)"
  mkdir -p "$rig/waybar"
  cat >"$rig/waybar/config" <<'EOF'
{ "layer": "top", "position": "top", "height": 24, "modules-right": ["tray"], "tray": { "spacing": 4 } }
EOF
  # A style of its own, so the bar does not change with the packaged one.
  echo 'window#waybar { background: #303030; }' >"$rig/waybar/style.css"
  waybar --config "$rig/waybar/config" --style "$rig/waybar/style.css" >"$rig/log/waybar.log" 2>&1 &
  pids+=($!)
  # Qt puts its icon in a tray only where the watcher says a host is there.
  host_registered() {
    dbus-send --session --dest=org.kde.StatusNotifierWatcher --type=method_call --print-reply \
      /StatusNotifierWatcher org.freedesktop.DBus.Properties.Get string:org.kde.StatusNotifierWatcher \
      string:IsStatusNotifierHostRegistered | grep -q 'boolean true'
  }
  poll 15 host_registered || fail "waybar did not become the StatusNotifierWatcher with a host registered"
fi

# --- the command -------------------------------------------------------------------------------------
run_command "$@"
