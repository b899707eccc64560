# bash completion for rilmaton-cli: its commands, each command's options, and
# WAV files, directories or cue sheets as their operands.
_rilmaton_cli() {
  local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]}
  local commands="report modify cue repair --help --version"
  if [ "$COMP_CWORD" -eq 1 ]; then
    mapfile -t COMPREPLY < <(compgen -W "$commands" -- "$cur")
    return
  fi
  local many="--recursive -r --files-from --null -0 --jobs -j --threads --help -h"
  local options
  case ${COMP_WORDS[1]} in
    report) options="--crlf --json --no-loudness --no-times --svg $many" ;;
    modify)
      options="--deemphasis --maximize --album --volume --loudness --true-peak-limit"
      options="$options --output --output-dir --in-place"
      options="$options --cue --cue-outside-ok $many"
      ;;
    cue) options="--json --help -h" ;;
    repair)
      options="--dry-run --in-place --output --output-dir --format --json --recursive -r"
      options="$options --files-from --null -0 --jobs -j --help -h"
      ;;
    *) return ;;
  esac
  case $prev in
    --volume | --loudness | --true-peak-limit | --jobs | -j | --threads | --format) return ;;
    --files-from | --output)
      mapfile -t COMPREPLY < <(compgen -f -- "$cur")
      return
      ;;
    --cue)
      mapfile -t COMPREPLY < <(compgen -f -X '!*.[cC][uU][eE]' -- "$cur"; compgen -d -- "$cur")
      compopt -o filenames 2>/dev/null
      return
      ;;
    --output-dir | --svg)
      mapfile -t COMPREPLY < <(compgen -d -- "$cur")
      return
      ;;
  esac
  if [[ $cur == -* ]]; then
    mapfile -t COMPREPLY < <(compgen -W "$options" -- "$cur")
    return
  fi
  local pattern='!*.[wW][aA][vV]'
  [ "${COMP_WORDS[1]}" = cue ] && pattern='!*.[cC][uU][eE]'
  mapfile -t COMPREPLY < <(compgen -f -X "$pattern" -- "$cur"; compgen -d -- "$cur")
  compopt -o filenames 2>/dev/null
}
complete -F _rilmaton_cli rilmaton-cli
