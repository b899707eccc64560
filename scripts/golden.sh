#!/bin/sh
# Golden outputs of rilmaton-cli, to show that a change of the code leaves
# what users see as it was.
#
#   scripts/golden.sh record CLI OUTDIR [WAV_DIR...]
#       runs CLI over every *.wav in WAV_DIR (default: $RIL_CORPUS or ../shared/corpus, when
#       there) and over generated files (SoX, repeatable), and writes into
#       OUTDIR one text file per file and command: its stdout, stderr, exit
#       status and the SHA-256 of what it wrote. The time lines
#       ("Calculation time", "Manipulation time") are masked.
#   scripts/golden.sh compare DIR1 DIR2
#       counts the outputs that differ and shows the first differences;
#       exit status 1 when any does.
#
# Record the old program and the new one into two directories, then compare.
set -eu

usage() {
  sed -n '2,16p' "$0" >&2
  exit 2
}

# Lengths in seconds of the long generated files: long enough for the
# segmented filters, the threads and several blocks of the pipeline.
LONG=${GOLDEN_SECONDS:-30}

# The generated inputs: stereo and mono, 8 and 16 bits, 44.1 kHz files that
# keep within range after de-emphasis and files that clip, another rate,
# silence.
generate() {
  dir=$1
  mkdir -p "$dir"
  command -v sox >/dev/null || {
    echo "golden.sh: sox not found: no generated files" >&2
    return 0
  }
  s="sox -R -n -r 44100"
  $s -b 16 -c 1 "$dir/l.wav" synth "$LONG" pinknoise vol 0.35
  $s -b 16 -c 1 "$dir/r.wav" synth "$LONG" sine 440 sine 3000 vol 0.3
  sox -R -M "$dir/l.wav" "$dir/r.wav" "$dir/gen-stereo16-music.wav"
  $s -b 16 -c 1 "$dir/sq.wav" synth "$LONG" square 220 vol 0.98
  sox -R -M "$dir/sq.wav" "$dir/l.wav" "$dir/gen-stereo16-clips.wav"
  cp "$dir/sq.wav" "$dir/gen-mono16-clips.wav"
  $s -b 16 -c 1 "$dir/gen-mono16-quiet.wav" synth "$LONG" pinknoise vol 0.05
  $s -b 16 -c 1 "$dir/q.wav" synth "$LONG" brownnoise vol 0.1
  sox -R -M "$dir/gen-mono16-quiet.wav" "$dir/q.wav" "$dir/gen-stereo16-quiet.wav"
  $s -b 8 -c 1 "$dir/m8.wav" synth 10 square 300 vol 0.95
  $s -b 8 -c 1 "$dir/n8.wav" synth 10 pinknoise vol 0.4
  sox -R -M "$dir/m8.wav" "$dir/n8.wav" "$dir/gen-stereo8.wav"
  cp "$dir/n8.wav" "$dir/gen-mono8.wav"
  sox -R -n -r 48000 -b 16 -c 2 "$dir/gen-stereo16-48k.wav" synth 5 pinknoise vol 0.5
  $s -b 16 -c 2 "$dir/gen-silence.wav" trim 0 3
  rm -f "$dir/l.wav" "$dir/r.wav" "$dir/sq.wav" "$dir/q.wav" "$dir/m8.wav" "$dir/n8.wav"
}

mask() {
  sed -e 's/^\(Calculation time = \).*/\1(masked)/' -e 's/^\(Manipulation time = \).*/\1(masked)/'
}

# run NAME ARGS...: runs the CLI in the scratch directory and appends its
# outputs to the record of NAME.
run() {
  name=$1
  shift
  status=0
  (cd "$scratch" && "$cli" "$@" >"$scratch/.out" 2>"$scratch/.err") || status=$?
  {
    echo "## $*"
    echo "# exit $status"
    echo "# stdout"
    mask <"$scratch/.out"
    echo "# stderr"
    mask <"$scratch/.err"
    for f in out.wav "$name" "$name.old"; do
      if [ -f "$scratch/$f" ]; then
        echo "# $f $(sha256sum <"$scratch/$f" | cut -c1-64)"
      fi
    done
  } >>"$record"
}

