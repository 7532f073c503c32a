#!/bin/bash
# The tray program records, driven as a person drives it: the tray menu (opened with either button),
# the global hotkeys (real key presses through the X server), the remote control's commands and Exit
# during a recording; on a desktop without a tray host (a private one of its own), the control
# window, which keeps out of the recorded area, shows the notices and comes back at a second start;
# under a session bus with a notification service (dunst), the end of a recording as a notification
# whose "Open folder" and "Play" work. Every file is judged by ffprobe/ffmpeg; the tray menu, the
# control window and the notification are kept as screenshots in build/test-artifacts/.
set -u
BIN=${QV_BIN_DIR:?}
SRC=${QV_SOURCE_DIR:?}
[ -n "${DISPLAY:-}" ] || { echo "tray_recording_test: needs DISPLAY (run under the desktop rig)"; exit 1; }
ART=$(cd "$BIN/.." && pwd)/test-artifacts
mkdir -p "$ART"
T=$(mktemp -d /tmp/qv_tray_rec_XXXXXX)
export HOME=$T/home XDG_CONFIG_HOME=$T/config XDG_RUNTIME_DIR=$T/run XDG_STATE_HOME=$T/state
unset XDG_DOCUMENTS_DIR
OUT=$T/out
mkdir -p "$HOME" "$XDG_RUNTIME_DIR" "$OUT" "$XDG_CONFIG_HOME/Quorvane" "$T/bin" && chmod 700 "$XDG_RUNTIME_DIR"
# The desktop's opener, standing in for a media player: it notes what it was asked to open.
printf '#!/bin/sh\necho "$1" >> "%s/opened.txt"\n' "$T" > "$T/bin/xdg-open"
chmod +x "$T/bin/xdg-open"
export PATH="$T/bin:$PATH"
failures=0
pid=
helpers=()
cleanup() {
  [ -n "$pid" ] && kill "$pid" 2>/dev/null
  for p in "${helpers[@]}"; do kill "$p" 2>/dev/null; done
  rm -rf "$T"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
source "$(dirname "${BASH_SOURCE[0]}")/x_server_state.sh"
# The notices come as the tray's balloons or in the control window here; the notification service
# has a part of its own (--with-notifications), under a session bus of its own. The rig's bus (which
# starts no notification service) is kept for the remote control's part.
rig_bus=${DBUS_SESSION_BUS_ADDRESS:-}
[ "${1:-}" = --with-notifications ] || unset DBUS_SESSION_BUS_ADDRESS
# What earlier tests on this server left behind, for the log.
echo "X server on arrival: $(x_server_state "$T")"
pass() { echo "ok: $*"; }
xdotool keyup Alt_L Alt_R Control_L Control_R Shift_L Shift_R 2>/dev/null

cat > "$XDG_CONFIG_HOME/Quorvane/Options.ini" <<EOF
[Recorder]
BoolRecordAudio=1
BoolBlinkRecord=1
BoolPlayback=1
StartHotkey=Ctrl+Shift+F9
StopHotkey=Ctrl+Shift+F10
PauseHotkey=Ctrl+Shift+F11
ResumeHotkey=Ctrl+Shift+F12
RegionToCapture=FullScreen
ShowTip=0
[OutputType]
BoolSameToOriginal=0
Width=640
Height=360
FrameSize=15
VideoBitrate=3
AudioBitrate=7
AudioSamplerate=1
[Save]
BoolAutoSave=1
OutputFolder=$OUT
EOF

avis() { ls "$OUT"/*.avi 2>/dev/null; }
count_avis() { avis | wc -l; }
# Waits until $1 holds (a shell expression), at most $2 seconds.
wait_until() {
  local end=$((SECONDS + $2))
  until eval "$1"; do [ $SECONDS -ge $end ] && return 1; sleep 0.2; done
}
# What ffprobe says: "frames duration audio-codec sample-rate width height".
measure() {
  local v a
  # Slots in the header: a frame that repeats the one before is an empty chunk, counted there only.
  v=$(ffprobe -v error -select_streams v -show_entries stream=codec_name,nb_frames,width,height \
      -show_entries format=duration -of default=nw=1 "$1")
  a=$(ffprobe -v error -select_streams a -show_entries stream=codec_name,sample_rate -of default=nw=1 "$1")
  echo "$v" "$a" | tr '\n' ' '
}
mean_volume() {
  ffmpeg -nostdin -hide_banner -i "$1" -map 0:a -af volumedetect -f null - 2>&1 |
    sed -n 's/.*mean_volume: \(-\?[0-9.]*\) dB.*/\1/p'
}
check_file() {  # file, what, min frames
  local m frames dur vol
  m=$(measure "$1")
  frames=$(sed -n 's/.*nb_frames=\([0-9]*\).*/\1/p' <<<"$m")
  dur=$(sed -n 's/.*duration=\([0-9.]*\).*/\1/p' <<<"$m")
  vol=$(mean_volume "$1")
  echo "$2: $(basename "$1"): $m mean_volume=${vol}dB"
  [[ $m == *codec_name=msmpeg4v2* && $m == *codec_name=adpcm_ms* && $m == *width=640*height=360* ]] \
    || fail "$2: codecs or frame size: $m"
  [[ $m == *sample_rate=44100* ]] || fail "$2: sample rate: $m"
  [ "${frames:-0}" -ge "$3" ] || fail "$2: $frames frames, expected at least $3"
  # 25 frames a second of recording, one either way.
  awk -v f="${frames:-0}" -v d="${dur:-0}" 'BEGIN { exit !(f >= d * 25 - 1 && f <= d * 25 + 1) }' \
    || fail "$2: $frames frames for $dur s"
  awk -v v="${vol:--999}" 'BEGIN { exit !(v > -30) }' || fail "$2: no tone in the sound ($vol dB)"
}

# Notices only: nothing is played back by itself in the parts below.
[ "${1:-}" = "" ] || sed -i 's/^BoolPlayback=1$/BoolPlayback=0/' "$XDG_CONFIG_HOME/Quorvane/Options.ini"
# Starts the program, its messages to $1, and waits for its icon in the tray.
start_in_tray() {
  "$BIN/quorvane" 2>"$1" &
  pid=$!
  [ -n "$(tray_icon_of $pid)" ] || fail "no tray icon (messages in $(basename "$1"))"
}
# The start hotkey, and the wait for the recording's file, the $1th.
hotkey_start() {
  xdotool key --clearmodifiers ctrl+shift+F9
  wait_until '[ "$(count_avis)" = '"$1"' ]' 10 || fail "the start hotkey made no file (the ${1}th)"
}
# The line that tells the end of the last recording, with its folder.
saved_line() { grep "\] Saved $(basename "$(avis | tail -1)") (.*) in $OUT\$" "$T/err"; }

# On a desktop without a tray host: the control window comes within 6 s and records through its
# buttons (clicked where they sit in its 4-column grid). It makes way for the recorded area: beside
# a region drawn over it, minimised for the full screen; and it comes back where it was. The end is
# told in the window, not in a box, and its keys open the folder and play the file.
if [ "${1:-}" = --without-tray ]; then
  started=$(date +%s%N)
  "$BIN/quorvane" 2>"$T/err" &
  pid=$!
  wait_until 'w=$(xdotool search --onlyvisible --pid $pid --name "^Quorvane\$" 2>/dev/null | head -1); [ -n "$w" ]' 8
  ms=$((($(date +%s%N) - started) / 1000000))
  [ -n "$w" ] && [ $ms -le 6000 ] && pass "control window after $ms ms" \
    || { fail "no control window within 6 s (${w:+after $ms ms})"; exit 1; }
  button() {  # column, row
    eval "$(xdotool getwindowgeometry --shell "$w")"
    xdotool mousemove --window "$w" $((58 + 106 * $1)) $((HEIGHT - 53 + 28 * $2)) click 1
  }
  # The window's place as the X server has it (xdotool's adds the frame's offset once more).
  where() {
    eval "$(xwininfo -id "$w" | awk '/Absolute upper-left X/ {print "X=" $NF} /Absolute upper-left Y/ {print "Y=" $NF}
      /^  Width/ {print "WIDTH=" $NF} /^  Height/ {print "HEIGHT=" $NF}')"
  }
  where
  home="$X $Y" left=$((X - 30)) top=$((Y - 40)) right=$((X + WIDTH + 30)) bottom=$((Y + HEIGHT + 30))
  mapped() { xwininfo -id "$w" | grep -q "Map State: IsViewable"; }
  # The window is off the rectangle $1 $2 $3 $4 (left top right bottom).
  off_area() {
    where
    [ $((X + WIDTH)) -le "$1" ] || [ "$X" -ge "$3" ] || [ $((Y + HEIGHT)) -le "$2" ] || [ "$Y" -ge "$4" ]
  }

  sed -i 's/^RegionToCapture=.*/RegionToCapture=Region/' "$XDG_CONFIG_HOME/Quorvane/Options.ini"
  button 0 0   # Start: the picker comes; a region drawn over the window
  sleep 1
  xdotool mousemove $left $top mousedown 1 mousemove $((left + 50)) $((top + 50)) mousemove $right $bottom mouseup 1
  wait_until '[ "$(count_avis)" = 1 ]' 10 || fail "Start made no file"
  off_area $left $top $right $bottom && mapped && pass "the control window stands beside the recorded region" \
    || fail "the control window is at $X,$Y ${WIDTH}x$HEIGHT, the region $left,$top-$right,$bottom"
  sleep 2; button 2 0; sleep 1; button 3 0; sleep 2   # Pause, Resume
  import -window root "$ART/control_window_recording.png"
  button 1 0   # Stop
  wait_until 'saved_line' 15 || fail "Stop did not end the recording: $(grep "\] " "$T/err")"
  check_file "$(avis | head -1)" "control window recording" 60
  grep -q "resumed" "$XDG_STATE_HOME/Quorvane/"recording-*.log && pass "start, pause, resume, stop by the buttons" \
    || fail "the buttons did not pause and resume"
  grep -qx ".* tray host: none (the control window is shown)" "$XDG_STATE_HOME/Quorvane/"recording-*.log \
    || fail "the log does not say that no tray host was there"
  wait_until 'where; [ "$X $Y" = "$home" ]' 5 \
    && pass "the control window is back where it was" || fail "the control window stays at $X,$Y, not at $home"

  sed -i 's/^RegionToCapture=.*/RegionToCapture=FullScreen/' "$XDG_CONFIG_HOME/Quorvane/Options.ini"
  button 0 0   # Start: the whole screen, with no room beside it
  wait_until '[ "$(count_avis)" = 2 ]' 10 || fail "the second Start made no file"
  mapped && fail "the control window stays on the recorded screen" || pass "the control window is out of sight"
  sleep 3
  xdotool key --clearmodifiers ctrl+shift+F10
  wait_until 'saved_line' 15 || fail "the stop hotkey did not end the recording: $(grep "\] " "$T/err")"
  check_file "$(avis | tail -1)" "full-screen recording" 60
  wait_until 'mapped' 5 && pass "the control window comes back" || fail "the control window did not come back"
  # Where it stands the desktop is black: the brightest frame there (at 640x360) says if it was in one.
  where
  brightest=$(ffmpeg -nostdin -v error -i "$(avis | tail -1)" -vf "crop=$((WIDTH / 3)):$((HEIGHT / 3)):$((X / 3)):$((Y / 3)),scale=1:1:flags=area" \
    -f rawvideo -pix_fmt gray - | od -An -v -tu1 | tr -s ' ' '\n' | sort -n | tail -1)
  [ "${brightest:-255}" -lt 40 ] && pass "the control window is in none of the frames" \
    || fail "the control window's place in the frames reaches ${brightest:-?} of 255"
  windows=$(xdotool search --onlyvisible --pid $pid 2>/dev/null | wc -l)
  [ "$windows" = 1 ] && pass "the end is told without a box" || fail "$windows windows after the end"
  import -window root "$ART/control_window_notice.png"
  xdotool windowactivate --sync "$w" key alt+f
  wait_until '[ "$(tail -1 "$T/opened.txt" 2>/dev/null)" = "file://${OUT%/}" ]' 5 \
    && pass "its Open folder opens the folder" || fail "Open folder opened: $(cat "$T/opened.txt" 2>/dev/null)"
  xdotool windowactivate --sync "$w" key alt+y
  wait_until '[ "$(tail -1 "$T/opened.txt" 2>/dev/null)" = "file://$(avis | tail -1)" ]' 5 \
    && pass "its Play plays the file" || fail "Play opened: $(cat "$T/opened.txt" 2>/dev/null)"
  # Minimised, the window comes back when the program is started again.
  viewable() { xwininfo -id "$w" 2>/dev/null | grep -q "Map State: IsViewable"; }
  xdotool windowminimize --sync "$w"
  wait_until '! viewable' 5 || fail "the control window did not minimise"
  second=$("$BIN/quorvane" 2>&1); rc=$?
  wait_until viewable 5 && [ $rc = 0 ] \
    && [ "$second" = "Quorvane is already running. Quorvane's window is in front." ] \
    && pass "a second start brings the minimised window back" || fail "a second start: exit $rc: $second"
  # A click while the window manager is still mapping it back would be lost.
  sleep 0.5
  button 1 1   # Exit
  wait_until '! kill -0 $pid 2>/dev/null' 10 && wait $pid && pass "Exit ends the program" || fail "Exit did not end it"
  pid=
  exit $((failures > 0))
