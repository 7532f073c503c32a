#!/usr/bin/env bash
# The package's dependencies on the libraries the programs bind at run time, as debhelper
# substitution variables:
#   quorvane:MediaDepends=libavcodec59 (>= 7:5.1.9) | libavcodec-extra59 (>= 7:5.1.9), ...
#   quorvane:MediaRecommends=libyuv0 (>= ...)
# The sonames come from the programs' own list (quorvane-library-names prints it from the loader's
# table); each becomes the dependency its Debian package declares for it (its shlibs file), or,
# where that package is not installed here, the package Debian's naming gives the soname. Packages
# that stand in for it (libavcodec-extra59 for libavcodec59) are offered as alternatives.
#   scripts/media-depends.sh PATH/TO/quorvane-library-names
set -euo pipefail
lister=${1:?usage: media-depends.sh PATH/TO/quorvane-library-names}

# libfoo.so.N -> "libfoo N"
split_soname() { sed -E 's/^(.*)\.so\.([^.]+)$/\1 \2/' <<<"$1"; }

# The dependency string for one soname.
dependency_of() {
  local soname=$1 owner shlibs line name version
  read -r name version < <(split_soname "$soname")
  owner=$(dpkg -S "*/$soname" 2>/dev/null | head -n1 | cut -d: -f1 || true)
  if [ -n "$owner" ] && shlibs=$(dpkg-query --control-path "$owner" shlibs 2>/dev/null) && [ -n "$shlibs" ]; then
    line=$(awk -v n="$name" -v v="$version" '$1 == n && $2 == v { $1 = ""; $2 = ""; sub(/^ +/, ""); print; exit }' "$shlibs")
  fi
  # Debian names a library's package after its soname: libfoo.so.N -> libfooN (libfoo2.so.1 -> libfoo2-1).
  [ -n "${line:-}" ] || { [[ $name == *[0-9] ]] && line="$name-$version" || line="$name$version"; }
  local first=${line%% *} rest="" alternative
  [[ $line == *" "* ]] && rest=" ${line#* }"
  rest=${rest%%|*}
  rest=${rest% }
  for alternative in $(provided_by "$first"); do
    line+=" | $alternative$rest"
  done
  echo "$line"
}

# The real packages that provide PACKAGE (apt's view; none when apt knows nothing).
provided_by() {
  apt-cache showpkg "$1" 2>/dev/null | awk '/^Reverse Provides:/ { on = 1; next } on && NF { print $1 }' |
    grep -vx -- "$1" | sort -u || true
}

depends=()
recommends=()
while read -r kind soname; do
  case $kind in
    depends) depends+=("$(dependency_of "$soname")") ;;
    recommends) recommends+=("$(dependency_of "$soname")") ;;
    *) echo "media-depends: unexpected line \"$kind $soname\"" >&2; exit 1 ;;
  esac
done < <("$lister")
[ "${#depends[@]}" -gt 0 ] || { echo "media-depends: $lister listed no libraries" >&2; exit 1; }
join() { local IFS=,; local joined="$*"; echo "${joined//,/, }"; }
echo "quorvane:MediaDepends=$(join "${depends[@]}")"
echo "quorvane:MediaRecommends=$(join "${recommends[@]}")"
