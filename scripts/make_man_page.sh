#!/usr/bin/env bash
# Writes the man page of rilmaton-cli from its --help texts with help2man:
# the program's own help, then each command's as a section of its own.
# Usage: make_man_page.sh PATH/TO/rilmaton-cli OUT.1
set -euo pipefail
cli=$1
out=$2
include=$(mktemp)
trap 'rm -f "$include"' EXIT
for command in report modify cue repair; do
  printf '[%s COMMAND]\n.nf\n' "${command^^}"
  # Backslashes and lines that start with a dot or a quote mean something to roff.
  "$cli" "$command" --help | sed -e 's/\\/\\e/g' -e "s/^\([.']\)/\\\\\&\1/"
  printf '.fi\n'
done >"$include"
help2man --no-info --no-discard-stderr --name='check and repair PCM WAV files' \
  --include="$include" --output="$out" "$cli"