fi

# Under a session bus with dunst as the desktop's notification service: the end of a recording is a
# notification that offers "Open folder" (also its default, a click) and "Play". Dunst's context
# menu is answered by a stand-in for dmenu that notes the menu and picks "Play".
if [ "${1:-}" = --with-notifications ]; then
  printf '[global]\n  dmenu = %s/bin/dmenu\n' "$T" > "$T/dunstrc"
  printf '#!/bin/sh\ncat > "%s/menu.txt"\ngrep -m1 "\\[[0-9]*,play\\]" "%s/menu.txt"\n' "$T" "$T" > "$T/bin/dmenu"
  chmod +x "$T/bin/dmenu"
  dunst -config "$T/dunstrc" 2>"$T/dunst.log" &
  helpers+=($!)
  wait_until 'gdbus call --session -d org.freedesktop.DBus -o / -m org.freedesktop.DBus.NameHasOwner \
    org.freedesktop.Notifications 2>/dev/null | grep -q true' 10 || { fail "dunst did not start: $(cat "$T/dunst.log")"; exit 1; }
  start_in_tray "$T/err"
  hotkey_start 1
  sleep 2
  xdotool key --clearmodifiers ctrl+shift+F10
  wait_until 'saved_line' 15 || fail "no notice of the end: $(grep "\] " "$T/err")"
  wait_until '[ "$(dunstctl count displayed)" = 1 ]' 5 || fail "dunst shows $(dunstctl count displayed) notifications"
  sleep 0.5
  import -window root "$ART/notification_saved.png"
  file=$(avis | tail -1)
  dunstctl context
  wait_until '[ "$(tail -1 "$T/opened.txt" 2>/dev/null)" = "file://$file" ]' 5 && pass "the notification's Play plays the file" \
    || fail "Play opened $(cat "$T/opened.txt" 2>/dev/null); the menu: $(cat "$T/menu.txt" 2>/dev/null)"
  grep -q "^#Open folder (Quorvane) \[[0-9]*,folder\]" "$T/menu.txt" && pass "the notification offers Open folder" \
    || fail "the notification's actions: $(cat "$T/menu.txt" 2>/dev/null)"
  dunstctl action 0
  wait_until '[ "$(tail -1 "$T/opened.txt" 2>/dev/null)" = "file://${OUT%/}" ]' 5 \
    && pass "a click on the notification opens the folder" || fail "the click opened $(cat "$T/opened.txt" 2>/dev/null)"
  kill -TERM $pid; wait $pid
  pid=
  exit $((failures > 0))
