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

# in_wayland_rig SCRIPT ARGS -- PACKAGES...: outside the Wayland rig, runs SCRIPT inside one (and
# never returns), or skips when a package it needs is not installed; inside it, returns.
in_wayland_rig() {
  [ "${QV_WAYLAND_RIG:-}" = 1 ] && return 0
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
  exec bash "$root/scripts/wayland-rig.sh" -- bash "$script" "${args[@]}"
}
