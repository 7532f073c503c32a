#!/usr/bin/env bash
# No program of ours may link the media libraries: they are bound at run time, so that a "LibAV"
# folder next to the program can supply them. A link-time dependency would silently win over it.
set -u
bin=${QV_BIN_DIR:?QV_BIN_DIR must name the folder of built programs}
pattern='lib(avcodec|avformat|avutil|avfilter|avdevice|swscale|swresample|postproc)\.so'

# The check must be able to see a media library where there is one: ffmpeg links them all.
if ! ldd "$(command -v ffmpeg)" | grep -Eq "$pattern"; then
  echo "FAIL - the pattern finds no media library in ffmpeg's own ldd output"
  exit 1
fi

count=0
failed=0
for f in "$bin"/*; do
  [ -f "$f" ] && [ -x "$f" ] || continue
  count=$((count + 1))
  if ! deps=$(ldd "$f" 2>&1); then
    echo "FAIL - ldd $f: $deps"
    failed=$((failed + 1))
    continue
  fi
  hits=$(grep -E "$pattern" <<<"$deps")
  if [ -n "$hits" ]; then
    echo "FAIL - ${f##*/} links:"
    echo "$hits"
    failed=$((failed + 1))
  fi
done

if [ "$count" -eq 0 ]; then
  echo "FAIL - no executable in $bin"
  exit 1
fi
echo "$count executable(s) checked, $failed link the media libraries"
[ "$failed" -eq 0 ]
