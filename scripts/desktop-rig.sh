#!/usr/bin/env bash
# Desktop rig: a private desktop and sound server for one command, torn down afterwards.
#
#   scripts/desktop-rig.sh [--depth 16|24] [--monitors 1|2] [--size WxH] [--scale N] [--wm openbox|icewm] [--no-sound] [--no-tray] -- COMMAND [ARGS...]
#
# Starts, on a free display number, Xvfb (1920x1080 or --size's, 24-bit or 16-bit), openbox as window
# manager (--wm icewm: IceWM, whose frames and title bars differ, without its task bar),
# trayer as tray host and a PulseAudio server whose null sink plays a continuous 1 kHz sine; the
# sink's monitor is the default source and ALSA's "default" device goes through the pulse plugin,
# so `arecord -D default` records the tone in real time. A second null sink, qv_voice, plays 440 Hz:
# its monitor "qv_voice.monitor" stands for a microphone. Everything lives under one temp folder
# (HOME, XDG_RUNTIME_DIR, XDG_CONFIG_HOME, logs), so it works as root with no sound card and no
# user session, and never touches the caller's own desktop or sound settings.
#
# --monitors 2 gives a 3840x1080 desktop of two 1920x1080 monitors side by side, as RandR 1.5
# monitors ("LEFT", the primary, at 0,0 and "RIGHT" at 1920,0) and as Xinerama heads. Xvfb cannot
# (it ignores `xrandr --setmonitor` and puts every Xinerama head at 0,0), so that desktop is Xorg
# with the dummy video driver, which needs root. --scale N sets Xft.dpi to N x 96, which Qt (and
# other toolkits) take as a scale factor of N.
#
# COMMAND sees DISPLAY, HOME, XDG_RUNTIME_DIR, XDG_CONFIG_HOME, PULSE_SERVER, DBUS_SESSION_BUS_ADDRESS
# (a session bus of the rig's own), QV_RIG=1, QV_RIG_DEPTH, QV_RIG_MONITORS, QV_RIG_WM and QV_RIG_DIR;
# the rig exits with COMMAND's exit code (125 if the rig itself could not start).
# `x-selection-owner` (from scripts/x_selection_owner.c) is on PATH for tray checks.
# --no-tray leaves the tray host out: a desktop like stock GNOME's, where no program has a tray icon.
set -u

usage() {
  echo "usage: $0 [--depth 16|24] [--monitors 1|2] [--size WxH] [--scale N] [--wm openbox|icewm] [--no-sound] [--no-tray] -- COMMAND [ARGS...]" >&2
  exit 2
}

depth=24
monitors=1
size=1920x1080
scale=
wm=openbox
sound=1
tray=1
while [ $# -gt 0 ]; do
  case "$1" in
    --depth) [ $# -ge 2 ] || usage; depth=$2; shift 2 ;;
    --depth=*) depth=${1#*=}; shift ;;
    --monitors) [ $# -ge 2 ] || usage; monitors=$2; shift 2 ;;
    --monitors=*) monitors=${1#*=}; shift ;;
    --size) [ $# -ge 2 ] || usage; size=$2; shift 2 ;;
    --size=*) size=${1#*=}; shift ;;
    --scale) [ $# -ge 2 ] || usage; scale=$2; shift 2 ;;
    --scale=*) scale=${1#*=}; shift ;;
    --wm) [ $# -ge 2 ] || usage; wm=$2; shift 2 ;;
    --wm=*) wm=${1#*=}; shift ;;
    --no-sound) sound=0; shift ;;
    --no-tray) tray=0; shift ;;
    --) shift; break ;;
    -h|--help) usage ;;
    -*) usage ;;
    *) break ;;
  esac
done
[ $# -gt 0 ] || usage
case "$depth" in 16|24) ;; *) echo "desktop-rig: depth must be 16 or 24" >&2; exit 2 ;; esac
case "$monitors" in 1|2) ;; *) echo "desktop-rig: monitors must be 1 or 2" >&2; exit 2 ;; esac
case "$scale" in ""|[1-4]) ;; *) echo "desktop-rig: scale must be 1 to 4" >&2; exit 2 ;; esac
case "$wm" in openbox|icewm) ;; *) echo "desktop-rig: wm must be openbox or icewm" >&2; exit 2 ;; esac
[[ $size =~ ^[1-9][0-9]{2,4}x[1-9][0-9]{2,4}$ ]] || { echo "desktop-rig: size must be WIDTHxHEIGHT, such as 1366x768" >&2; exit 2; }
if [ "$monitors" = 2 ] && [ "$size" != 1920x1080 ]; then
  echo "desktop-rig: --size is for one monitor (two are 1920x1080 each)" >&2
  exit 2
fi
if [ "$monitors" = 2 ] && [ "$(id -u)" != 0 ]; then
  echo "desktop-rig: --monitors 2 runs Xorg with the dummy driver, which needs root" >&2
  exit 125
