#!/usr/bin/env bash
# Instructions executed by rilmaton-cli's hot paths, counted by callgrind: a
# measure that other work on a shared machine does not disturb, unlike wall
# times. Compare two builds by running this for each.
#
#   bench/instructions.sh [BUILD_DIR [SECONDS]]   (default: build 60)
#
# Makes a stereo and a mono 44.1 kHz 16-bit file of SECONDS seconds (pink noise
# at -10 dB, sox) and counts, with one thread for the samples, the report and
# the modifications (volume, maximize, de-emphasis with and without the trial
# that spares the analysis, a cue sheet's de-emphasis of one track).
set -euo pipefail

BUILD_DIR=${1:-build}
SECONDS_LONG=${2:-60}
CLI="$(cd "$BUILD_DIR" && pwd)/rilmaton-cli"
command -v valgrind >/dev/null || { echo "instructions.sh: valgrind is not installed" >&2; exit 1; }
command -v sox >/dev/null || { echo "instructions.sh: sox is not installed" >&2; exit 1; }

WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
sox -R -n -r 44100 -c 2 -b 16 "$WORK/stereo.wav" synth "$SECONDS_LONG" pinknoise pinknoise vol -10dB
sox -R -n -r 44100 -c 1 -b 16 "$WORK/mono.wav" synth "$SECONDS_LONG" pinknoise vol -10dB

# count NAME ARGS...: the instructions of one run of rilmaton-cli ARGS.
count() {
  local name=$1
  shift
  rm -f "$WORK/out.wav" "$WORK/cg.out"
  (cd "$WORK" && valgrind --tool=callgrind --callgrind-out-file="$WORK/cg.out" \
    "$CLI" "$@" >/dev/null 2>&1) >/dev/null 2>&1 || true
  local ir
  ir=$(grep -E '^(summary|totals):' "$WORK/cg.out" | head -1 | awk '{print $2}')
  printf '%-44s %15s\n' "$name" "$ir"
}

printf '%-44s %15s\n' "command (--threads 1, ${SECONDS_LONG} s)" "instructions"
for f in stereo mono; do
  count "report $f" report --threads 1 "$f.wav"
  count "modify --volume 80 $f" modify --threads 1 --volume 80 --output out.wav "$f.wav"
  count "modify --maximize $f" modify --threads 1 --maximize --output out.wav "$f.wav"
  count "modify --deemphasis (trial) $f" modify --threads 1 --deemphasis --output out.wav "$f.wav"
  count "modify --deemphasis --maximize $f" modify --threads 1 --deemphasis --maximize \
    --output out.wav "$f.wav"
done
count "modify --deemphasis --threads 2 stereo" modify --threads 2 --deemphasis --output out.wav \
  stereo.wav
printf 'FILE "stereo.wav" WAVE\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n  TRACK 02 AUDIO\n    FLAGS PRE\n    INDEX 01 00:05:00\n' \
  >"$WORK/album.cue"
count "modify --deemphasis --cue (one track)" modify --deemphasis --cue album.cue
