#!/bin/bash
# quorvane-convert end to end on clips made by the ffmpeg command line; ffprobe judges the files.
set -u
. "$(dirname "$0")/../support/rec_checks.sh"
BIN="${QV_BIN_DIR:?QV_BIN_DIR not set}/quorvane-convert"
WORK=$(mktemp -d /tmp/qv_convert_XXXXXX)
trap 'rm -rf "$WORK"' EXIT

probe() {  # probe FILE ENTRIES [STREAMS]
  ffprobe -v error ${3:+-select_streams "$3"} -show_entries "$2" -of default=noprint_wrappers=1:nokey=1 "$1" 2>/dev/null
}

# expect NAME STATUS PATTERN -- command...: exit status and a text on stdout/stderr
expect() {
  local name=$1 status=$2 pattern=$3
  shift 4
  "$@" >"$WORK/out.txt" 2>&1
  local rc=$?
  if [ "$rc" != "$status" ]; then
    fail "$name: exit $rc, wanted $status"; sed 's/^/    /' "$WORK/out.txt" | tail -5; return 1
  fi
  if ! grep -qF -- "$pattern" "$WORK/out.txt"; then
    fail "$name: no \"$pattern\" in the output"; sed 's/^/    /' "$WORK/out.txt" | tail -5; return 1
  fi
  pass "$name"
}

ffmpeg -nostdin -loglevel error -y -f lavfi -i testsrc=duration=3:size=320x240:rate=25 \
  -f lavfi -i sine=duration=3:sample_rate=44100 -c:v mpeg4 -c:a pcm_s16le "$WORK/in.avi" || exit 1
ffmpeg -nostdin -loglevel error -y -f lavfi -i testsrc=duration=30:size=320x240:rate=25 \
  -f lavfi -i sine=duration=30:sample_rate=44100 -c:v mpeg4 -c:a pcm_s16le "$WORK/long.avi" || exit 1

# Usage and command-line errors.
expect "help" 0 "Usage: quorvane-convert [input options] -i INPUT" -- "$BIN" --help
expect "no arguments" 2 "At least one input file must be specified" -- "$BIN"
expect "no output" 2 "At least one output file must be specified" -- "$BIN" -i "$WORK/in.avi"
expect "missing value" 2 'Missing argument for option "-vcodec"' -- "$BIN" -i "$WORK/in.avi" out.avi -vcodec
expect "two outputs" 2 "More than one output file" -- "$BIN" -i "$WORK/in.avi" "$WORK/a.avi" "$WORK/b.avi"
expect "bad option" 2 '-bogus 1: Unrecognized option "bogus"' -- "$BIN" -i "$WORK/in.avi" -bogus 1 "$WORK/bad.avi"
[ -e "$WORK/bad.avi" ] && fail "bad option left a file"
expect "bad input option" 2 'Unrecognized option "bogus"' -- "$BIN" -bogus 1 -i "$WORK/in.avi" "$WORK/bad.avi"
expect "long option" 2 'Unrecognized option "--bogus"' -- "$BIN" -i "$WORK/in.avi" --bogus "$WORK/bad.avi"
expect "refused value" 2 "-qscale 300: qscale must be > 0.0 and <= 255" -- "$BIN" -i "$WORK/in.avi" -qscale 300 "$WORK/bad.avi"
expect "line break in a name" 2 "must not contain a line break" -- "$BIN" -i "$WORK/in.avi" $'-an\nvn' "$WORK/bad.avi"

# Options that only the chosen encoder or muxer can judge.
expect "option the named encoder lacks" 2 '-crf 20: the msmpeg4v2 encoder has no such option' \
  -- "$BIN" -i "$WORK/in.avi" -vcodec msmpeg4v2 -crf 20 "$WORK/bad.avi"
expect "option the default encoder lacks" 1 \
  'Unrecognized option "crf" (value "20") for output stream #0:0: the mpeg4 encoder has no such option' \
  -- "$BIN" -i "$WORK/in.avi" -crf 20 "$WORK/bad.avi"
expect "option the input lacks" 1 \
  'Unrecognized option "crf" (value "20") for input file #0: neither the avi demuxer nor its decoders' \
  -- "$BIN" -crf 20 -i "$WORK/in.avi" "$WORK/bad.avi"
