#!/usr/bin/env bash
# The one list of what Quorvane needs on Debian 12 to build, run and test, and its installer.
# Installs only what is missing: on a machine that has everything it never calls apt-get.
#
#   scripts/deps.sh           install what is missing (needs root, or sudo)
#   scripts/deps.sh --list    print the package list
#   scripts/deps.sh --check   print what is missing; exit 1 if anything is
# With QV_NO_INSTALL=1 it only reports what is missing (for machines where someone else installs).
set -euo pipefail

packages=(
  # build
  build-essential cmake g++ pkg-config git libgtest-dev
  # media libraries: headers only at build time, bound at run time; ffmpeg/ffprobe judge our files
  libavcodec-dev libavformat-dev libavutil-dev libswscale-dev libswresample-dev libavfilter-dev
  libavdevice-dev ffmpeg
  # the screen's pictures to 4:2:0 in SIMD, bound at run time like the media libraries (libswscale without it)
  libyuv0
  # the tray program and its capture devices
  qt6-base-dev libx11-dev libxext-dev libxfixes-dev libasound2-dev libsimpleini-dev xdg-utils
  fonts-dejavu-core
  libxdamage-dev
  libpulse-dev
  libxi-dev
  # the key labels' text (fontconfig finds the face, FreeType draws it)
  libfontconfig-dev libfreetype-dev
  # the Debian package (scripts/package.sh): its tools, man pages from --help, its files' validators;
  # a clean Debian system to prove it in (scripts/package-test.sh); the completion's own library
  debhelper dpkg-dev help2man lintian desktop-file-utils appstream mmdebstrap bash-completion
  # the fuzz targets (libFuzzer and the sanitizers' runtimes; llvm-14 symbolizes their reports)
  clang-14 libclang-rt-14-dev llvm-14
  # the desktop test rig
  xvfb openbox trayer pulseaudio pulseaudio-utils libasound2-plugins alsa-utils sox xdotool
  imagemagick x11-utils x11-xserver-utils
  # the rig's second window manager (--wm icewm): frames and title bars unlike openbox's
  icewm
  # the desktop rig's session bus (the tray program's remote control listens there)
  dbus-daemon dbus-bin
  # moving desktop content: run.sh's sample recording, the bit rate test (xclock, xedit)
  x11-apps
  # a notification service with actions (and dunstctl to work them), started by the tray test that needs it
  dunst
  # the two-monitor desktop of the rig (Xorg with the dummy driver); RandR and Xinerama headers
  xserver-xorg-core xserver-xorg-video-dummy libxrandr-dev libxinerama-dev
  # a German locale made at test time (localedef), to read numbers under
  locales
  # the Wayland rig and the PipeWire screen device (the ScreenCast portal, PipeWire, sway headless)
  sway swaybg pipewire pipewire-bin wireplumber pipewire-pulse xdg-desktop-portal xdg-desktop-portal-wlr
  libpipewire-0.3-dev libdbus-1-dev qt6-wayland
  # a live PipeWire video source with known colours for the PipeWire device's test
  gstreamer1.0-pipewire gstreamer1.0-tools gstreamer1.0-plugins-base
  # key presses (virtual keyboard) and screenshots on the Wayland rig, for the tray program's test
  wtype grim
  # a bar that hosts StatusNotifierItems (the watcher) on the Wayland rig, for the tray icon's test
  waybar
  # the Wayland clipboard read by the tray test, and its stand-in GlobalShortcuts portal (python3 dbus)
  wl-clipboard python3-dbus python3-gi
  # the Wayland rig's GNOME desktop (headless mutter, its portal backend; gdbus seeds its permission
  # store) and a native Wayland window of known colour on either desktop
  mutter xdg-desktop-portal-gnome libglib2.0-bin foot
  # X programs on the GNOME rig (--xwayland: the benchmark's moving content)
  xwayland
  # (python3-gi above also drives key presses on the GNOME rig: tests/support/gnome_keys.py)
  # the benchmark's other recorder on Wayland: GStreamer's portal stream into x264enc
  gstreamer1.0-plugins-ugly
)

missing() {
  local p status
  for p in "${packages[@]}"; do
    status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
    [ "$status" = "install ok installed" ] || echo "$p"
  done
}

case "${1:-}" in
  --list) printf '%s\n' "${packages[@]}"; exit 0 ;;
  --check)
    todo=$(missing)
    [ -z "$todo" ] && exit 0
    echo "missing packages:" $todo
    exit 1 ;;
  "") ;;
  *) echo "usage: $0 [--list|--check]" >&2; exit 2 ;;
esac

todo=$(missing)
if [ -z "$todo" ]; then
  echo "deps: all ${#packages[@]} packages present"
  exit 0
fi

if [ "${QV_NO_INSTALL:-}" = 1 ]; then
  echo "deps: missing, not installed (QV_NO_INSTALL=1):" $todo >&2
  exit 0
fi
echo "deps: installing" $todo
sudo=()
if [ "$(id -u)" != 0 ]; then
  command -v sudo >/dev/null || { echo "deps: need root (or sudo) to install packages" >&2; exit 1; }
  sudo=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
# apt's and dpkg's progress would bury the build and test output: show it only when it failed.
log=$(mktemp)
trap 'rm -f "$log"' EXIT
# shellcheck disable=SC2086 # one word per package
if ! { "${sudo[@]}" apt-get update -qq && "${sudo[@]}" apt-get install -y -qq $todo; } </dev/null >"$log" 2>&1; then
  cat "$log" >&2
  echo "deps: installing failed" >&2
  exit 1
fi
echo "deps: installed" $todo