fi

"$BIN/quorvane" 2>"$T/err" &
pid=$!
icon=$(tray_icon_of $pid)
[ -n "$icon" ] || { fail "no tray icon"; exit 1; }
eval "$(xdotool getwindowgeometry --shell "$icon")"
cx=$((X + WIDTH / 2)); cy=$((Y + HEIGHT / 2))
# Opens the tray menu with a press of button ${3:-3} (the right one; the left one too) and picks with
# the keyboard (Down skips the disabled items and the separators).
menu() {
  xdotool mousemove $cx $cy click "${3:-3}"
  sleep 0.7
  [ -n "${2:-}" ] && import -window root "$2"
  xdotool key $1
}

# 1. Through the tray menu, opened with a left click: five seconds of the whole screen.
menu "Down Return" "$ART/tray_menu_idle.png" 1
wait_until '[ "$(count_avis)" = 1 ]' 10 || fail "Start Recording made no file"
start=$SECONDS
sleep 5
# Recording: Start and Resume are off, so Down goes to Pause, then Stop.
menu "Down Down Return" "$ART/tray_menu_recording.png"
wait_until '[ -s "$T/opened.txt" ]' 15 || fail "no playback after Stop"
file=$(avis | head -1)
[ "$(head -1 "$T/opened.txt")" = "file://$file" ] && pass "played back through the desktop's opener" \
  || fail "opened $(cat "$T/opened.txt" 2>/dev/null), expected file://$file"