truncate -s 300M "$WORK/huge-0.log"
expect "oversize pass log" 1 'Log file "'"$WORK"'/huge-0.log" for pass-2 encoding is larger than 256 MB' \
  -- "$BIN" -i "$WORK/in.avi" -vcodec mpeg4 -pass 2 -passlogfile "$WORK/huge" "$WORK/bad.avi"
expect "option the muxer lacks" 1 'Unrecognized option "movflags" (value "faststart") for output file #0: the avi muxer' \
  -- "$BIN" -i "$WORK/in.avi" -movflags faststart "$WORK/bad.avi"
expect "value the encoder refuses" 1 'Invalid value "abc" for option "data_partitioning" of the mpeg4 encoder' \
  -- "$BIN" -i "$WORK/in.avi" -vcodec mpeg4 -data_partitioning abc "$WORK/bad.avi"
[ -e "$WORK/bad.avi" ] && fail "a refused option left a file"

# An existing output: refused without -y, kept with -n, overwritten with -y (options in today's spellings).
cp "$WORK/in.avi" "$WORK/exists.avi"
expect "existing output" 2 "File '$WORK/exists.avi' already exists. Use -y to overwrite." -- "$BIN" -i "$WORK/in.avi" "$WORK/exists.avi"
expect "-n" 2 "File '$WORK/exists.avi' already exists. Exiting." -- "$BIN" -n -i "$WORK/in.avi" "$WORK/exists.avi"
cmp -s "$WORK/in.avi" "$WORK/exists.avi" || fail "a refused output was changed"
if expect "-y and current spellings" 0 "Completed: $WORK/exists.avi" -- "$BIN" -y -i "$WORK/in.avi" -c:v msmpeg4v2 \
    -b:v 300k -filter:v scale=160:120 -codec:a adpcm_ms -b:a 64k "$WORK/exists.avi"; then
  [ "$(probe "$WORK/exists.avi" stream=codec_name,width v:0 | tr '\n' ' ')" = "msmpeg4v2 160 " ] ||
    fail "current spellings: video stream $(probe "$WORK/exists.avi" stream=codec_name,width v:0 | tr '\n' ' ')"
  [ "$(probe "$WORK/exists.avi" stream=codec_name a:0)" = adpcm_ms ] || fail "current spellings: audio codec"
fi

# An output that is an input, by its name or through a link, is refused and the input kept whole.
cp "$WORK/in.avi" "$WORK/same.avi"
ln "$WORK/same.avi" "$WORK/hardlink.avi"
ln -s "$WORK/same.avi" "$WORK/symlink.avi"
for out in same hardlink symlink; do
  expect "output is the input ($out)" 1 "Output file '$WORK/$out.avi' is the same as input file '$WORK/same.avi'." \
    -- "$BIN" -y -i "$WORK/same.avi" "$WORK/$out.avi"
done
cmp -s "$WORK/in.avi" "$WORK/same.avi" || fail "output is the input: the input was changed"

# Numbers read the same under a locale that writes "0,5": a German one made here for the test.
if mkdir -p "$WORK/locale" && localedef -i de_DE -f UTF-8 "$WORK/locale/de_DE.UTF-8" 2>/dev/null &&
    [ "$(env LOCPATH="$WORK/locale" LC_ALL=de_DE.UTF-8 locale decimal_point)" = "," ]; then
  printf 'qcomp=0.6\n' > "$WORK/qcomp.ffpreset"
  if expect "German locale" 0 "Completed:" -- env LOCPATH="$WORK/locale" LC_ALL=de_DE.UTF-8 "$BIN" -i "$WORK/in.avi" \
      -vcodec mpeg4 -qscale 2.5 -muxdelay 0.5 -r 29.97 -fpre "$WORK/qcomp.ffpreset" -an "$WORK/de.avi"; then
    [ "$(probe "$WORK/de.avi" stream=r_frame_rate v:0)" = 30000/1001 ] ||
      fail "German locale: frame rate $(probe "$WORK/de.avi" stream=r_frame_rate v:0)"
  fi
else
  fail "could not make the German locale (localedef from the locales package)"
fi
# A demuxer's own options given before its input: pictures found by a pattern, shown at 10 a second.
ffmpeg -nostdin -loglevel error -f lavfi -i testsrc=size=64x48:rate=25 -frames:v 20 "$WORK/img%03d.png" || exit 1
if expect "demuxer options" 0 "Completed:" -- "$BIN" -pattern_type glob -framerate 10 -i "$WORK/img*.png" "$WORK/img.avi"; then
  [ "$(probe "$WORK/img.avi" stream=r_frame_rate,nb_frames v:0 | tr '\n' ' ')" = "10/1 20 " ] ||
    fail "demuxer options: $(probe "$WORK/img.avi" stream=r_frame_rate,nb_frames v:0 | tr '\n' ' ')"