fi

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# /tmp rather than $TMPDIR: the sound server's socket path must stay short (sun_path is 108 bytes).
rig=$(mktemp -d /tmp/qv-rig.XXXXXX) || exit 125
mkdir -p "$rig/home/.config" "$rig/runtime" "$rig/log" "$rig/bin" "$rig/pulse"
chmod 700 "$rig/runtime"

rig_name=desktop-rig
# shellcheck source=scripts/rig_lib.sh
. "$here/rig_lib.sh"
rig_after_stop() {
  [ -n "${display:-}" ] && rm -f "/tmp/.X${display}-lock" "/tmp/.X11-unix/X${display}" 2>/dev/null
  return 0
}

export HOME="$rig/home"
export XDG_CONFIG_HOME="$HOME/.config"
export XDG_RUNTIME_DIR="$rig/runtime"
export QV_RIG=1 QV_RIG_DEPTH=$depth QV_RIG_MONITORS=$monitors QV_RIG_DIR=$rig
export QT_QPA_PLATFORM=xcb
export PATH="$rig/bin:$PATH"
# Keep the tests off any session bus or compositor of the caller: the tray must be the XEmbed one
# (the rig's own bus comes later).
unset DBUS_SESSION_BUS_ADDRESS WAYLAND_DISPLAY SESSION_MANAGER XAUTHORITY

cc -O2 -o "$rig/bin/x-selection-owner" "$here/x_selection_owner.c" -lX11 2>"$rig/log/cc.log" \
  || fail "cannot build x-selection-owner"

# --- X server on a free display number ------------------------------------------------------------
# Numbers from 100 up stay clear of hand-started servers; a lock file or socket means taken, and a
# server that still loses the race (another rig starting at the same moment) makes us try the next.
# The dummy driver validates modes against its 300 MHz clock limit: one 3840x1080 mode at 30 Hz.
write_xorg_conf() {
  cat >"$rig/xorg.conf" <<EOF
Section "ServerFlags"
  Option "AutoAddDevices" "false"
  Option "AutoAddGPU" "false"
  Option "DontVTSwitch" "true"
EndSection
Section "Device"
  Identifier "dummy"
  Driver "dummy"
  VideoRam 65536
EndSection
Section "Monitor"
  Identifier "wide"
  HorizSync 5.0-1000.0
  VertRefresh 5.0-200.0
  Modeline "3840x1080" 147.3 3840 3872 4352 4384 1080 1096 1104 1120
EndSection
Section "Screen"
  Identifier "screen"
  Device "dummy"
  Monitor "wide"
  DefaultDepth $depth
  SubSection "Display"
    Depth $depth
    Virtual 3840 1080
    Modes "3840x1080"
  EndSubSection
EndSection
EOF
}

start_x_server() { # start_x_server N: the server for display :N, in the background
  if [ "$monitors" = 2 ]; then
    Xorg ":$1" -config "$rig/xorg.conf" -configdir "$rig/xorg.conf.d" -logfile "$rig/log/xorg.log" \
      -nolisten tcp -noreset -sharevts -novtswitch >"$rig/log/xorg.stderr.log" 2>&1 &
  else
    Xvfb ":$1" -screen 0 "${size}x$depth" -nolisten tcp -noreset >"$rig/log/xvfb.log" 2>&1 &
  fi
}

# Two monitors on the one output: the left one keeps the output (and so is primary), the right one
# is a virtual monitor of its own.
split_into_monitors() {
  local output
  output=$(xrandr 2>/dev/null | awk '/ connected/ {print $1; exit}')
  [ -n "$output" ] || return 1
  xrandr --setmonitor '*LEFT' 1920/508x1080/286+0+0 "$output" &&
    xrandr --setmonitor RIGHT 1920/508x1080/286+1920+0 none &&
    [ "$(xrandr --listmonitors | head -n1)" = "Monitors: 2" ]
}

[ "$monitors" = 2 ] && { mkdir -p "$rig/xorg.conf.d"; write_xorg_conf; }
display=
for n in $(seq 100 399); do
  [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] && continue
  start_x_server "$n"
  xpid=$!
  deadline=$((SECONDS + 10))
  while alive "$xpid" && ! DISPLAY=":$n" xdpyinfo >/dev/null 2>&1; do
    [ $SECONDS -ge $deadline ] && break
    sleep 0.1
  done
  if alive "$xpid" && DISPLAY=":$n" xdpyinfo >/dev/null 2>&1; then
    display=$n
    pids+=("$xpid")
    break
  fi
  stop_pid "$xpid"
done
[ -n "$display" ] || fail "no X server could be started"
export DISPLAY=":$display"
if [ "$monitors" = 2 ]; then
  split_into_monitors >"$rig/log/xrandr.log" 2>&1 || fail "RandR did not take the two monitors"
fi
if [ -n "$scale" ]; then
  # As a desktop's settings scale it: Qt takes its factor from Xft.dpi (QT_SCALE_FACTOR would
  # multiply it again).
  echo "Xft.dpi: $((scale * 96))" | xrdb -merge - 2>"$rig/log/xrdb.log" || fail "cannot set Xft.dpi"
fi

