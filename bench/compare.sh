#!/usr/bin/env bash
# Times rilmaton-cli against general audio tools on a 60-minute 44.1 kHz stereo
# 16-bit file (pink noise at -10 dB, made with sox), read from the page cache,
# and prints the ratios.
#
#   bench/compare.sh [BUILD_DIR [report|modify|all]]   (default: build all)
#   CACHE=cold bench/compare.sh ...   the page cache dropped before every run
#                                     (as root: sync; echo 3 > /proc/sys/vm/drop_caches)
#
# Needs sox, ffmpeg, hyperfine and python3. Every comparison is a function;
# main() lists the ones that run. The modifications write into the same
# directory as the file; each run starts with the output removed and the disk
# synced. rilmaton-cli flushes its output, so cp is followed by sync to match;
# sox and ffmpeg run as they are.
set -euo pipefail

BUILD_DIR=${1:-build}
WHICH=${2:-all}
CLI="$(cd "$BUILD_DIR" && pwd)/rilmaton-cli"
RUNS=${RUNS:-7}        # runs of the fast commands
SLOW_RUNS=${SLOW_RUNS:-3}  # runs of ffmpeg, which takes seconds
WORK=""
CACHE=${CACHE:-warm}   # warm: the file comes from the page cache; cold: from the disk

need() {
  command -v "$1" >/dev/null 2>&1 || { echo "compare.sh: $1 is not installed" >&2; exit 1; }
}

cleanup() { [[ -n "$WORK" ]] && rm -rf "$WORK"; }

# make_test_file PATH: 60 minutes of stereo pink noise at -10 dB, 16 bit, 44.1 kHz.
make_test_file() {
  sox -n -r 44100 -c 2 -b 16 "$1" synth 3600 pinknoise pinknoise vol -10dB
}

# time_command NAME RUNS COMMAND [PREPARE]: times COMMAND with hyperfine (after
# a warm-up run that also puts the file into the page cache), running PREPARE
# before each run; prints the median in seconds.
time_command() {
  local name=$1 runs=$2 cmd=$3 prepare=${4:-true}
  local json="$WORK/$name.json"
  if [[ "$CACHE" == cold ]]; then prepare="$prepare; sync; echo 3 > /proc/sys/vm/drop_caches"; fi
  hyperfine --style none --warmup 1 --runs "$runs" --prepare "$prepare" --export-json "$json" \
    -n "$name" "$cmd" >/dev/null
  python3 -c 'import json,sys; print(json.load(open(sys.argv[1]))["results"][0]["median"])' "$json"
}

# peak_memory_kib COMMAND: the maximum resident set size of one run.
peak_memory_kib() {
  /usr/bin/time -f '%M' bash -c "$1 >/dev/null" 2>&1 | tail -1
}

ratio() { python3 -c 'import sys; print(f"{float(sys.argv[1]) / float(sys.argv[2]):.2f}")' "$1" "$2"; }

# The analysis: rilmaton-cli report against sox stats, ffmpeg astats and cat.
report_comparison() {
  local file=$1
  echo "== report: $(du -h "$file" | cut -f1) file, $CACHE page cache, medians of hyperfine runs"
  local t_report t_report1 t_sox t_ffmpeg t_cat
  t_cat=$(time_command cat "$RUNS" "cat '$file' > /dev/null")
  t_report=$(time_command report "$RUNS" "'$CLI' report '$file'")
  t_report1=$(time_command report1 "$RUNS" "'$CLI' report --threads 1 '$file'")
  t_sox=$(time_command sox "$RUNS" "sox '$file' -n stats")
  t_ffmpeg=$(time_command ffmpeg "$SLOW_RUNS" "ffmpeg -v error -i '$file' -af astats -f null -")
  printf '%-34s %8.3f s\n' "rilmaton-cli report" "$t_report" \
    "rilmaton-cli report --threads 1" "$t_report1" \
    "sox FILE -n stats" "$t_sox" \
    "ffmpeg -af astats" "$t_ffmpeg" \
    "cat FILE > /dev/null" "$t_cat"
  echo "sox stats / report:     $(ratio "$t_sox" "$t_report")x   (target >= 6)"
  echo "ffmpeg astats / report: $(ratio "$t_ffmpeg" "$t_report")x   (target >= 25)"
  echo "report / cat:           $(ratio "$t_report" "$t_cat")x   (target <= 3)"
  echo "peak memory of report:  $(peak_memory_kib "'$CLI' report '$file'") KiB   (limit 32768)"
}