fi
expect "missing file" 1 "$WORK/missing.avi" -- "$BIN" -i "$WORK/missing.avi" "$WORK/bad.avi"
grep -q "No such file" "$WORK/out.txt" || fail "missing file: no system error text"
expect "unknown input format" 1 "nonsense" -- "$BIN" -f nonsense -i "$WORK/in.avi" "$WORK/bad.avi"
expect "bad codec" 1 "no_such_codec" -- "$BIN" -i "$WORK/in.avi" -vcodec no_such_codec "$WORK/bad.avi"

# A conversion like the recorder's, with the options written as on a transcoding command line.
if expect "convert" 0 "Completed: $WORK/rec.avi" -- "$BIN" -i "$WORK/in.avi" \
    -acodec adpcm_ms -ab 64k -ar 22050 -vcodec msmpeg4v2 -b 1600k -s 160x120 "$WORK/rec.avi"; then
  grep -q "frame=.*fps=.*size=.*time=.*bitrate=" "$WORK/out.txt" || fail "convert: no progress line"
  [ "$(probe "$WORK/rec.avi" stream=codec_name,width,height v:0 | tr '\n' ' ')" = "msmpeg4v2 160 120 " ] ||
    fail "convert: video stream $(probe "$WORK/rec.avi" stream=codec_name,width,height v:0 | tr '\n' ' ')"
  # The video bit rate, given after the audio one, leaves the audio at its own.
  [ "$(probe "$WORK/rec.avi" stream=codec_name,sample_rate,bit_rate a:0 | tr '\n' ' ')" = "adpcm_ms 22050 64000 " ] ||
    fail "convert: audio stream $(probe "$WORK/rec.avi" stream=codec_name,sample_rate,bit_rate a:0 | tr '\n' ' ')"
  frames=$(ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames \
    -of default=noprint_wrappers=1:nokey=1 "$WORK/rec.avi")
  [ "$frames" = 75 ] || fail "convert: $frames frames, wanted 75"
fi

# Each progress report is printed once (the transcoder's own copy, logged when frames are repeated,
# is not: the line counts them), and libx264's banner and option string stay out of the way.
if expect "progress once" 0 "Completed: $WORK/h264.avi" -- "$BIN" -i "$WORK/in.avi" -r 50 -vcodec libx264 "$WORK/h264.avi"; then
  grep -q "^frame=.* dup=[1-9][0-9]* drop=0" "$WORK/out.txt" || fail "progress once: the repeated frames are not counted"
  grep -q "\] frame=" "$WORK/out.txt" && fail "progress once: a progress report printed twice"
  grep -q "options: cabac" "$WORK/out.txt" && fail "progress once: libx264's option string printed"
fi

# -repair: a file cut off mid-chunk is finished in place; one with nothing readable is given back as
# it was; a complete one is left alone.
expect "repair usage" 2 "-repair takes one file and nothing else" -- "$BIN" -repair "$WORK/rec.avi" -an
cp "$WORK/in.avi" "$WORK/complete.avi"
expect "repair of a complete file" 0 "is complete; nothing to repair (0:03)" -- "$BIN" -repair "$WORK/complete.avi"
cmp -s "$WORK/in.avi" "$WORK/complete.avi" || fail "repair of a complete file changed it"
head -c $(( $(stat -c %s "$WORK/rec.avi") * 6 / 10 + 3 )) "$WORK/rec.avi" > "$WORK/cut.avi"
if expect "repair of a cut-off file" 0 "Repaired: $WORK/cut.avi" -- "$BIN" -repair "$WORK/cut.avi"; then
  d=$(probe "$WORK/cut.avi" format=duration)
  awk -v d="$d" 'BEGIN { exit !(d > 1 && d < 3) }' || fail "repaired cut-off file: duration ${d:-none}"
  errors=$(ffmpeg -nostdin -v error -i "$WORK/cut.avi" -f null - 2>&1 | head -3)
  [ -z "$errors" ] || fail "repaired cut-off file: decode errors: $errors"
  [ -e "$WORK/cut.avi.unfinished" ] && fail "repaired cut-off file: the original is left"