# --- window manager ---------------------------------------------------------------------------------
export QV_RIG_WM=$wm
if [ "$wm" = icewm ]; then
  # Its own task bar would take the bottom of the screen and the tray from trayer.
  mkdir -p "$HOME/.icewm"
  echo "ShowTaskBar=0" >"$HOME/.icewm/preferences"
  icewm >"$rig/log/icewm.log" 2>&1 &
  wm_name='"IceWM'
else
  openbox --sm-disable >"$rig/log/openbox.log" 2>&1 &
  wm_name='"Openbox"'
fi
pids+=($!)
wm_ready() {
  local id
  id=$(xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null) || return 1
  id=${id##* }
  [[ $id == 0x* ]] && xprop -id "$id" _NET_WM_NAME 2>/dev/null | grep -q "= $wm_name"
}
poll 15 wm_ready || fail "$wm did not take over the display"

# --- tray host ------------------------------------------------------------------------------------
if [ "$tray" = 1 ]; then
  trayer --edge top --align right --SetDockType true --SetPartialStrut true --expand true \
    --widthtype request --transparent true --alpha 0 --tint 0x303030 --height 24 \
    >"$rig/log/trayer.log" 2>&1 &
  pids+=($!)
  poll 15 x-selection-owner _NET_SYSTEM_TRAY_S0 || fail "trayer did not claim the system tray"
fi

# --- sound server with a 1 kHz tone ----------------------------------------------------------------
if [ "$sound" = 1 ]; then
  export PULSE_SERVER="unix:$rig/pulse/native"
  mkdir -p "$XDG_CONFIG_HOME/pulse"
  # 44.1 kHz end to end, so the tone reaches a 44.1 kHz capture without resampling.
  cat >"$XDG_CONFIG_HOME/pulse/daemon.conf" <<EOF
default-sample-rate = 44100
alternate-sample-rate = 48000
default-sample-channels = 2
flat-volumes = no
EOF
  echo "autospawn = no" >"$XDG_CONFIG_HOME/pulse/client.conf"
  cat >"$rig/pulse/default.pa" <<EOF
load-module module-native-protocol-unix auth-anonymous=1 socket=$rig/pulse/native
load-module module-null-sink sink_name=qv_tone rate=44100 channels=2 sink_properties=device.description=QuorvaneTone
load-module module-null-sink sink_name=qv_voice rate=44100 channels=2 sink_properties=device.description=QuorvaneVoice
set-default-sink qv_tone
set-default-source qv_tone.monitor
EOF
  cat >"$HOME/.asoundrc" <<'EOF'
pcm.!default { type pulse }
ctl.!default { type pulse }
EOF
  pulseaudio -n -F "$rig/pulse/default.pa" --exit-idle-time=-1 --use-pid-file=no \
    --daemonize=no --realtime=no --high-priority=no --log-target=stderr \
    >"$rig/log/pulseaudio.log" 2>&1 &
  pids+=($!)
  poll 15 pactl info || fail "PulseAudio did not start"

  # A never-ending sine fed through a fifo into a sink, so each end is a process of our own to stop.
  play_sine() {  # SINK HERTZ
    mkfifo "$rig/pulse/$1.fifo"
    sox -q -n -t raw -r 44100 -c 2 -b 16 -e signed - synth 0 sine "$2" vol 0.5 \
      >"$rig/pulse/$1.fifo" 2>"$rig/log/sox-$1.log" &
    pids+=($!)
    pacat --playback --device="$1" --raw --rate 44100 --channels 2 --format s16le \
      --latency-msec=40 --client-name="qv-rig-$1" --stream-name=tone <"$rig/pulse/$1.fifo" \
      >"$rig/log/pacat-$1.log" 2>&1 &
    pids+=($!)
  }
  # What the desktop plays: 1 kHz into the default sink. A second source, as a microphone would be:
  # 440 Hz into a sink of its own, whose monitor is a source apart from the default one.
  play_sine qv_tone 1000
  play_sine qv_voice 440

  # Capture clients get silence for the first seconds after the server starts: wait for the tone.
  tone_ready() {
    arecord -q -D default -f S16_LE -r 44100 -c 2 -s 8820 -t raw "$rig/pulse/probe.raw" || return 1
    [ -n "$(tr -d '\0' <"$rig/pulse/probe.raw" | head -c 64)" ]
  }
  poll 20 tone_ready || fail "the tone cannot be recorded through ALSA"
  rm -f "$rig/pulse/probe.raw"
fi

# --- session bus ------------------------------------------------------------------------------------
# A bus of the rig's own, as a desktop session has (the tray program takes commands on it). It starts
# no services on demand (no accessibility bus, no portal): what is on it, the rig or a test put
# there. With no StatusNotifierItem watcher on it the tray stays the XEmbed one. Its socket is not
# $XDG_RUNTIME_DIR/bus, so a command that unsets DBUS_SESSION_BUS_ADDRESS has no bus at all.
mkdir -p "$rig/dbus"
start_session_bus "$rig/dbus/bus"

# --- the command -------------------------------------------------------------------------------------
run_command "$@"