check_file "$file" "tray menu recording" 110
echo "tray menu recording: about $((SECONDS - start)) s between the menu's Start and Stop"

# 2. Hotkeys: start, a second start that must do nothing, pause, resume, stop.
rm -f "$T/opened.txt"
xdotool key --clearmodifiers ctrl+shift+F9
wait_until '[ "$(count_avis)" = 2 ]' 10 || fail "the start hotkey made no file"
sleep 1.5
xdotool key --clearmodifiers ctrl+shift+F9
sleep 1.5
[ "$(count_avis)" = 2 ] && pass "the start hotkey does nothing while recording" || fail "a second recording started"
xdotool key --clearmodifiers ctrl+shift+F11
sleep 1
xdotool key --clearmodifiers ctrl+shift+F12
sleep 1
xdotool key --clearmodifiers ctrl+shift+F10
wait_until '[ -s "$T/opened.txt" ]' 15 || fail "the stop hotkey did not end the recording"
file=$(avis | tail -1)
check_file "$file" "hotkey recording" 60
logs=$(ls "$XDG_STATE_HOME/Quorvane/"recording-*.log 2>/dev/null | wc -l)
[ "$logs" = 2 ] || fail "$logs recording logs, expected 2"
grep -q "paused" "$(ls "$XDG_STATE_HOME/Quorvane/"recording-*.log | tail -1)" && pass "hotkeys start, pause, resume, stop" \
  || fail "the pause hotkey did not reach the recording"