record_file() {
  wav=$1
  name=$(basename "$wav")
  record="$out/$name.txt"
  : >"$record"
  for args in "report" "report --json"; do
    rm -rf "$scratch" && mkdir -p "$scratch" && cp "$wav" "$scratch/$name"
    # shellcheck disable=SC2086
    run "$name" $args "$name"
  done
  for args in "--volume 80" "--volume 150" "--maximize" "--deemphasis" \
    "--deemphasis --volume 120" "--deemphasis --maximize" "--deemphasis --threads 1" \
    "--deemphasis --threads 3" "--volume 100"; do
    rm -rf "$scratch" && mkdir -p "$scratch" && cp "$wav" "$scratch/$name"
    # shellcheck disable=SC2086
    run "$name" modify $args --output out.wav "$name"
  done
  # Beside the file (NAME.wav.old kept) and in place.
  rm -rf "$scratch" && mkdir -p "$scratch" && cp "$wav" "$scratch/$name"
  run "$name" modify --deemphasis "$name"
  rm -rf "$scratch" && mkdir -p "$scratch" && cp "$wav" "$scratch/$name"
  run "$name" modify --volume 90 --in-place "$name"
}

# A cue sheet over a generated file: the middle track flagged PRE, so that
# only its frames are de-emphasised.
record_cue() {
  wav=$1
  name=$(basename "$wav")
  record="$out/cue-$name.txt"
  : >"$record"
  rm -rf "$scratch" && mkdir -p "$scratch" && cp "$wav" "$scratch/$name"
  printf 'FILE "%s" WAVE\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n  TRACK 02 AUDIO\n    FLAGS PRE\n    INDEX 01 00:05:10\n  TRACK 03 AUDIO\n    INDEX 01 00:12:00\n' \
    "$name" >"$scratch/album.cue"
  run "$name" cue album.cue
  run "$name" modify --deemphasis --cue album.cue
  echo "# album.cue $(sha256sum <"$scratch/album.cue" | cut -c1-64)" >>"$record"
}

record() {
  [ $# -ge 2 ] || usage
  cli=$(realpath "$1")
  out=$2
  shift 2
  [ $# -gt 0 ] || set -- "${RIL_CORPUS:-$(dirname "$0")/../../shared/corpus}"
  mkdir -p "$out"
  out=$(realpath "$out")
  scratch=$(mktemp -d)
  trap 'rm -rf "$scratch" "$out/.generated"' EXIT
  generate "$out/.generated"
  for dir in "$@" "$out/.generated"; do
    [ -d "$dir" ] || {
      echo "golden.sh: no directory $dir" >&2
      continue
    }
    for wav in "$dir"/*.wav; do
      [ -f "$wav" ] && record_file "$wav"
    done
  done
  for wav in "$out/.generated/gen-stereo16-clips.wav" "$out/.generated/gen-mono8.wav"; do
    [ -f "$wav" ] && record_cue "$wav"
  done
  echo "golden.sh: $(ls "$out" | wc -l) records in $out"
}

compare() {
  [ $# -eq 2 ] || usage
  total=0
  differing=0
  for name in $( (ls "$1" && ls "$2") | grep '\.txt$' | sort -u); do
    total=$((total + 1))
    if ! cmp -s "$1/$name" "$2/$name" 2>/dev/null; then
      differing=$((differing + 1))
      if [ $differing -le 5 ]; then
        echo "--- $name"
        diff "$1/$name" "$2/$name" 2>&1 | head -20 || true
      fi
    fi
  done
  runs=$(cat "$1"/*.txt | grep -c '^## ' || true)
  echo "golden.sh: $differing of $total records differ ($runs runs in $1)"
  [ $differing -eq 0 ]
}

[ $# -ge 1 ] || usage
command=$1
shift
case $command in
  record) record "$@" ;;
  compare) compare "$@" ;;
  *) usage ;;
esac
