#!/usr/bin/env bash
# The layers' one rule each, checked on every test run:
#   src/core  includes only the standard library, POSIX and src/core itself (no Qt)
#   src/cli   includes only the core and itself
#   src/gui   may include the core and Qt, never the command-line tool
# and, inside the core, each folder includes only itself and the folders
# below it (the order below).
set -u
cd "$(dirname "$0")/.." || exit 1
status=0
complain() { echo "layers: $1"; status=1; }

while IFS= read -r hit; do
  complain "$hit (the core includes only core/ headers and system headers, no Qt)"
done < <(grep -rnE '^\s*#\s*include\s*("|<Q)' src/core | grep -vE '#\s*include\s*"core/')

while IFS= read -r hit; do
  complain "$hit (the command-line tool includes only core/ and cli/ headers)"
done < <(grep -rnE '^\s*#\s*include\s*("|<Q)' src/cli | grep -vE '#\s*include\s*"(core|cli)/')

while IFS= read -r hit; do
  complain "$hit (the desktop program does not include the command-line tool)"
done < <(grep -rnE '^\s*#\s*include\s*"cli/' src/gui)

# The core's inner order: each folder and the folders it may include besides
# itself. A folder's subfolders (dsp/integer_filter, dsp/loudness, ...) belong
# to it.
#
#   base                          errors, numbers, clock, the host interfaces
#   dsp       over base           the kernels: arithmetic over samples
#   io        over base           files, directories
#   wav       over io             the header reader, sample blocks
#   analysis  over wav and dsp    the statistics pass and its report
#   cue       over wav            cue sheets
#   repair    over wav            headers that lie, put right
#   modify    over analysis, cue  the modification run
#   picture   over analysis       the picture of a file's levels, as shapes and SVG
declare -A below=(
  [base]=""
  [dsp]="base"
  [io]="base"
  [wav]="base io"
  [analysis]="base io wav dsp"
  [cue]="base io wav"
  [repair]="base io wav"
  [modify]="base io wav dsp analysis cue"
  [picture]="base io wav dsp analysis"
)
for dir in src/core/*/; do
  folder=$(basename "$dir")
  if [[ ! -v "below[$folder]" ]]; then
    complain "src/core/$folder is not in the core's order (scripts/check_layers.sh)"
    continue
  fi
  while IFS= read -r hit; do
    included=$(sed -E 's/.*#\s*include\s*"core\/([^/"]+)\/.*/\1/' <<<"$hit")
    [[ "$included" == "$folder" || " ${below[$folder]} " == *" $included "* ]] && continue
    complain "$hit (core/$folder includes only itself${below[$folder]:+ and ${below[$folder]}})"
  done < <(grep -rnE '^\s*#\s*include\s*"core/[^/"]+/' "$dir")
done

[ "$status" -eq 0 ] && echo "layers: core, gui and cli include only what they may; the core's folders keep their order"
exit "$status"
