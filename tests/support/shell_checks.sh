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

wait_until() { # wait_until SECONDS COMMAND...: true as soon as COMMAND is, false after SECONDS
  local end=$((SECONDS + $1)); shift
  until "$@"; do [ $SECONDS -ge $end ] && return 1; sleep 0.2; done
}

# in_wayland_rig [RIG OPTIONS] SCRIPT ARGS -- PACKAGES...: outside the Wayland rig, runs SCRIPT inside
# one (given the rig's options, --tray or --desktop gnome; never returns), or skips when a package it
# needs is not installed; inside it, returns.
in_wayland_rig() {
  [ "${QV_WAYLAND_RIG:-}" = 1 ] && return 0
  local rig_options=()
  while [ "$1" = --tray ] || [ "$1" = --desktop ]; do
    if [ "$1" = --tray ]; then rig_options+=(--tray); shift; else rig_options+=("$1" "$2"); shift 2; fi
  done
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

# seed_screen_permission: a permission to share the GNOME rig's monitor, as a returning user who chose
# "Remember" has, written into the desktop's permission store; prints the restore token to hand in.
seed_screen_permission() {
  local token store
  token=$(cat /proc/sys/kernel/random/uuid)
  store="gdbus call --session --dest org.freedesktop.impl.portal.PermissionStore
    --object-path /org/freedesktop/impl/portal/PermissionStore --method org.freedesktop.impl.portal.PermissionStore"
  $store.SetPermission screencast true "$token" "" "['yes']" >/dev/null &&
    $store.SetValue screencast true "$token" \
      "<('GNOME', uint32 1, <(int64 0, int64 0, [(uint32 0, uint32 1, <'MetaVendor:MetaVirtualMonitor:0x00'>)])>)>" \
      >/dev/null && echo "$token"
}

# colour_window NAME RRGGBB [WxH]: a native Wayland window (foot) filled with one colour, titled NAME;
# its process id is printed.
colour_window() {
  foot -o "colors.background=$2" -o "colors.foreground=$2" -o "cursor.color=$2 $2" -o main.pad=0x0 ${3:+--window-size-pixels=$3} \
    -T "$1" sleep 600 >/dev/null 2>&1 &
  echo $!
}
