# What the rig scripts share: the services they start and stop, waiting, failing with the logs.
# The sourcing script sets `rig` (its folder, with log/*.log) and `rig_name`, then starts services
# into `pids` and COMMAND as `cmd_pid`; leaving it stops them in reverse order and removes `rig`.

pids=()      # services in start order; stopped in reverse
cmd_pid=

# A zombie still answers kill -0; only a process that has not exited counts as alive.
alive() {
  [ -r "/proc/$1/stat" ] || return 1
  local stat
  { stat=$(<"/proc/$1/stat"); } 2>/dev/null || return 1
  stat=${stat##*) }
  [ "${stat%% *}" != Z ]
}

stop_pid() {
  local pid=$1 i
  kill -TERM "$pid" 2>/dev/null || return 0
  for i in $(seq 30); do alive "$pid" || break; sleep 0.1; done
  alive "$pid" && kill -KILL "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null
  return 0
}

cleanup() {
  local i
  trap '' INT TERM
  [ -n "$cmd_pid" ] && stop_pid "$cmd_pid"
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do stop_pid "${pids[i]}"; done
  # What a rig leaves outside its folder (the X server's lock and socket) goes with it.
  [ "$(type -t rig_after_stop)" = function ] && rig_after_stop
  rm -rf "$rig"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

fail() {
  echo "$rig_name: $*" >&2
  local f
  for f in "$rig"/log/*.log; do
    [ -s "$f" ] || continue
    echo "--- ${f##*/} (last lines) ---" >&2
    tail -n 15 "$f" >&2
  done
  exit 125
}

# poll SECONDS COMMAND...: true as soon as COMMAND succeeds, false after SECONDS.
poll() {
  local deadline=$((SECONDS + $1)); shift
  until "$@" >/dev/null 2>&1; do
    [ $SECONDS -ge $deadline ] && return 1
    sleep 0.1
  done
}

# start_session_bus SOCKET [OPTIONS [RULES]]: a dbus-daemon of the rig's own listening at SOCKET, where
# anything may own and send anything; OPTIONS and RULES are added to its config and to its default
# policy. Exports DBUS_SESSION_BUS_ADDRESS and waits until the bus answers.
start_session_bus() {
  cat >"$rig/session.conf" <<EOF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:path=$1</listen>
  <auth>EXTERNAL</auth>
  ${2:-}
  <policy context="default">
    ${3:-}
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
EOF
  dbus-daemon --config-file="$rig/session.conf" --nofork --nopidfile >"$rig/log/dbus.log" 2>&1 &
  pids+=($!)
  export DBUS_SESSION_BUS_ADDRESS="unix:path=$1"
  poll 10 dbus-send --session --dest=org.freedesktop.DBus --type=method_call --print-reply \
    /org/freedesktop/DBus org.freedesktop.DBus.ListNames || fail "the session bus did not start"
}

# Runs COMMAND in the background, so INT/TERM reach the trap at once, with our stdin and with the
# SIGINT/SIGQUIT that bash ignores in background jobs restored (tests signal their own children);
# exits with its code.
run_command() {
  exec 3<&0
  ( trap - INT QUIT; exec "$@" ) <&3 3<&- &
  cmd_pid=$!
  exec 3<&-
  wait "$cmd_pid"
  local rc=$?
  cmd_pid=
  exit "$rc"
}