# The modification: rilmaton-cli modify against cp, sox and ffmpeg.
modify_comparison() {
  local file=$1 out="$WORK/out.wav"
  local fresh="rm -f '$out'; sync"
  echo "== modify: $(du -h "$file" | cut -f1) file, $CACHE page cache, medians of hyperfine runs"
  local t_cp t_vol t_sox_vol t_ff_vol t_deemph t_sox_deemph t_ff_deemph
  t_cp=$(time_command cp "$RUNS" "cp '$file' '$out' && sync '$out'" "$fresh")
  t_vol=$(time_command volume "$RUNS" "'$CLI' modify --volume 150 --output '$out' '$file'" "$fresh")
  t_sox_vol=$(time_command sox-vol "$SLOW_RUNS" "sox '$file' '$out' vol 1.5" "$fresh")
  t_ff_vol=$(time_command ffmpeg-vol "$SLOW_RUNS" \
    "ffmpeg -v error -y -i '$file' -af volume=1.5 '$out'" "$fresh")
  t_deemph=$(time_command deemph "$RUNS" \
    "'$CLI' modify --deemphasis --volume 100 --output '$out' '$file'" "$fresh")
  t_sox_deemph=$(time_command sox-deemph "$SLOW_RUNS" "sox '$file' '$out' deemph" \
    "$fresh")
  t_ff_deemph=$(time_command ffmpeg-deemph "$SLOW_RUNS" \
    "ffmpeg -v error -y -i '$file' -af aemphasis=mode=reproduction:type=cd '$out'" \
    "$fresh")
  printf '%-46s %8.3f s\n' "rilmaton-cli modify --volume 150" "$t_vol" \
    "cp FILE OUT && sync OUT" "$t_cp" \
    "sox FILE OUT vol 1.5" "$t_sox_vol" \
    "ffmpeg -af volume=1.5" "$t_ff_vol" \
    "rilmaton-cli modify --deemphasis --volume 100" "$t_deemph" \
    "sox FILE OUT deemph" "$t_sox_deemph" \
    "ffmpeg -af aemphasis (cd, reproduction)" "$t_ff_deemph"
  echo "volume / (cp+sync):        $(ratio "$t_vol" "$t_cp")x   (target <= 1.25)"
  echo "deemph / (cp+sync):        $(ratio "$t_deemph" "$t_cp")x   (target <= 1.5)"
  echo "sox vol / volume:          $(ratio "$t_sox_vol" "$t_vol")x   (target >= 4)"
  echo "ffmpeg volume / volume:    $(ratio "$t_ff_vol" "$t_vol")x"
  echo "sox deemph / deemph:       $(ratio "$t_sox_deemph" "$t_deemph")x   (target >= 5)"
  echo "ffmpeg aemphasis / deemph: $(ratio "$t_ff_deemph" "$t_deemph")x   (target >= 7)"
  rm -f "$out"
  echo "peak memory of volume:     $(peak_memory_kib "'$CLI' modify --volume 150 --output '$out' '$file'") KiB   (limit 32768)"
  rm -f "$out"
  echo "peak memory of deemph:     $(peak_memory_kib "'$CLI' modify --deemphasis --volume 100 --output '$out' '$file'") KiB   (limit 32768)"
  rm -f "$out"
}

main() {
  need sox
  need ffmpeg
  need hyperfine
  need python3
  [[ -x "$CLI" ]] || { echo "compare.sh: $CLI not found; build first" >&2; exit 1; }
  WORK=$(mktemp -d)
  trap cleanup EXIT
  local file="$WORK/pink-60min.wav"
  echo "making $file ..."
  make_test_file "$file"
  case "$WHICH" in
    report) report_comparison "$file" ;;
    modify) modify_comparison "$file" ;;
    all)
      report_comparison "$file"
      modify_comparison "$file"
      ;;
    *) echo "compare.sh: report, modify or all, not '$WHICH'" >&2; exit 2 ;;
  esac
}

main "$@"