# A log starts with what a bug report needs, the libraries as loaded.
head -20 "$(ls "$XDG_STATE_HOME/Quorvane/"recording-*.log | tail -1)" | cut -d' ' -f2- >"$T/facts"
for fact in "^Quorvane [0-9]" "^system: Linux .*, [A-Z]" "^Qt: 6\." "^  libavcodec [0-9.]* (/" "^X server: .*, release [0-9]" \
  "^monitor .*: 1920x1080 at 0,0" "^tray host: present" "^sound input: ALSA's default"; do
  grep -q "$fact" "$T/facts" || fail "the log lacks \"$fact\": $(cat "$T/facts")"
done

# The end of each recording is told in a balloon naming the file; a click on it opens the folder.
for f in $(avis); do
  wait_until 'grep -q "^quorvane: \[balloon: Quorvane\] Saved $(basename "$f") (00:00:0[2-8], " "$T/err"' 3 \
    || fail "no balloon for $(basename "$f"): $(grep '^quorvane: \[' "$T/err")"
done
rm -f "$T/opened.txt"
xdotool mousemove $cx $cy click 1   # the balloon points at the icon, over it
wait_until '[ "$(cat "$T/opened.txt" 2>/dev/null)" = "file://${OUT%/}" ]' 5 && pass "the balloon opens the folder" \
  || fail "the balloon opened $(cat "$T/opened.txt" 2>/dev/null), expected file://${OUT%/}"
xdotool key Escape
sed -i '/^quorvane: \[balloon: Quorvane\] Saved /d' "$T/err"

# 3. Exit from the tray menu during a recording: the file is finished before the program ends.
hotkey_start 3
sleep 3
menu "Up Return"   # Up from no selection lands on the last item, Exit
for _ in $(seq 1 100); do kill -0 $pid 2>/dev/null || break; sleep 0.1; done
if kill -0 $pid 2>/dev/null; then
  fail "Exit did not end the program"
else
  wait $pid; rc=$?
  [ $rc = 0 ] && pass "Exit during a recording ends the program" || fail "Exit: exit code $rc"
fi
pid=
file=$(avis | tail -1)
check_file "$file" "recording ended by Exit" 60
# The file is finished, so its "under way" mark went with it (a stopping signal takes this path too).
ls "$XDG_STATE_HOME/Quorvane/unfinished/"*.mark >/dev/null 2>&1 && fail "Exit left the recording's mark"
[ -s "$T/opened.txt" ] && [ "$(wc -l < "$T/opened.txt")" -gt 1 ] && fail "Exit played the file back"

# 4. The program killed mid-recording: the next start repairs the file and says so in a balloon.
start_in_tray "$T/err_killed"
hotkey_start 4
sleep 4
kill -9 $pid; wait $pid 2>/dev/null
pid=
file=$(avis | tail -1)
ls "$XDG_STATE_HOME/Quorvane/unfinished/"*.mark >/dev/null 2>&1 && pass "the killed recording left its mark" \
  || fail "no mark of the killed recording"
"$BIN/quorvane" 2>"$T/err_recovered" &
pid=$!
if wait_until 'grep -q "Recovered the interrupted recording" "$T/err_recovered"' 20; then
  grep -qF "quorvane: [balloon: Quorvane] Recovered the interrupted recording $file (0:0" "$T/err_recovered" \
    && pass "the balloon names the recovered file" || fail "balloon: $(grep Recovered "$T/err_recovered")"
  check_file "$file" "recovered recording" 75
  [ ! -e "$file.unfinished" ] && pass "the original is gone once the repair was verified" || fail "$file.unfinished is left"
  ls "$XDG_STATE_HOME/Quorvane/unfinished/"*.mark >/dev/null 2>&1 && fail "the mark is still there"
else
  fail "no balloon of a recovered recording: $(tail -3 "$T/err_recovered")"
fi
kill -TERM $pid; wait $pid
pid=

