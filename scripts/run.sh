#!/usr/bin/env bash
# Installs what is missing, builds Quorvane and starts the tray program: on your desktop when
# DISPLAY names a reachable X server, otherwise on a private headless desktop (the test rig) until
# Ctrl-C. Until the tray program is part of the build, it runs the rig's smoke test instead.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
program="$root/build/bin/quorvane"

# The program refuses to start without Options.ini in its settings folder. A first run gets the
# default settings kept in scripts/default-options.ini; an existing file is never touched.
install_default_options() {
  local dir="${XDG_CONFIG_HOME:-$HOME/.config}/Quorvane"
  local defaults="$root/scripts/default-options.ini"
  [ -f "$dir/Options.ini" ] && return 0
  if [ ! -f "$defaults" ]; then
    echo "run: no default settings in the sources yet ($defaults); Options.ini not installed" >&2
    return 0
  fi
  mkdir -p "$dir"
  cp "$defaults" "$dir/Options.ini"
  echo "run: installed default settings in $dir/Options.ini"
}

if [ "${1:-}" = --inside-rig ]; then
  # On the private desktop, recordings still go to the caller's documents folder.
  if [ -n "${QV_CALLER_DOCUMENTS:-}" ]; then
    mkdir -p "$QV_CALLER_DOCUMENTS"
    export XDG_DOCUMENTS_DIR="$QV_CALLER_DOCUMENTS"
  fi
  install_default_options
  echo "run: Quorvane on the private desktop $DISPLAY (screenshot: DISPLAY=$DISPLAY import -window root shot.png); Ctrl-C ends it"
  exec "$program"
fi

bash scripts/deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release
# Only the program itself: the tests are test.sh's business. (Read the target list whole: grep -q
# closing the pipe early would fail the listing under pipefail.)
targets=$(cmake --build build --target help)
if grep -qx '\.\.\. quorvane' <<<"$targets"; then
  cmake --build build --target quorvane -j2
fi

if [ ! -x "$program" ]; then
  echo "run: the tray program is not built yet; running the desktop rig smoke test instead"
  exec bash scripts/desktop-rig.sh -- bash tests/rig/smoke_test.sh
fi

if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
  install_default_options
  exec "$program"
fi

echo "run: no X display; starting Quorvane on a private headless desktop"
QV_CALLER_DOCUMENTS="${XDG_DOCUMENTS_DIR:-$HOME/Documents}" \
  exec bash scripts/desktop-rig.sh -- bash "$root/scripts/run.sh" --inside-rig
