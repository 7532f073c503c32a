#!/usr/bin/env bash
# Installs what is missing, builds Quorvane and starts the tray program.
#   - With a reachable X display (DISPLAY): the program starts in your tray and runs until you pick
#     "Exit" in its menu.
#   - Without one: the program starts on a private headless desktop (the test rig), records five
#     seconds of that whole screen with sound through its own hotkeys (key presses sent with
#     xdotool), ends, and this prints where the file is and what ffprobe says of it.
# Either way a default Options.ini is put in place when there is none (the program itself never
# creates it); an existing one is never touched.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
program="$root/build/bin/quorvane"

install_default_options() {
  local dir="${XDG_CONFIG_HOME:-$HOME/.config}/Quorvane"
  [ -f "$dir/Options.ini" ] && return 0
  mkdir -p "$dir"
  cp "$root/scripts/default-options.ini" "$dir/Options.ini"
  echo "run: installed default settings in $dir/Options.ini"
}

# Inside the rig: the demonstration recording, driven the way a user drives the program.
if [ "${1:-}" = --inside-rig ]; then
  out="$QV_CALLER_DOCUMENTS/Quorvane/"
  mkdir -p "$out"
  # The rig's own settings folder: the defaults, with the whole screen and two hotkeys.
  install_default_options
  options="$XDG_CONFIG_HOME/Quorvane/Options.ini"
  sed -i -e 's/^RegionToCapture=.*/RegionToCapture=FullScreen/' \
    -e 's/^StartHotkey=.*/StartHotkey=Ctrl+Shift+F9/' -e 's/^StopHotkey=.*/StopHotkey=Ctrl+Shift+F10/' \
    -e 's/^BoolPlayback=.*/BoolPlayback=0/' -e 's/^ShowTip=.*/ShowTip=0/' \
    -e "s|^OutputFolder=.*|OutputFolder=$out|" "$options"
  export XDG_STATE_HOME="$QV_CALLER_STATE"
  before=$(ls "$out"*.avi 2>/dev/null || true)
  echo "run: Quorvane on the private desktop $DISPLAY; Ctrl+Shift+F9 starts, Ctrl+Shift+F10 stops"
  "$program" &
  pid=$!
  # Ready once its tray icon is there.
  for _ in $(seq 1 50); do
    [ -n "$(xdotool search --onlyvisible --pid "$pid" 2>/dev/null)" ] && break
    sleep 0.2
  done
  sleep 1
  xdotool key --clearmodifiers ctrl+shift+F9
  sleep 5
  xdotool key --clearmodifiers ctrl+shift+F10
  file=
  for _ in $(seq 1 50); do
    file=$(comm -13 <(echo "$before") <(ls "$out"*.avi 2>/dev/null || true) | tail -n 1)
    [ -n "$file" ] && break
    sleep 0.2
  done
  # "Exit": a running recording would be finished first; this one has stopped already.
  kill -TERM "$pid"
  wait "$pid" || true
  log=$(ls -t "$XDG_STATE_HOME/Quorvane/"recording-*.log 2>/dev/null | head -n 1 || true)
  if [ -z "$file" ] || [ ! -s "$file" ]; then
    echo "run: no recording was made; the recording's log: ${log:-none}" >&2
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
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release
cmake --build build --target quorvane -j2

if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
  install_default_options
  echo "run: Quorvane is in your tray; right-click its icon for the menu, \"Exit\" ends it"
  exec "$program"
fi

echo "run: no X display; recording five seconds of a private headless desktop through the program's hotkeys"
install_default_options
QV_CALLER_DOCUMENTS="${XDG_DOCUMENTS_DIR:-$HOME/Documents}" \
QV_CALLER_STATE="${XDG_STATE_HOME:-$HOME/.local/state}" \
  exec bash scripts/desktop-rig.sh -- bash "$root/scripts/run.sh" --inside-rig