# 4b. A settings file the user made read-only, with no output folder and a value it cannot use: what
# the start-up and each start cannot write or use is said as a notice, and the start hotkey records
# into the default folder at once; no box waits to be clicked away. Start pressed right after Stop,
# while the file is being finished, starts a second recording once it is.
cp "$XDG_CONFIG_HOME/Quorvane/Options.ini" "$T/options.kept"
sed -i 's/^OutputFolder=.*/OutputFolder=/; s/^\[OutputType\]$/[OutputType]\nFrameRate=fast/' "$XDG_CONFIG_HOME/Quorvane/Options.ini"
chmod 444 "$XDG_CONFIG_HOME/Quorvane/Options.ini"
start_in_tray "$T/err_readonly"
default_out=$HOME/Documents/Quorvane
xdotool key --clearmodifiers ctrl+shift+F9
if wait_until 'ls "$default_out"/*.avi >/dev/null 2>&1' 10; then
  sleep 3
  xdotool key --clearmodifiers ctrl+shift+F10 ctrl+shift+F9
  wait_until '[ "$(ls "$default_out"/*.avi | wc -l)" = 2 ]' 10 \
    && pass "a start pressed as Stop finishes follows it" || fail "a start right after Stop was dropped"
  sleep 3
  xdotool key --clearmodifiers ctrl+shift+F10
  wait_until '[ "$(grep -c "\] Saved " "$T/err_readonly")" = 2 ]' 15 || fail "the read-only settings' recordings did not end"
  check_file "$(ls "$default_out"/*.avi | head -1)" "recording with read-only settings" 60
  check_file "$(ls "$default_out"/*.avi | tail -1)" "recording started right after Stop" 60
else
  fail "the start hotkey recorded nothing with read-only settings: $(grep '^quorvane: \[' "$T/err_readonly")"
fi
told=$(grep -c "^quorvane: \[balloon: Quorvane\] Unable to write to .*Options.ini (the file is read-only)" "$T/err_readonly")
[ "$told" = 1 ] && grep -q "could not be used and were read as their defaults: \"Frame Rate\"" "$T/err_readonly" \
  && pass "read-only settings and an unusable value are told once as notices" \
  || fail "notices of the read-only settings ($told): $(grep '^quorvane: \[' "$T/err_readonly")"
grep "^quorvane: \[\(Quorvane\|Error\)\]" "$T/err_readonly" && fail "a box was shown (above)"
kill -TERM $pid; wait $pid
pid=
chmod 644 "$XDG_CONFIG_HOME/Quorvane/Options.ini"
cp "$T/options.kept" "$XDG_CONFIG_HOME/Quorvane/Options.ini"

# 5. A 3 s countdown and the sound of the rig's second source (440 Hz): Escape and the stop hotkey
# call a countdown off before any file is made; in the second one's recording the digits, on the screen
# while it counted, are in none of the frames.
sed -i 's/^ShowTip=0$/ShowTip=0\nCountdown=3\nAudioSource=qv_voice.monitor/' "$XDG_CONFIG_HOME/Quorvane/Options.ini"
start_in_tray "$T/err_countdown"
files=$(count_avis)
for cancel in Escape ctrl+shift+F10; do
  xdotool key --clearmodifiers ctrl+shift+F9
  sleep 1
  xdotool key --clearmodifiers "$cancel"
  sleep 3
  [ "$(count_avis)" = "$files" ] && pass "$cancel calls the countdown off" || fail "a recording after $cancel"
done
rm -f "$T/opened.txt"
started=$(date +%s%N)
xdotool key --clearmodifiers ctrl+shift+F9
sleep 1.5
import -window root "$ART/countdown.png"
wait_until '[ "$(count_avis)" = $((files + 1)) ]' 10
ms=$((($(date +%s%N) - started) / 1000000))
[ "$ms" -ge 3000 ] && pass "the recording starts $ms ms after the start hotkey" || fail "recording after $ms ms"
sleep 3
import -window root "$T/after.png"
xdotool key --clearmodifiers ctrl+shift+F10
wait_until '[ -s "$T/opened.txt" ]' 15 || fail "the stop hotkey did not end the counted-down recording"
file=$(avis | tail -1)
# The middle of each frame (where the digits were) against the screen before and after the count.
middle() {  # FILE REFERENCE: PSNR lines of the middle of every frame of FILE against REFERENCE
  ffmpeg -nostdin -v error -i "$1" -i "$2" -lavfi "[0:v]crop=160:160:240:100[a];[1:v]scale=640:360,format=yuv420p,crop=160:160:240:100[b];[a][b]psnr=stats_file=$T/psnr.txt" -f null -
  awk '{ for (i = 1; i <= NF; i++) if ($i ~ /^psnr_avg:/) { split($i, v, ":"); print (v[2] == "inf" ? 99 : int(v[2])) } }' "$T/psnr.txt"
}
low=$(middle "$file" "$T/after.png" | awk '$1 < 30' | wc -l)
digits=$(middle "$file" "$ART/countdown.png" | sort -n | tail -1)
[ "$low" = 0 ] && [ "${digits:-99}" -lt 20 ] && pass "no digits in the frames (the count's screen: ${digits} dB at most)" \
  || fail "$low frames unlike the screen after the count; the count's screen ${digits:-?} dB"