fi
first=$(ffprobe -v error -show_entries packet=pos -of csv=p=0 "$WORK/rec.avi" | head -1)
head -c $((first + 3)) "$WORK/rec.avi" > "$WORK/headonly.avi"
cp "$WORK/headonly.avi" "$WORK/headonly.copy"
expect "repair of a file with nothing readable" 1 "$WORK/headonly.avi was not repaired: No picture or sound" \
  -- "$BIN" -repair "$WORK/headonly.avi"
cmp -s "$WORK/headonly.avi" "$WORK/headonly.copy" && [ ! -e "$WORK/headonly.avi.unfinished" ] ||
  fail "a failed repair did not give the file back as it was"

# -repair past 1 GB, where the file goes on in a second RIFF (AVIX): a clean one is complete and
# left alone; one whose writer was killed in its AVIX is repaired to its full length (its first
# RIFF alone looks complete). Raw 640x480 pictures at 25 fps fill it at about 23 MB a second; the
# sound comes in chunks of one picture's time, so a kill leaves both ending together, as a recording's.
big=(-nostdin -loglevel error -y -f lavfi -i testsrc=size=640x480:rate=25 -f lavfi -i sine=sample_rate=8000:samples_per_frame=320
  -c:v rawvideo -pix_fmt bgr24 -c:a pcm_s16le)
ffmpeg "${big[@]}" -t 50 "$WORK/big.avi" || fail "no clip past 1 GB"
sum=$(md5sum <"$WORK/big.avi")
expect "repair of a complete file past 1 GB" 0 "is complete; nothing to repair (0:50)" -- "$BIN" -repair "$WORK/big.avi"
[ "$(md5sum <"$WORK/big.avi")" = "$sum" ] || fail "repair of a complete file past 1 GB changed it"
rm -f "$WORK/big.avi"
ffmpeg "${big[@]}" -t 200 "$WORK/killed.avi" &
writer=$!
while [ "$(stat -c %s "$WORK/killed.avi" 2>/dev/null || echo 0)" -lt 1250000000 ] && kill -0 $writer 2>/dev/null; do
  sleep 0.02
done
kill -9 $writer
wait $writer 2>/dev/null
# How long what was written lasts, in ms: each slot a chunk of picture and one of sound.
written=$(( $(stat -c %s "$WORK/killed.avi") / ((640 * 480 * 3 + 8 + 640 + 8) * 25 / 1000) ))
if expect "repair of a file killed past 1 GB" 0 "Repaired: $WORK/killed.avi" -- "$BIN" -repair "$WORK/killed.avi"; then
  d=$(probe "$WORK/killed.avi" format=duration | awk '{ printf "%d\n", $1 * 1000 + 0.5 }')
  v=$(stream_end_ms "$WORK/killed.avi" v) a=$(stream_end_ms "$WORK/killed.avi" a)
  within "killed past 1 GB: repaired length (ms)" "$v" $((written - 1000)) $((written + 1000))
  within "killed past 1 GB: header minus decoded length (ms)" $((d - v)) -1000 1000
  within "killed past 1 GB: audio minus video (ms)" $((a - v)) -60 60
fi
rm -f "$WORK/killed.avi"

# Switches take no value; -t limits the output.
if expect "switch and duration" 0 "Completed:" -- "$BIN" -i "$WORK/in.avi" -an -t 1 -vcodec mpeg4 "$WORK/short.avi"; then
  [ -z "$(probe "$WORK/short.avi" stream=index a)" ] || fail "-an: the file has audio"
  d=$(probe "$WORK/short.avi" format=duration)
  awk -v d="$d" 'BEGIN { exit !(d > 0.9 && d < 1.2) }' || fail "-t 1: duration $d"
fi

# Cuts with -ss/-t/-to before or after -i, as a transcoding command line reads them, from a clip whose
# key frames lie at 0 and 10 s: 9 s from 3.0 s on, the first picture the source's at 3.0 s (its
# neighbours 40 ms away score about 17 dB), the sound as long as the pictures within one audio
# frame (2036 samples at 22050 Hz: 92 ms).
ffmpeg -nostdin -loglevel error -y -f lavfi -i testsrc2=duration=20:size=320x240:rate=25 -f lavfi \
  -i sine=duration=20:sample_rate=22050 -c:v msmpeg4v2 -g 250 -b:v 2M -c:a adpcm_ms "$WORK/clip20.avi" || exit 1
