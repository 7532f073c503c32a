#!/usr/bin/env bash
# Builds the Debian package quorvane_<version>_<arch>.deb into build/package/ with Debian's own tools
# (debian/, dpkg-buildpackage), from a copy of the tree so the build leaves the tree as it was, then
# runs lintian on it. Prints the package's path, its size and its installed size.
#   scripts/package.sh
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
out=$root/build/package
bash "$root/scripts/deps.sh"

# The package's version is the project's: the changelog must say the one CMakeLists.txt does.
project=$(sed -nE 's/^project\(Quorvane VERSION ([0-9.]+).*/\1/p' "$root/CMakeLists.txt")
packaged=$(cd "$root" && dpkg-parsechangelog -SVersion)
if [ "$project" != "$packaged" ]; then
  echo "package: debian/changelog is at $packaged, the project at $project: add a changelog entry (dch -v $project)" >&2
  exit 1
fi

src=$out/quorvane-$project
rm -rf "$out"
mkdir -p "$src"
tar -C "$root" --exclude=./build --exclude=./.git -cf - . | tar -C "$src" -xf -
log=$out/build.log
echo "package: building (log: $log)"
if ! (cd "$src" && dpkg-buildpackage -b -us -uc) >"$log" 2>&1; then
  tail -40 "$log" >&2
  echo "package: dpkg-buildpackage failed (log: $log)" >&2
  exit 1
fi
deb=$(ls "$out"/quorvane_"$project"_*.deb)
echo "package: lintian"
lintian --fail-on error,warning "$deb" || { echo "package: lintian found problems" >&2; exit 1; }
installed=$(dpkg-deb -f "$deb" Installed-Size)
echo "package: $deb ($(du -k "$deb" | cut -f1) kB; installed $installed kB)"
