# bash completion for quorvane, quorvane-rec and quorvane-convert. Monitor and sound source names
# come from the running desktop, through the programs' own lists, so they are the names they take.

_quorvane_rec_listed() {
  # The lists indent each entry by two spaces; a monitor's line is its number, then its name.
  "$1" "$2" 2>/dev/null | awk '/^  [^ ]/ { if ($1 ~ /^[0-9]+$/) print $2; else print $1 }'
}

_quorvane_rec() {
  local cur prev words cword
  _init_completion -s || return
  case $prev in
    --monitor)
      COMPREPLY=($(compgen -W "$(_quorvane_rec_listed "$1" --list-monitors)" -- "$cur"))
      return ;;
    --audio-source)
      # The sources that can record now: the list stops at the ones that cannot.
      COMPREPLY=($("$1" --list-audio-sources 2>/dev/null |
        awk '/^Not available/ { exit } /^  [^ ]/ { print $1 }' | grep -F -- "$cur"))
      return ;;
    --format) COMPREPLY=($(compgen -W "avi mkv mp4" -- "$cur")); return ;;
    --quality) COMPREPLY=($(compgen -W "high medium low" -- "$cur")); return ;;
    --fps) COMPREPLY=($(compgen -W "10 15 20 25 30 50 60" -- "$cur")); return ;;
    --ar) COMPREPLY=($(compgen -W "22050 44100" -- "$cur")); return ;;
    --backend) COMPREPLY=($(compgen -W "x11 pipewire" -- "$cur")); return ;;
    --window) COMPREPLY=($(compgen -W "$(xdotool search --onlyvisible --name . 2>/dev/null)" -- "$cur")); return ;;
    --region | --title | --size | --vb | --ab | --duration | --countdown | --node) return ;;
  esac
  if [[ $cur == -* ]]; then
    COMPREPLY=($(compgen -W "--fullscreen --region --window --title --monitor --list-monitors --no-audio
      --audio-source --list-audio-sources --format --quality --fps --size --keep-proportions --vb --ar
      --blink --every-frame --show-clicks --duration --countdown --backend --node -y -n --help" -- "$cur"))
    return
  fi
  _filedir '@(avi|mkv|mp4)'
}

_quorvane_convert() {
  local cur prev words cword
  _init_completion || return
  case $prev in
    -i | -repair) _filedir; return ;;
    -f) COMPREPLY=($(compgen -W "avi matroska mp4 mov wav mp3 ogg webm" -- "$cur")); return ;;
    -loglevel) COMPREPLY=($(compgen -W "quiet panic fatal error warning info verbose debug" -- "$cur")); return ;;
    -vcodec | -c:v | -codec:v | -acodec | -c:a | -codec:a | -b | -ab | -b:v | -b:a | -s | -r | -ar | -ac | -t | \
      -ss | -vf | -filter:v) return ;;
  esac
  if [[ $cur == -* ]]; then
    COMPREPLY=($(compgen -W "-i -repair -f -y -n -vcodec -c:v -acodec -c:a -b -b:v -ab -b:a -s -r -ar -ac -t -ss
      -vf -an -vn -sn -loglevel -help" -- "$cur"))
    return
  fi
  _filedir
}

_quorvane() {
  local cur prev words cword
  _init_completion || return
  COMPREPLY=($(compgen -W "--start --stop --pause --resume --toggle --show --status --help --version" -- "$cur"))
}

complete -F _quorvane_rec quorvane-rec
complete -F _quorvane_convert quorvane-convert
complete -F _quorvane quorvane
