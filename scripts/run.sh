#!/usr/bin/env bash
# Installs what is missing, builds Quorvane and starts the tray program.
#   - With a reachable X display (DISPLAY): the program starts in your tray (on a desktop without
#     one, in a small window of its own) and runs until you pick "Exit". At its first start it
#     writes its settings to ~/.config/Quorvane/Options.ini and says so.
#   - Without one: the program starts on a private headless desktop (the test rig) with a clock and
#     a moving pointer on it, records five seconds of that whole screen with sound through its
#     default hotkeys (key presses sent with xdotool), ends, and this prints where the file is and
#     what ffprobe says of it. Its settings, recordings and logs go to a folder of this run's own
#     (build/run/), never to your home folder.
# The three programs are built (the tray program, quorvane-rec, quorvane-convert), not the tests;
# the build's output goes to a log file, shown only when the build fails.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
program="$root/build/bin/quorvane"

# Inside the rig: the demonstration recording, driven the way a user drives the program.
if [ "${1:-}" = --inside-rig ]; then
  run=$QV_RUN_FOLDER
  out="$run/Documents/Quorvane"
  options="$run/config/Quorvane/Options.ini"
  if [ ! -f "$options" ]; then
    mkdir -p "$(dirname "$options")"
    # The packaged defaults (hotkeys Ctrl+Shift+F9 and F10 among them), with the whole screen and
    # no player started at the end.
    sed -e 's/^RegionToCapture=.*/RegionToCapture=FullScreen/' -e 's/^BoolPlayback=.*/BoolPlayback=0/' \
      "$root/scripts/default-options.ini" >"$options"
  fi
  # Something that moves, so the recording shows more than a still desktop.
  xclock -update 1 -geometry 360x360+780+360 >/dev/null 2>&1 &
  clock=$!
  before=$(ls "$out/"*.avi 2>/dev/null || true)
  echo "run: Quorvane on the private desktop $DISPLAY; Ctrl+Shift+F9 starts, Ctrl+Shift+F10 stops"
  # Only the program gets the run's folders: the rig's sound server keeps its own settings.
  XDG_CONFIG_HOME="$run/config" XDG_DOCUMENTS_DIR="$run/Documents" XDG_STATE_HOME="$run/state" \
    "$program" 2>>"$run/quorvane.err" &
  pid=$!
  # Ready once its tray icon is there.
  for _ in $(seq 1 50); do
    [ -n "$(xdotool search --onlyvisible --pid "$pid" 2>/dev/null)" ] && break
    sleep 0.2
  done
  sleep 1
  xdotool key --clearmodifiers ctrl+shift+F9
  # The pointer goes round the clock while the recording runs.
  for i in $(seq 0 49); do
    xdotool mousemove $((960 + (i % 10 - 5) * 40)) $((540 + (i / 10 % 2) * 200 - 100))
    sleep 0.1
  done
  xdotool key --clearmodifiers ctrl+shift+F10
  file=
  for _ in $(seq 1 50); do
    file=$(comm -13 <(echo "$before") <(ls "$out/"*.avi 2>/dev/null || true) | tail -n 1)
    [ -n "$file" ] && break
    sleep 0.2
  done
  # "Exit": a running recording would be finished first; this one has stopped already.
  kill -TERM "$pid"
  wait "$pid" || true
  kill "$clock" 2>/dev/null || true
  log=$(ls -t "$run/state/Quorvane/"recording-*.log 2>/dev/null | head -n 1 || true)
  if [ -z "$file" ] || [ ! -s "$file" ]; then
    echo "run: no recording was made; the recording's log: ${log:-none}; the program's messages: $run/quorvane.err" >&2
    [ -n "$log" ] && tail -n 20 "$log" >&2
    exit 1
  fi
  echo
  echo "run: recorded $file"
  echo "run: its log: $log"
  echo "run: ffprobe says:"
  ffprobe -v error -count_frames \
    -show_entries format=format_name,duration,size:stream=codec_type,codec_name,width,height,r_frame_rate,nb_read_frames,sample_rate,channels \
    -of default=nw=1 "$file" | sed 's/^/    /'
  exit 0
fi

bash scripts/deps.sh
mkdir -p build
build_log="$root/build/run-build.log"
echo "run: building (output in $build_log)"
if ! { cmake -S . -B build -DCMAKE_BUILD_TYPE=Release && cmake --build build --target quorvane quorvane-rec quorvane-convert -j2; } >"$build_log" 2>&1; then
  tail -n 30 "$build_log" >&2
  echo "run: the build failed; its whole output is in $build_log" >&2
  exit 1
fi

if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
  echo "run: Quorvane is in your tray; right-click its icon for the menu, \"Exit\" ends it"
  exec "$program"
fi

run="$root/build/run"
mkdir -p "$run"
echo "run: no X display; recording five seconds of a private headless desktop through the program's hotkeys"
echo "run: the program's settings, recordings and logs go to $run (config/, Documents/, state/)"
QV_RUN_FOLDER="$run" exec bash scripts/desktop-rig.sh -- bash "$root/scripts/run.sh" --inside-rig
