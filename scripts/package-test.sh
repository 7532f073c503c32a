#!/usr/bin/env bash
# Proves the Debian package on a clean Debian 12 system: builds it (scripts/package.sh), makes a
# minimal Debian 12 from the archive this machine uses (mmdebstrap; the system and the packages it
# fetches are kept under build/package-test/ between runs), installs the package there with apt, so
# that its dependencies alone bring in what it needs, and there runs quorvane --version, records 3 s
# with quorvane-rec on an Xvfb with a PulseAudio server, converts that with quorvane-convert; ffprobe
# (this machine's) judges both files. Then it removes the package and checks nothing of it is left.
#   scripts/package-test.sh [--no-build]    (as root; --no-build takes build/package/'s package)
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cache=$root/build/package-test
say() { echo "package-test: $*"; }
die() { echo "package-test: FAIL: $*" >&2; exit 1; }

# --- inside a mount and process namespace of its own: mounts and processes end with it ----------
if [ "${1:-}" = --inside ]; then
  sys=$2 deb=$3
  mount -t proc proc "$sys/proc"
  mount --rbind /dev "$sys/dev"
  mount -t tmpfs tmpfs "$sys/tmp"
  mount -t tmpfs tmpfs "$sys/dev/shm"
  mkdir -p "$cache/archives"
  mount --bind "$cache/archives" "$sys/var/cache/apt/archives"
  cp /etc/resolv.conf "$sys/etc/resolv.conf"
  cp "$deb" "$sys/tmp/"
  in_sys() { chroot "$sys" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root DEBIAN_FRONTEND=noninteractive "$@"; }
  # The system is thrown away after the run: dpkg need not sync each file it writes.
  apt_get() { quiet in_sys apt-get -o Dpkg::Options::=--force-unsafe-io "$@"; }
  quiet() { local log=$cache/step.log; "$@" >"$log" 2>&1 || { tail -30 "$log" >&2; die "$*"; }; }

  say "installing $(basename "$deb") with apt"
  apt_get update
  before=$(in_sys dpkg-query -W -f='${Package}\n' | wc -l)
  apt_get install -y "/tmp/$(basename "$deb")"
  after=$(in_sys dpkg-query -W -f='${Package}\n' | wc -l)
  say "apt brought in $((after - before)) packages"
  for lib in $("$root/build/package/quorvane-library-names" | awk '$1 == "depends" { print $2 }'); do
    in_sys /sbin/ldconfig -p | awk -v l="$lib" '$1 == l { found = 1 } END { exit !found }' ||
      die "$lib is not on the system: the package's Depends miss it"
  done

  version=$(in_sys quorvane --version) || die "quorvane --version failed"
  [ "$version" = "quorvane $(dpkg-deb -f "$deb" Version)" ] || die "quorvane --version says \"$version\""
  say "$version"
  for page in quorvane quorvane-rec quorvane-convert; do
    [ -s "$sys/usr/share/man/man1/$page.1.gz" ] || die "no man page for $page"
  done

  # The desktop and the sound server are the test's, not the package's: they come after it.
  apt_get install -y --no-install-recommends xvfb pulseaudio
  in_sys Xvfb :7 -screen 0 1280x720x24 -nolisten tcp >"$cache/xvfb.log" 2>&1 &
  cat >"$sys/tmp/default.pa" <<'PA'
