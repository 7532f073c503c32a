#!/usr/bin/env bash
# Wayland rig: a private headless Wayland desktop with a session bus, PipeWire and the ScreenCast
# portal for one command, torn down afterwards.
#
#   scripts/wayland-rig.sh [--desktop sway|gnome] [--size WxH] [--no-sound] [--tray] [--xwayland] -- COMMAND...
#
# sway (the default): headless sway (one output, HEADLESS-1, of --size, default 1280x720, pixman
# renderer, no input devices, no bar) as an ordinary user "qvrig" (sway refuses to run as root), and
# xdg-desktop-portal-wlr set to hand out HEADLESS-1 without asking, with a small preload of ours
# (scripts/xdpw-shm-shim.c, built here) that lets it stream shared memory from a GPU-less sway.
# With --tray, waybar (its tray module only) is the session's StatusNotifierWatcher and host, as on
# a wlroots desktop with a bar; the command starts once the watcher is on the bus and a host has
# registered with it.
# gnome: headless mutter with one virtual monitor of --size (software rendering) and
# xdg-desktop-portal-gnome, which asks in its own dialog unless a kept permission is handed in
# (tests seed one in the permission store). No tray host (--tray is refused): stock GNOME has none.
# With --xwayland mutter also runs Xwayland, and COMMAND gets its DISPLAY (X programs on the desktop,
# for the benchmark's moving content).
# Both: a session bus of our own, PipeWire and WirePlumber, pipewire-pulse (unless --no-sound) with a
# null sink playing a 1 kHz sine whose monitor is the default source, and xdg-desktop-portal seeing
# only the one backend meant (XDG_DESKTOP_PORTAL_DIR).
#
# COMMAND sees WAYLAND_DISPLAY, DBUS_SESSION_BUS_ADDRESS, XDG_RUNTIME_DIR, XDG_CURRENT_DESKTOP (sway
# or GNOME), HOME, XDG_CONFIG_HOME, PULSE_SERVER, PIPEWIRE_RUNTIME_DIR, SWAYSOCK (sway),
# QT_QPA_PLATFORM=wayland, QV_WAYLAND_RIG=1, QV_RIG_DESKTOP (sway or gnome), QV_RIG_SIZE (WxH),
# QV_RIG_OUTPUT and QV_RIG_DIR, and no DISPLAY. The rig exits with COMMAND's exit code (125 if the
# rig itself could not start).
set -u

usage() {
  echo "usage: $0 [--desktop sway|gnome] [--size WxH] [--no-sound] [--tray] [--xwayland] -- COMMAND [ARGS...]" >&2
  exit 2
}

size=1280x720
sound=1
tray=0
desktop=sway
xwayland=0
while [ $# -gt 0 ]; do
  case "$1" in
    --desktop) [ $# -ge 2 ] || usage; desktop=$2; shift 2 ;;
    --desktop=*) desktop=${1#*=}; shift ;;
    --size) [ $# -ge 2 ] || usage; size=$2; shift 2 ;;
    --size=*) size=${1#*=}; shift ;;
    --no-sound) sound=0; shift ;;
    --tray) tray=1; shift ;;
    --xwayland) xwayland=1; shift ;;
    --) shift; break ;;
    -h|--help) usage ;;
    -*) usage ;;
    *) break ;;
  esac
done
[ $# -gt 0 ] || usage
[[ $size =~ ^[0-9]+x[0-9]+$ ]] || { echo "wayland-rig: --size must be WxH" >&2; exit 2; }
case "$desktop" in
  sway | gnome) ;;
  *) echo "wayland-rig: --desktop is sway or gnome" >&2; exit 2 ;;
esac
[ "$desktop" = gnome ] && [ "$tray" = 1 ] && { echo "wayland-rig: GNOME has no tray host; --tray is for sway" >&2; exit 2; }
[ "$desktop" = sway ] && [ "$xwayland" = 1 ] && { echo "wayland-rig: --xwayland is for GNOME" >&2; exit 2; }

rig_user=qvrig
# /tmp rather than $TMPDIR: socket paths must stay short (sun_path is 108 bytes).
rig=$(mktemp -d /tmp/qv-wrig.XXXXXX) || exit 125
chmod 755 "$rig"
mkdir -p "$rig/home/.config" "$rig/runtime" "$rig/log" "$rig/pulse" "$rig/portals"
chmod 700 "$rig/runtime"

rig_name=wayland-rig
here=$(dirname "${BASH_SOURCE[0]}")
# shellcheck source=scripts/rig_lib.sh
. "$here/rig_lib.sh"

tools=(dbus-daemon pipewire wireplumber /usr/libexec/xdg-desktop-portal)
if [ "$desktop" = sway ]; then
  tools+=(sway swaymsg /usr/libexec/xdg-desktop-portal-wlr runuser cc)
else
  tools+=(mutter /usr/libexec/xdg-desktop-portal-gnome gdbus)
fi
for tool in "${tools[@]}"; do
  command -v "$tool" >/dev/null || fail "$tool is not installed (scripts/deps.sh installs it)"
done

export HOME="$rig/home"
export XDG_CONFIG_HOME="$HOME/.config"
export XDG_RUNTIME_DIR="$rig/runtime"
export PIPEWIRE_RUNTIME_DIR="$rig/runtime"
export XDG_SESSION_TYPE=wayland
export QT_QPA_PLATFORM=wayland
# Only the backend of this desktop: another one installed on the machine would take interfaces.
export XDG_DESKTOP_PORTAL_DIR="$rig/portals"
# Keep everything off the caller's own desktop, bus and sound server (GNOME's Xwayland sets its own DISPLAY).
unset DISPLAY WAYLAND_DISPLAY DBUS_SESSION_BUS_ADDRESS SESSION_MANAGER XAUTHORITY PULSE_SERVER SWAYSOCK