cut_row() {  # cut_row OUTPUT ARGS...: ARGS hold IN where the input goes
  local out=$WORK/$1 args=("${@:2}")
  args=("${args[@]/#IN/$WORK/clip20.avi}")
  expect "cut to $1 (${args[*]/$WORK\//})" 0 "Completed: $out" -- "$BIN" "${args[@]}" "$out" || return
  within "cut to $1: length (ms)" "$(video_ms "$out")" 8960 9040
  within "cut to $1: first picture against the source's at 3.0 s (dB)" "$(psnr "$out" "$WORK/clip20.avi" 3)" 35 99
  sync_check "cut to $1" "$out" 93
}
cut_row trim.avi -ss 3 -t 9 -i IN -vcodec msmpeg4v2 -b 2000k -acodec adpcm_ms
cut_row trim.mkv -ss 3 -to 12 -i IN
cut_row trim.mp4 -i IN -ss 3 -to 12 -vcodec mpeg4 -q:v 2
# A GIF gets a palette made from its own pictures (34 dB here, where a fixed one scores 27), each
# picture shown for 1/10 s.
if expect "GIF" 0 "Completed: $WORK/clip.gif" -- "$BIN" -ss 3 -t 4 -i "$WORK/clip20.avi" -r 10 \
    -vf fps=10:round=up,scale=240:-1 "$WORK/clip.gif"; then
  within "GIF: first picture against the source's at 3.0 s (dB)" "$(psnr "$WORK/clip.gif" "$WORK/clip20.avi" 3)" 30 99
  delays=$(probe "$WORK/clip.gif" packet=duration | sort -u | tr '\n' ' ')
  [ "$delays" = "10 " ] || fail "GIF: picture delays (1/100 s) $delays, wanted 10"
  [ "$(probe "$WORK/clip.gif" stream=nb_frames)" = 40 ] || fail "GIF: $(probe "$WORK/clip.gif" stream=nb_frames) pictures, wanted 40"
fi

# Ctrl-C stops the conversion and still finishes the file.
"$BIN" -re -i "$WORK/long.avi" -vcodec msmpeg4v2 -acodec adpcm_ms "$WORK/int.avi" >"$WORK/int.txt" 2>&1 &
pid=$!
sleep 3
kill -INT $pid
wait $pid
rc=$?
if [ "$rc" != 130 ]; then
  fail "Ctrl-C: exit $rc, wanted 130"; tail -5 "$WORK/int.txt"
elif ! grep -q "Stopped: $WORK/int.avi" "$WORK/int.txt"; then
  fail "Ctrl-C: no final line"; tail -5 "$WORK/int.txt"
else
  frames=$(ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames \
    -of default=noprint_wrappers=1:nokey=1 "$WORK/int.avi")
  dur=$(probe "$WORK/int.avi" format=duration)
  if [ -n "$frames" ] && [ "$frames" -gt 25 ] && [ "$frames" -lt 700 ] && ffmpeg -v error -i "$WORK/int.avi" -f null - 2>"$WORK/decode.txt" && [ ! -s "$WORK/decode.txt" ]; then
    pass "Ctrl-C: $frames frames, $dur s, decodes cleanly"
  else
    fail "Ctrl-C: file has ${frames:-no} frames, decode errors: $(head -3 "$WORK/decode.txt")"
  fi
fi

# Ctrl-C while an input is being opened (a FIFO nobody writes to) ends the program at once.
mkfifo "$WORK/nobody.fifo"
"$BIN" -i "$WORK/nobody.fifo" "$WORK/fifo.avi" >"$WORK/fifo.txt" 2>&1 &
pid=$!
sleep 1
start=$(date +%s%N)
kill -INT $pid
wait $pid
rc=$?
ms=$(( ($(date +%s%N) - start) / 1000000 ))
if [ "$rc" != 130 ] || [ "$ms" -ge 1000 ]; then
  fail "Ctrl-C while opening: exit $rc after $ms ms, wanted 130 within 1000 ms"; tail -3 "$WORK/fifo.txt"
elif ! grep -q "stopped while opening the files" "$WORK/fifo.txt"; then
  fail "Ctrl-C while opening: no message"; tail -3 "$WORK/fifo.txt"
else
  pass "Ctrl-C while opening a FIFO: exit 130 after $ms ms"
fi

echo "convert_test: $failures failure(s)"
[ "$failures" = 0 ]