load-module module-native-protocol-unix auth-anonymous=1 socket=/tmp/pulse-native
load-module module-sine-source source_name=tone frequency=1000
set-default-source tone
PA
  printf 'pcm.!default { type pulse }\nctl.!default { type pulse }\n' >"$sys/root/.asoundrc"
  in_sys pulseaudio -n -F /tmp/default.pa --exit-idle-time=-1 --use-pid-file=no --daemonize=no \
    --realtime=no --high-priority=no --log-target=stderr >"$cache/pulseaudio.log" 2>&1 &
  for _ in $(seq 50); do [ -S "$sys/tmp/pulse-native" ] && [ -S "$sys/tmp/.X11-unix/X7" ] && break; sleep 0.2; done
  [ -S "$sys/tmp/.X11-unix/X7" ] || die "Xvfb did not start: $(tail -3 "$cache/xvfb.log")"
  [ -S "$sys/tmp/pulse-native" ] || die "PulseAudio did not start: $(tail -3 "$cache/pulseaudio.log")"

  rec() { in_sys DISPLAY=:7 PULSE_SERVER=unix:/tmp/pulse-native "$@"; }
  rec quorvane-rec --duration 3 /root/rec.mkv >"$cache/rec.log" 2>&1 || { tail -20 "$cache/rec.log" >&2; die "quorvane-rec failed"; }
  rec quorvane-convert -i /root/rec.mkv /root/converted.avi >"$cache/convert.log" 2>&1 ||
    { tail -20 "$cache/convert.log" >&2; die "quorvane-convert failed"; }
  for file in rec.mkv converted.avi; do
    streams=$(ffprobe -v error -show_entries stream=codec_type -of csv=p=0 "$sys/root/$file" | sort | tr '\n' ' ')
    length=$(ffprobe -v error -show_entries format=duration -of csv=p=0 "$sys/root/$file")
    [ "$streams" = "audio video " ] || die "$file holds \"$streams\", not a video and a sound stream"
    awk -v d="$length" 'BEGIN { exit !(d >= 2.8 && d <= 3.3) }' || die "$file lasts $length s, not 3"
    say "$file: $streams, $length s, $(du -k "$sys/root/$file" | cut -f1) kB"
  done
  # The sound server's 1 kHz tone is in the recording, not silence.
  peak=$(ffmpeg -nostdin -i "$sys/root/rec.mkv" -vn -af volumedetect -f null - 2>&1 | sed -n 's/.*max_volume: \(.*\) dB/\1/p')
  awk -v p="${peak:--99}" 'BEGIN { exit !(p > -30) }' || die "rec.mkv's sound peaks at ${peak:-?} dB: silence, not the tone"
  say "rec.mkv's sound peaks at $peak dB"

  # Removed: nothing of the package stays but what its user made.
  installed=$(in_sys dpkg-query -W -f='${Package}\n' | wc -l)
  apt_get purge -y --autoremove quorvane
  say "apt removed $((installed - $(in_sys dpkg-query -W -f='${Package}\n' | wc -l))) packages with it"
  left=()
  while read -r path; do
    path=${path#.}
    [ -e "$sys$path" ] || [ -L "$sys$path" ] || continue
    # Folders the package shares with others (/usr/share/man/man1 and the like) stay.
    [ -d "$sys$path" ] && [[ $path != *quorvane* ]] && continue
    left+=("$path")
  done < <(dpkg-deb --fsys-tarfile "$deb" | tar -t | sed 's:/$::')
  [ "${#left[@]}" = 0 ] || die "left after removal: ${left[*]}"
  in_sys dpkg-query -W quorvane >/dev/null 2>&1 && die "dpkg still knows quorvane"
  say "removed: nothing of the package is left"
  exit 0
fi

[ "$(id -u)" = 0 ] || die "needs root (a chroot and its mounts)"
if [ "${1:-}" != --no-build ]; then bash "$root/scripts/package.sh"; fi
deb=$(ls "$root"/build/package/quorvane_*.deb 2>/dev/null | head -n1)
[ -n "$deb" ] || die "no package in build/package/ (run without --no-build)"
# The lister of the libraries is the package build's own, so the check above reads the same list.
cp "$(ls "$root"/build/package/quorvane-*/build/deb/bin/quorvane-library-names)" "$root/build/package/"

mkdir -p "$cache"
base=$cache/bookworm.tar
if [ ! -s "$base" ]; then
  say "making a minimal Debian 12 (once; kept as $base)"
  # The archive is the one this machine's apt uses.
  cat /etc/apt/sources.list.d/*.sources /etc/apt/sources.list 2>/dev/null |
    mmdebstrap --quiet --variant=minbase --format=tar bookworm "$base.part" - >"$cache/mmdebstrap.log" 2>&1 ||
    { tail -20 "$cache/mmdebstrap.log" >&2; die "mmdebstrap failed"; }
  mv "$base.part" "$base"
fi
sys=$cache/system
rm -rf "$sys"
mkdir -p "$sys"
tar -C "$sys" -xf "$base"
unshare --mount --pid --fork --propagation private bash "${BASH_SOURCE[0]}" --inside "$sys" "$deb"
rm -rf "$sys"