has_name() {
  dbus-send --session --dest=org.freedesktop.DBus --type=method_call --print-reply \
    /org/freedesktop/DBus org.freedesktop.DBus.NameHasOwner "string:$1" | grep -q 'boolean true'
}

# --- sway, headless, as the rig user ----------------------------------------------------------------
start_sway() {
  output=HEADLESS-1
  export XDG_CURRENT_DESKTOP=sway
  # The one unprivileged user sway runs as; made once per machine.
  if ! id -u "$rig_user" >/dev/null 2>&1; then
    useradd --system --no-create-home --home-dir /nonexistent --shell /usr/sbin/nologin "$rig_user" \
      2>"$rig/log/useradd.log" || fail "cannot add the user $rig_user"
  fi
  chown "$rig_user" "$rig/runtime"
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
  # Any user may connect: sway's user is not the one whose clients ask the portal.
  start_session_bus "$rig/runtime/bus" "<standard_session_servicedirs/>" '<allow user="*"/>'
}

# xdg-desktop-portal-wlr 0.7 starts a cast only after the compositor offered a GPU buffer format, which
# a pixman sway never does; the preload repeats its shared-memory offer as one, and the cast streams
# shared memory. A stand-in for a newer backend on this test desktop only.
start_sway_portal() {
  cc -O2 -shared -fPIC -o "$rig/xdpw-shm-shim.so" "$here/xdpw-shm-shim.c" -ldl 2>"$rig/log/shim.log" ||
    fail "cannot build the portal backend's preload"
  mkdir -p "$XDG_CONFIG_HOME/xdg-desktop-portal-wlr"
  cat >"$XDG_CONFIG_HOME/xdg-desktop-portal-wlr/config" <<EOF
[screencast]
output_name=$output
chooser_type=none
max_fps=60
EOF
  LD_PRELOAD="$rig/xdpw-shm-shim.so" /usr/libexec/xdg-desktop-portal-wlr -l INFO \
    -c "$XDG_CONFIG_HOME/xdg-desktop-portal-wlr/config" >"$rig/log/portal-wlr.log" 2>&1 &
  pids+=($!)
  poll 10 has_name org.freedesktop.impl.portal.desktop.wlr || fail "xdg-desktop-portal-wlr did not start"
}

# --- GNOME: headless mutter with a virtual monitor ------------------------------------------------------
start_gnome() {
  export XDG_CURRENT_DESKTOP=GNOME
  # mutter owns its names on the bus, and the portal finds the screen casts there.
  start_session_bus "$rig/runtime/bus" "<standard_session_servicedirs/>"
  WAYLAND_DISPLAY=wayland-qv
  local x11=--no-x11
  [ "$xwayland" = 1 ] && x11=
  mutter --wayland --headless $x11 --sm-disable --virtual-monitor "$size" \
    --wayland-display="$WAYLAND_DISPLAY" >"$rig/log/mutter.log" 2>&1 &
  pids+=($!)
  poll 30 has_name org.gnome.Mutter.ScreenCast || fail "mutter did not start"
  poll 10 test -S "$XDG_RUNTIME_DIR/$WAYLAND_DISPLAY" || fail "mutter's Wayland socket did not appear"
  export WAYLAND_DISPLAY
  if [ "$xwayland" = 1 ]; then
    x_display() { DISPLAY=$(sed -n 's/.*Using public X11 display \(:[0-9]*\).*/\1/p' "$rig/log/mutter.log" | head -n1); [ -n "$DISPLAY" ]; }
    poll 20 x_display || fail "mutter did not start Xwayland"
    x_display
    # mutter admits X clients by the cookie it wrote beside its socket.
    XAUTHORITY=$(ls "$XDG_RUNTIME_DIR"/.mutter-Xwaylandauth.* 2>/dev/null | head -n1)
    export DISPLAY XAUTHORITY
  fi
  output=$(gdbus call --session --dest org.gnome.Mutter.DisplayConfig --object-path /org/gnome/Mutter/DisplayConfig \
    --method org.gnome.Mutter.DisplayConfig.GetCurrentState 2>/dev/null | grep -o "('Meta-[0-9]*'" | head -n1 | tr -d "('")
  output=${output:-Meta-0}
}

start_gnome_portal() {
  GDK_BACKEND=wayland /usr/libexec/xdg-desktop-portal-gnome >"$rig/log/portal-gnome.log" 2>&1 &
  pids+=($!)
  poll 15 has_name org.freedesktop.impl.portal.desktop.gnome || fail "xdg-desktop-portal-gnome did not start"
}

start_$desktop
export QV_WAYLAND_RIG=1 QV_RIG_DESKTOP=$desktop QV_RIG_SIZE=$size QV_RIG_OUTPUT=$output QV_RIG_DIR=$rig
# Services the bus starts on demand (the permission store) get the same environment.
dbus-update-activation-environment WAYLAND_DISPLAY XDG_RUNTIME_DIR PIPEWIRE_RUNTIME_DIR XDG_DESKTOP_PORTAL_DIR \
  XDG_CURRENT_DESKTOP XDG_SESSION_TYPE HOME XDG_CONFIG_HOME ${SWAYSOCK:+SWAYSOCK} >/dev/null 2>&1

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

# --- the ScreenCast portal ---------------------------------------------------------------------------
cp "/usr/share/xdg-desktop-portal/portals/$([ "$desktop" = sway ] && echo wlr || echo gnome).portal" "$rig/portals/"
start_${desktop}_portal
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
