#!/usr/bin/env bash
# Times `rilmaton-cli modify` against cp, SoX and FFmpeg on a 60-minute 16-bit
# stereo 44.1 kHz file and prints the median wall time of each.
#
#   bench/compare_modify.sh [BUILD_DIR] [FILE]
#
# RUNS (default 5) sets the runs per command; BENCH_DIR (default
# /tmp/rilmaton-bench) holds the generated file and the outputs. Without FILE
# a 60-minute pink-noise file is made there with SoX once.
set -euo pipefail

BUILD=${1:-build}
CLI=$(cd "$BUILD" && pwd)/rilmaton-cli
WORK=${BENCH_DIR:-/tmp/rilmaton-bench}
RUNS=${RUNS:-5}
mkdir -p "$WORK"
FILE=${2:-$WORK/sixty-minutes.wav}
OUT=$WORK/out.wav

[ -x "$CLI" ] || { echo "no $CLI: build first" >&2; exit 2; }
if [ ! -f "$FILE" ]; then
  echo "making $FILE (60 minutes of pink noise)..." >&2
  sox -n -r 44100 -c 2 -b 16 "$FILE" synth 3600 pinknoise vol 0.3
fi
cat "$FILE" >/dev/null  # into the page cache, as for every peer

now() { date +%s.%N; }

# median_of "label" command...: runs the command RUNS times (the output
# removed and flushed before each run), prints the median seconds.
median_of() {
  local label=$1
  shift
  local times=()
  for _ in $(seq "$RUNS"); do
    rm -f "$OUT"
    sync
    local t0 t1
    t0=$(now)
    "$@" >/dev/null 2>&1
    t1=$(now)
    times+=("$(echo "$t1 - $t0" | bc -l)")
  done
  local median
  median=$(printf '%s\n' "${times[@]}" | sort -g | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}')
  printf '%-34s %7.3f s   (runs: %s)\n' "$label" "$median" "$(printf '%.2f ' "${times[@]}")" >&2
  echo "$median"
}

peak_kib() {
  rm -f "$OUT"
  /usr/bin/time -f '%M' "$@" 2>&1 >/dev/null | tail -1
}

echo "file: $FILE ($(stat -c %s "$FILE") bytes), $RUNS runs each, load: $(cut -d' ' -f1-3 /proc/loadavg)" >&2

cp_sync=$(median_of "cp FILE OUT && sync OUT" sh -c "cp '$FILE' '$OUT' && sync '$OUT'")
vol=$(median_of "rilmaton-cli modify --volume 150" "$CLI" modify --volume 150 --output "$OUT" "$FILE")
sox_vol=$(median_of "sox FILE OUT vol 1.5" sox "$FILE" "$OUT" vol 1.5)
ff_vol=$(median_of "ffmpeg -af volume=1.5" ffmpeg -v error -y -i "$FILE" -af volume=1.5 "$OUT")
deemph=$(median_of "rilmaton-cli modify --deemphasis" "$CLI" modify --deemphasis --volume 100 --output "$OUT" "$FILE")
sox_deemph=$(median_of "sox FILE OUT deemph" sox "$FILE" "$OUT" deemph)
ff_deemph=$(median_of "ffmpeg -af aemphasis (cd, reproduction)" ffmpeg -v error -y -i "$FILE" -af aemphasis=mode=reproduction:type=cd "$OUT")

mem_vol=$(peak_kib "$CLI" modify --volume 150 --output "$OUT" "$FILE")
mem_deemph=$(peak_kib "$CLI" modify --deemphasis --volume 100 --output "$OUT" "$FILE")
rm -f "$OUT"

ratio() { echo "scale=2; $1 / $2" | bc -l; }
cat >&2 <<EOF

volume:     modify / (cp+sync)        = $(ratio "$vol" "$cp_sync")   (target <= 1.5)
            sox vol / modify          = $(ratio "$sox_vol" "$vol")   (target >= 4)
            ffmpeg volume / modify    = $(ratio "$ff_vol" "$vol")
de-emphasis: sox deemph / modify      = $(ratio "$sox_deemph" "$deemph")   (target >= 3)
            ffmpeg aemphasis / modify = $(ratio "$ff_deemph" "$deemph")   (target >= 7)
peak memory: volume $((mem_vol / 1024)) MiB, de-emphasis $((mem_deemph / 1024)) MiB (target < 16)
EOF
