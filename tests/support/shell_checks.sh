# What the shell tests share: counted checks, and entering the Wayland rig.
# Source it, then `check DESCRIPTION COMMAND...`; end with `finish NAME`.

failures=0
ok() { echo "ok   - $*"; }
bad() { echo "FAIL - $*"; failures=$((failures + 1)); }
check() { # check DESCRIPTION COMMAND...
  local what=$1; shift
  if "$@"; then ok "$what"; else bad "$what"; fi
}
finish() { # finish NAME: the verdict and the exit code
  if [ "$failures" -ne 0 ]; then
    echo "$1: $failures check(s) failed"
    exit 1
  fi
  echo "$1: all checks passed"
  exit 0
}

# in_wayland_rig [--tray] SCRIPT ARGS -- PACKAGES...: outside the Wayland rig, runs SCRIPT inside one
# (with a tray host if asked; never returns), or skips when a package it needs is not installed;
# inside it, returns.
in_wayland_rig() {
  [ "${QV_WAYLAND_RIG:-}" = 1 ] && return 0
  local rig_options=()
  [ "$1" = --tray ] && { rig_options+=(--tray); shift; }
  local script=$1 p; shift
  local args=()
  while [ $# -gt 0 ] && [ "$1" != -- ]; do args+=("$1"); shift; done
  shift
  for p in "$@"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
      echo "SKIP: $p is not installed (scripts/deps.sh installs it)"
      exit 0
    fi
  done
  exec bash "$root/scripts/wayland-rig.sh" "${rig_options[@]}" -- bash "$script" "${args[@]}"
}

# pipewire_bars NAME LOG: starts a live PipeWire video source of SMPTE bars (700x420, BGRx, 7 bars
# of 100 pixels across the top two thirds) named NAME, and prints its node id once PipeWire has it.
# Its process id goes to LOG.pid (it is called in $(...)): stop_pipewire_bars ends it.
pipewire_bars() {
  gst-launch-1.0 -q videotestsrc is-live=true pattern=smpte ! \
    video/x-raw,format=BGRx,width=700,height=420,framerate=30/1 ! \
    pipewiresink mode=provide stream-properties="p,node.name=$1,media.class=Video/Source" >"$2" 2>&1 &
  echo $! >"$2.pid"
  local id
  for _ in $(seq 100); do
    id=$(pw-cli ls Node | awk -v n="\"$1\"" '/id [0-9]+,/ {id=$2} $1 == "node.name" && $3 == n {print id}' | tr -d ,)
    [ -n "$id" ] && { echo "$id"; return 0; }
    sleep 0.1
  done
  return 1
}
# stop_pipewire_bars DIR: ends the sources whose logs are in DIR (they outlive the rig's PipeWire).
stop_pipewire_bars() {
  local f
  for f in "$1"/*.pid; do [ -f "$f" ] && kill "$(cat "$f")" 2>/dev/null; done
  return 0
}

near() { # near "R G B" R G B: each channel within 40
  local got=($1)
  [ ${#got[@]} = 3 ] || return 1
  local i want=("$2" "$3" "$4")
  for i in 0 1 2; do
    local d=$((got[i] - want[i]))
    [ ${d#-} -le 40 ] || return 1
  done
}