hz=$(ffmpeg -nostdin -v error -ss 0.5 -i "$file" -map 0:a -ac 1 -f wav - | sox -t wav - -n stat 2>&1 |
  awk '/Rough +frequency:/ {print $3}')
[ "${hz:-0}" -ge 418 ] && [ "${hz:-0}" -le 462 ] && pass "the sound is the chosen source's 440 Hz" || fail "sound at ${hz:-?} Hz"
kill -TERM $pid; wait $pid
pid=

# 6. The remote control: each command with nothing running; then a recording started, paused,
# resumed and stopped by commands, over the session bus and over the lock's socket, its status
# while it runs, the file judged by ffprobe (as long as the time between the commands, pause left
# out); last a program that runs without a session bus, reached over its socket alone.
[ -n "$rig_bus" ] && export DBUS_SESSION_BUS_ADDRESS=$rig_bus
before=$failures
for command in --start --stop --pause --resume --toggle --show --status --recent; do
  out=$("$BIN/quorvane" $command 2>&1); rc=$?
  [ $rc = 1 ] && [ "$out" = "Quorvane is not running." ] || fail "$command with nothing running: exit $rc: $out"
done
[ $failures = $before ] && pass "each command with nothing running: exit 1, \"Quorvane is not running.\""
remote() { ANSWER=$("$@" 2>&1); RC=$?; }   # COMMAND...: its output in ANSWER, its exit code in RC
now() { date +%s%N; }
sed -i 's/^Countdown=3$/Countdown=0/' "$XDG_CONFIG_HOME/Quorvane/Options.ini"
"$BIN/quorvane" 2>"$T/err_remote" &
pid=$!
[ -n "$(tray_icon_of $pid)" ] || fail "no tray icon for the remote control"
remote "$BIN/quorvane" --stop
[ $RC = 1 ] && [ "$ANSWER" = "Nothing is being recorded." ] && pass "--stop when idle says so" \
  || fail "--stop when idle: exit $RC: $ANSWER"
files=$(count_avis)
remote "$BIN/quorvane" --start; started=$(now)
file=$(avis | tail -1)
[ $RC = 0 ] && [ "$(count_avis)" = $((files + 1)) ] && [ "$ANSWER" = "Recording to $file." ] \
  || fail "--start: exit $RC: $ANSWER"
sleep 2
remote "$BIN/quorvane" --status
[ $RC = 0 ] && [ "$(sed -n 1p <<<"$ANSWER")" = "State: recording" ] && grep -qx "Elapsed: 00:00:0[1-3]" <<<"$ANSWER" \
  && grep -qx "Size: [0-9.]* [KM]B" <<<"$ANSWER" && grep -qxF "File: $file" <<<"$ANSWER" \
  && pass "--status while recording: $(tr '\n' ' ' <<<"$ANSWER")" || fail "--status: exit $RC: $ANSWER"
paused=$(now); remote "$BIN/quorvane" --pause
[ $RC = 0 ] || fail "--pause: exit $RC: $ANSWER"
sleep 2
remote "$BIN/quorvane" --status
[ "$(sed -n 1p <<<"$ANSWER")" = "State: paused" ] || fail "--status while paused: $ANSWER"
remote env -u DBUS_SESSION_BUS_ADDRESS "$BIN/quorvane" --resume; resumed=$(now)
[ $RC = 0 ] && [ "$ANSWER" = "Resumed." ] && pass "--resume over the lock's socket" || fail "--resume over the socket: exit $RC: $ANSWER"
sleep 2
stopped=$(now); remote "$BIN/quorvane" --stop
[ $RC = 0 ] || fail "--stop: exit $RC: $ANSWER"
check_file "$file" "recording by commands" 90
expected=$(( (stopped - started - (resumed - paused)) / 1000000 ))
dur=$(ffprobe -v error -show_entries format=duration -of csv=p=0 "$file")
awk -v d="$dur" -v e="$expected" 'BEGIN { exit !(d * 1000 > e - 400 && d * 1000 < e + 400) }' \
  && pass "commands start, pause, resume, stop: $dur s for ${expected} ms between them" \
  || fail "recording by commands: $dur s, expected about $expected ms"
