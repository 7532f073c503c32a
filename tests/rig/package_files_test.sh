#!/usr/bin/env bash
# What the package installs beside the programs, checked where it is cheap: the desktop entry and
# the AppStream metadata pass their validators, the man pages were made from the programs' help, and
# the bash completion offers the names of this desktop's monitors and sound sources.
# (scripts/package-test.sh proves the package itself on a clean system.)
set -u
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=${QV_SOURCE_DIR:-$(cd "$here/../.." && pwd)}
if [ "${QV_RIG:-}" != 1 ]; then
  exec bash "$root/scripts/desktop-rig.sh" -- bash "${BASH_SOURCE[0]}" "$@"
fi
bin=${QV_BIN_DIR:?QV_BIN_DIR not set}
source "$root/tests/support/shell_checks.sh"

check "desktop-file-validate passes quorvane.desktop" desktop-file-validate "$root/src/app/resources/quorvane.desktop"
check "appstreamcli validate passes the metainfo" \
  appstreamcli validate --no-net --pedantic "$root/data/io.github.quorvane.Quorvane.metainfo.xml"

# Each page carries its program's options; --list-monitors is the newest of quorvane-rec's.
page_has() { [ -s "$bin/../man/$1.1" ] && man -l "$bin/../man/$1.1" 2>/dev/null | grep -q -- "$2"; }
check "man quorvane-rec lists --list-monitors" page_has quorvane-rec --list-monitors
check "man quorvane-convert lists -repair" page_has quorvane-convert -repair
check "man quorvane names its commands" page_has quorvane --toggle

# complete LINE: what bash would offer for the last word of LINE, one a line.
complete_line() {
  PATH=$bin:$PATH bash -c '
    source /usr/share/bash-completion/bash_completion
    source "$1"
    COMP_LINE=$2 COMP_POINT=${#2}
    read -ra COMP_WORDS <<<"$2"
    [[ $2 == *" " ]] && COMP_WORDS+=("")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    _quorvane_rec quorvane-rec "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
    printf "%s\n" "${COMPREPLY[@]}"' _ "$root/data/completion/quorvane.bash" "$1"
}
monitor=$("$bin/quorvane-rec" --list-monitors | awk '$1 == "0" { print $2 }')
offered=$(complete_line "quorvane-rec --monitor ")
check "--monitor completes to pointer, all and this desktop's monitor \"$monitor\"" \
  test "$(sort <<<"$offered" | tr '\n' ' ')" = "$(printf '%s\n' all pointer "$monitor" | sort | tr '\n' ' ')"
check "--audio-source completes to what the desktop plays" grep -qx desktop <<<"$(complete_line "quorvane-rec --audio-source de")"
check "--list-m completes to --list-monitors" test "$(complete_line "quorvane-rec --list-m")" = --list-monitors
finish package_files