# The recording is among the recent ones (--recent); its trim window takes the in and out points
# from the keys I and O after the arrows stepped 25 pictures each, and saves a copy beside it.
remote "$BIN/quorvane" --recent
recent=
wait_until 'recent=$(xdotool search --onlyvisible --pid $pid --name "^Recent Recordings\$" | head -1); [ -n "$recent" ]' 10 \
  || fail "--recent: no window ($RC: $ANSWER)"
if [ -n "$recent" ]; then
  sleep 1
  import -window root "$ART/recent_recordings.png"
  xdotool windowactivate --sync "$recent" key --clearmodifiers alt+t
  trim=
  wait_until 'trim=$(xdotool search --onlyvisible --pid $pid --name "^Trim – " | head -1); [ -n "$trim" ]' 10 || fail "Trim…: no window"
  # A click on its picture gives it the keyboard.
  sleep 1
  eval "$(xdotool getwindowgeometry --shell "$trim")"
  xdotool windowactivate --sync "$trim" mousemove --sync $((X + WIDTH / 2)) $((Y + 100)) click 1
  sleep 0.5
  for key in i o; do
    xdotool key --delay 30 $(printf 'Right %.0s' $(seq 25)) "$key"
  done
  sleep 1
  import -window root "$ART/trim_window.png"
  xdotool key --clearmodifiers alt+s
  trimmed="${file%.avi} (trimmed).avi"
  wait_until '[ -n "$(xdotool search --onlyvisible --pid $pid --name " saved " | head -1)" ]' 20 || fail "trim: not saved"
  rate=$(ffprobe -v error -select_streams v:0 -show_entries stream=r_frame_rate -of csv=p=0 "$file")
  want=$(( 26 * 1000 * ${rate#*/} / ${rate%/*} )) got=$(ffprobe -v error -show_entries format=duration -of csv=p=0 "$trimmed" 2>/dev/null | awk '{ printf "%d", $1 * 1000 + 0.5 }')
  [ -n "$got" ] && [ $((got - want)) -ge -$((want / 26)) ] && [ $((got - want)) -le $((want / 26)) ] \
    && pass "trim window: I/O after 25 pictures each, saved $(basename "$trimmed"): $got ms" \
    || fail "trim window: $(basename "$trimmed"): ${got:-no file} ms, wanted $want; $(ls "$OUT" | tr '\n' ' ')"
  xdotool key Escape; sleep 0.5; xdotool windowactivate --sync "$recent" key Escape
fi
kill -TERM $pid; wait $pid
env -u DBUS_SESSION_BUS_ADDRESS "$BIN/quorvane" 2>"$T/err_nobus" &
pid=$!
[ -n "$(tray_icon_of $pid)" ] || fail "no tray icon for the program without a bus"
remote "$BIN/quorvane" --toggle
file=$(avis | tail -1)
sleep 3
remote "$BIN/quorvane" --toggle
[ $RC = 0 ] && [ "$ANSWER" = "Stopped; the recording is in $file." ] && pass "--toggle reaches a program without a bus" \
  || fail "--toggle without a bus: exit $RC: $ANSWER"
check_file "$file" "recording by --toggle without a bus" 60
kill -TERM $pid; wait $pid
pid=
grep -q "^quorvane: \[remote\]" "$T/err_remote" "$T/err_nobus" && fail "remote: $(grep -h '\[remote\]' "$T"/err_*)"
unset DBUS_SESSION_BUS_ADDRESS

# 7. A desktop without a tray host (a private one; see the top of this file).
bash "$SRC/scripts/desktop-rig.sh" --no-tray -- bash "${BASH_SOURCE[0]}" --without-tray \
  && pass "without a tray host: the control window records" || fail "without a tray host (above)"

# 8. A notification service on a session bus of its own (see the top of this file).
dbus-run-session -- bash "${BASH_SOURCE[0]}" --with-notifications \
  && pass "the end as a notification with its actions" || fail "the notification (above)"

state=$(x_server_state "$T")
[ "$state" = "$kX_SERVER_CLEAN" ] || [ "$state" = unknown ] || fail "X server left in this state: $state"
grep -q "^quorvane: \[" "$T/err" && fail "messages shown: $(grep '^quorvane: \[' "$T/err")"
echo "screenshots: $ART/tray_menu_idle.png $ART/tray_menu_recording.png $ART/control_window_recording.png" \
  "$ART/control_window_notice.png $ART/notification_saved.png $ART/countdown.png $ART/recent_recordings.png" \
  "$ART/trim_window.png"
[ $failures = 0 ] && echo "tray_recording_test: all passed" || echo "tray_recording_test: $failures failed"
exit $((failures > 0))
