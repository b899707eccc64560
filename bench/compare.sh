#!/usr/bin/env bash
# Times rilmaton-cli against general audio tools on a 60-minute 44.1 kHz stereo
# 16-bit file (pink noise at -10 dB, made with sox), read from the page cache,
# and prints the ratios; the repair of the same file left unfinished against
# cp and sync, and in place on a 4 GiB one; and on many small files (300
# files of 2.5 s each), --jobs 1 against --jobs 2 and a shell loop over sox.
#
#   bench/compare.sh [BUILD_DIR [report|loudness|modify|repair|files|formats|all]]   (default: build all)
#   PREVIOUS_BUILD=DIR bench/compare.sh BUILD formats|loudness   an earlier build beside this one
#   CACHE=cold bench/compare.sh ...   the page cache dropped before every run
#                                     (as root: sync; echo 3 > /proc/sys/vm/drop_caches)
#
# Needs sox, ffmpeg, hyperfine and python3; the loudness comparison also the
# build's ebur128_peer (built where libebur128-dev is installed). Every comparison is a function;
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

# cache_as_read PATH: the file's pages dropped from the page cache and read
# back once. A file sox has just written stays cached in the small pieces of
# its writes, and every reader copies it out at about half the speed of a
# file read from the disk (measured: `dd bs=2M` of a 1.3 GiB float file
# 0.14 s as sox left it, 0.06 s once read back). Read back, each tool reads
# the file as it would one of an archive that was read before.
cache_as_read() {
  python3 -c 'import os, sys
fd = os.open(sys.argv[1], os.O_RDONLY)
os.posix_fadvise(fd, 0, 0, os.POSIX_FADV_DONTNEED)
os.close(fd)' "$1"
  cat "$1" > /dev/null
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
  median_of "$name"
}

# time_rounds PREFIX NAME COMMAND [NAME COMMAND ...]: a warm-up round, then
# RUNS rounds of one run of each command in turn, so that a change in the
# machine's state (which moves a run by a third within minutes here) falls
# on all of them alike; leaves each command's median wall and user time in
# $WORK/NAME.json, where time_command leaves them.
time_rounds() {
  local prefix=$1 round prepare=true
  shift
  local commands=()
  while (($#)); do
    commands+=(-n "$1" "$2")
    shift 2
  done
  [[ "$CACHE" == cold ]] && prepare="sync; echo 3 > /proc/sys/vm/drop_caches"
  for round in $(seq 0 "$RUNS"); do
    hyperfine --style none --runs 1 --prepare "$prepare" \
      --export-json "$WORK/$prefix-$round.json" "${commands[@]}" >/dev/null
  done
  python3 -c '
import json, statistics, sys
work, prefix, runs = sys.argv[1], sys.argv[2], int(sys.argv[3])
wall, user = {}, {}
for r in range(1, runs + 1):
    for x in json.load(open(f"{work}/{prefix}-{r}.json"))["results"]:
        wall.setdefault(x["command"], []).append(x["median"])
        user.setdefault(x["command"], []).append(x["user"])
for name in wall:
    result = {"median": statistics.median(wall[name]), "user": statistics.median(user[name])}
    json.dump({"results": [result]}, open(f"{work}/{name}.json", "w"))
' "$WORK" "$prefix" "$RUNS"
}

# median_of NAME: the median wall time time_command or time_rounds left for NAME.
median_of() {
  python3 -c 'import json,sys; print(json.load(open(sys.argv[1]))["results"][0]["median"])' "$WORK/$1.json"
}

# user_of NAME: the user CPU time time_command (mean) or time_rounds (median)
# left for NAME, in seconds (steadier than the wall time while other work
# shares the machine).
user_of() {
  python3 -c 'import json,sys; print(json.load(open(sys.argv[1]))["results"][0]["user"])' "$WORK/$1.json"
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

# The loudness: the report with and without it, side by side: a warm-up
# round, then RUNS rounds of one hyperfine run of each of the four commands
# (time_rounds), so that the machine's load (other builds on a shared
# machine) falls on all alike; medians of the wall time and of the user CPU
# time. Then ffmpeg's ebur128 filter with true peak
# and libebur128 with true peak. With PREVIOUS_BUILD (say, the build before
# the loudness was added) its report runs in the same rounds.
loudness_comparison() {
  local file=$1 peer previous=()
  [[ -n "${PREVIOUS_BUILD:-}" ]] &&
    previous=(previous "'$(cd "$PREVIOUS_BUILD" && pwd)/rilmaton-cli' report '$file'")
  peer="$(dirname "$CLI")/ebur128_peer"
  [[ -x "$peer" ]] || { echo "compare.sh: $peer not built (libebur128-dev)" >&2; exit 1; }
  echo "== loudness: $(du -h "$file" | cut -f1) file, $CACHE page cache, load $(cut -d' ' -f1-3 /proc/loadavg)"
  time_rounds loudness with "'$CLI' report '$file'" without "'$CLI' report --no-loudness '$file'" \
    with1 "'$CLI' report --threads 1 '$file'" \
    without1 "'$CLI' report --threads 1 --no-loudness '$file'" "${previous[@]}"
  local t_with t_without t_with1 t_without1 u_with u_without u_with1 u_without1 t_previous
  local t_ffmpeg t_peer
  t_with=$(median_of with) t_without=$(median_of without)
  t_with1=$(median_of with1) t_without1=$(median_of without1)
  u_with=$(user_of with) u_without=$(user_of without)
  u_with1=$(user_of with1) u_without1=$(user_of without1)
  [[ ${#previous[@]} -gt 0 ]] && t_previous=$(median_of previous)
  t_ffmpeg=$(time_command ffmpeg-ebur128 "$SLOW_RUNS" \
    "ffmpeg -v error -nostats -i '$file' -af ebur128=peak=true -f null -")
  t_peer=$(time_command libebur128 "$SLOW_RUNS" "'$peer' '$file'")
  printf '%-46s %8.3f s  user %6.3f s\n' "rilmaton-cli report" "$t_with" "$u_with" \
    "rilmaton-cli report --no-loudness" "$t_without" "$u_without" \
    "rilmaton-cli report --threads 1" "$t_with1" "$u_with1" \
    "rilmaton-cli report --threads 1 --no-loudness" "$t_without1" "$u_without1"
  printf '%-46s %8.3f s\n' "ffmpeg -af ebur128=peak=true" "$t_ffmpeg" \
    "libebur128 (true peak)" "$t_peer"
  echo "with / without loudness:        $(ratio "$t_with" "$t_without")x   (target <= 1.5)"
  if [[ ${#previous[@]} -gt 0 ]]; then
    printf '%-46s %8.3f s\n' "the previous build's report" "$t_previous"
    echo "with / previous build's report:  $(ratio "$t_with" "$t_previous")x"
  fi
  echo "with / without, one thread:     $(ratio "$t_with1" "$t_without1")x"
  echo "with / without, user CPU:       $(ratio "$u_with" "$u_without")x"
  echo "ffmpeg ebur128 / report:        $(ratio "$t_ffmpeg" "$t_with")x   (target >= 20)"
  echo "libebur128 / report:            $(ratio "$t_peer" "$t_with")x   (target >= 20)"
  echo "load after:                     $(cut -d' ' -f1-3 /proc/loadavg)"
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

# Every further format: a 48 kHz stereo file of FORMAT_MINUTES minutes (60 by
# default, about 1 GB) of 24-bit PCM and one of 32-bit float, each read by
# report against cat and sox stats, and rewritten by modify --volume 80
# against cp + sync; the 16-bit figures of report_comparison and
# modify_comparison stand beside them in the same run with "all".
# One line of the formats' table: name, the run's name, and its median.
format_line() { printf '%-44s %8.3f s   user %6.3f s\n' "$1" "$3" "$(user_of "$2")"; }

# The further formats: 24-bit and float stereo at 48 kHz. With PREVIOUS_BUILD
# set to another build directory, its report and volume modify run in the
# same minutes, and both builds' on a 16-bit file of the same length, whose
# figures must not get slower.
formats_comparison() {
  local minutes=${FORMAT_MINUTES:-60} out="$WORK/out.wav"
  local fresh="rm -f '$out'; sync"
  local previous_cli=""
  [[ -n "${PREVIOUS_BUILD:-}" ]] && previous_cli="$(cd "$PREVIOUS_BUILD" && pwd)/rilmaton-cli"
  local kind file t_cat t_report t_report1 t_sox t_cp t_vol t
  for kind in "24-bit:-b 24" "float:-e floating-point -b 32" "16-bit:-b 16"; do
    [[ "${kind%%:*}" == 16-bit && -z "$previous_cli" ]] && continue
    file="$WORK/${kind%%:*}.wav"
    # shellcheck disable=SC2086
    sox -n -r 48000 -c 2 ${kind#*:} "$file" synth "$((minutes * 60))" pinknoise pinknoise vol -10dB
    sync
    cache_as_read "$file"
    echo "== ${kind%%:*} stereo 48 kHz, $minutes min: $(du -h "$file" | cut -f1), $CACHE page cache"
    # The analyses and cat in rounds; the previous build's report among them.
    local rounds=(cat "cat '$file' > /dev/null" report "'$CLI' report '$file'"
      report-nl "'$CLI' report --no-loudness '$file'")
    [[ -n "$previous_cli" ]] && rounds+=(prev-report "'$previous_cli' report '$file'")
    time_rounds "${kind%%:*}" "${rounds[@]}"
    t_cat=$(median_of cat)
    t_report=$(median_of report)
    t_report1=$(median_of report-nl)
    t_cp=$(time_command cp "$RUNS" "cp '$file' '$out' && sync '$out'" "$fresh")
    t_vol=$(time_command volume "$RUNS" "'$CLI' modify --volume 80 --output '$out' '$file'" "$fresh")
    format_line "rilmaton-cli report" report "$t_report"
    format_line "rilmaton-cli report --no-loudness" report-nl "$t_report1"
    format_line "rilmaton-cli modify --volume 80 --output" volume "$t_vol"
    if [[ -n "$previous_cli" ]]; then
      format_line "previous build: report" prev-report "$(median_of prev-report)"
      t=$(time_command prev-volume "$RUNS" "'$previous_cli' modify --volume 80 --output '$out' '$file'" "$fresh")
      format_line "previous build: modify --volume 80 --output" prev-volume "$t"
    fi
    format_line "cat FILE > /dev/null" cat "$t_cat"
    format_line "cp FILE OUT && sync OUT" cp "$t_cp"
    if [[ "${kind%%:*}" != 16-bit ]]; then
      t_sox=$(time_command sox "$SLOW_RUNS" "sox '$file' -n stats")
      format_line "sox FILE -n stats" sox "$t_sox"
      echo "sox stats / report:        $(ratio "$t_sox" "$t_report")x   (target >= 6)"
    fi
    echo "report / cat:              $(ratio "$t_report" "$t_cat")x   (target <= 3)"
    echo "report --no-loudness / cat: $(ratio "$t_report1" "$t_cat")x"
    echo "volume / (cp+sync):        $(ratio "$t_vol" "$t_cp")x   (target <= 1.25)"
    echo "peak memory of report:     $(peak_memory_kib "'$CLI' report '$file'") KiB   (limit 32768)"
    rm -f "$out"
    echo "peak memory of volume:     $(peak_memory_kib "'$CLI' modify --volume 80 --output '$out' '$file'") KiB   (limit 32768)"
    rm -f "$out" "$file"
  done
}

# Many small files: the cost of each file beyond its samples, and the gain
# of a second thread. The 300 files are the cuts of one 750-second file, whose
# analysis in one piece is the same work without the per-file part.
many_files_comparison() {
  local dir="$WORK/files" whole="$WORK/whole-750s.wav" count=300
  mkdir -p "$dir"
  sox -n -r 44100 -c 2 -b 16 "$whole" synth 750 pinknoise pinknoise vol -10dB
  sox "$whole" "$dir/part.wav" trim 0 2.5 : newfile : restart
  local made
  made=$(find "$dir" -name '*.wav' | wc -l)
  [[ "$made" -eq "$count" ]] || { echo "compare.sh: made $made files, not $count" >&2; exit 1; }
  echo "== many files: $count files of 2.5 s ($(du -sh "$dir" | cut -f1)), medians of hyperfine runs"
  local t_whole t_j1 t_j2 t_sox
  t_whole=$(time_command whole "$RUNS" "'$CLI' report '$whole' > /dev/null")
  t_j1=$(time_command jobs1 "$RUNS" "'$CLI' report --jobs 1 '$dir'/*.wav > /dev/null")
  t_j2=$(time_command jobs2 "$RUNS" "'$CLI' report --jobs 2 '$dir'/*.wav > /dev/null")
  t_sox=$(time_command sox-loop "$SLOW_RUNS" \
    "for f in '$dir'/*.wav; do sox \"\$f\" -n stats 2>/dev/null; done")
  printf '%-46s %8.3f s\n' "rilmaton-cli report --jobs 1 (300 files)" "$t_j1" \
    "rilmaton-cli report --jobs 2 (300 files)" "$t_j2" \
    "for f in FILES; do sox \$f -n stats; done" "$t_sox" \
    "rilmaton-cli report (one 750 s file)" "$t_whole"
  echo "--jobs 1 / --jobs 2:        $(ratio "$t_j1" "$t_j2")x   (target >= 1.8)"
  echo "sox loop / --jobs 2:        $(ratio "$t_sox" "$t_j2")x"
  echo "overhead per file:          $(python3 -c 'import sys; print(f"{(float(sys.argv[1]) - float(sys.argv[2])) / int(sys.argv[3]) * 1000:.2f}")' "$t_j1" "$t_whole" "$count") ms   (target <= 5; --jobs 1 minus one file of the same data, per file)"
}

# unfinish SRC DST: a copy of SRC as a recorder leaves it when it never
# finishes: data size 0, the RIFF size of an empty file (SRC has a 44-byte header).
unfinish() {
  cp "$1" "$2"
  printf '\x24\x00\x00\x00' | dd of="$2" bs=1 seek=4 conv=notrunc status=none
  printf '\x00\x00\x00\x00' | dd of="$2" bs=1 seek=40 conv=notrunc status=none
}

# The repair: the default placement (the whole file written anew beside the
# original) against cp and sync, and in place on a 4 GiB file.
repair_comparison() {
  local file=$1 open="$WORK/open.wav" pristine="$WORK/open-pristine.wav" out="$WORK/out.wav"
  local huge="$WORK/huge-open.wav"
  unfinish "$file" "$pristine"
  echo "== repair: $(du -h "$pristine" | cut -f1) unfinished recording, $CACHE page cache, medians of hyperfine runs"
  local t_cp t_repair t_output t_inplace t_huge
  t_cp=$(time_command cp "$RUNS" "cp '$pristine' '$out' && sync '$out'" "rm -f '$out'; sync")
  t_repair=$(time_command repair "$RUNS" "'$CLI' repair '$open' > /dev/null" \
    "rm -f '$open.old'; cp '$pristine' '$open'; sync")
  t_output=$(time_command repair-output "$RUNS" "'$CLI' repair --output '$out' '$pristine' > /dev/null" \
    "rm -f '$out'; sync")
  t_inplace=$(time_command repair-in-place "$RUNS" "'$CLI' repair --in-place '$open' > /dev/null 2>&1" \
    "cp '$pristine' '$open'; sync")
  # Almost 4 GiB of audio (a RIFF file's most) behind a header of data size 0:
  # sparse, so it costs no disk.
  head -c 44 "$pristine" > "$huge"
  truncate -s $(((4 << 30) - 64)) "$huge"
  t_huge=$(time_command repair-huge "$RUNS" "'$CLI' repair --in-place '$huge' > /dev/null 2>&1" \
    "head -c 44 '$pristine' | dd of='$huge' conv=notrunc status=none")
  printf '%-46s %8.3f s\n' "rilmaton-cli repair (beside, FILE.old kept)" "$t_repair" \
    "rilmaton-cli repair --output OUT" "$t_output" \
    "cp FILE OUT && sync OUT" "$t_cp" \
    "rilmaton-cli repair --in-place" "$t_inplace" \
    "rilmaton-cli repair --in-place (4 GiB, sparse)" "$t_huge"
  echo "repair / (cp+sync):          $(ratio "$t_repair" "$t_cp")x   (target <= 1.1)"
  echo "repair --output / (cp+sync): $(ratio "$t_output" "$t_cp")x   (target <= 1.1)"
  echo "in place, 4 GiB:             $(python3 -c 'import sys; print(f"{float(sys.argv[1]) * 1000:.1f}")' "$t_huge") ms   (target < 100)"
  rm -f "$out" "$open" "$open.old" "$huge" "$pristine"
}

main() {
  need sox
  [[ "$WHICH" == files ]] || need ffmpeg
  need hyperfine
  need python3
  [[ -x "$CLI" ]] || { echo "compare.sh: $CLI not found; build first" >&2; exit 1; }
  WORK=$(mktemp -d)
  trap cleanup EXIT
  local file="$WORK/pink-60min.wav"
  if [[ "$WHICH" != files && "$WHICH" != formats ]]; then
    echo "making $file ..."
    make_test_file "$file"
    sync  # its writeback must not overlap the first timings
    cache_as_read "$file"
  fi
  case "$WHICH" in
    report) report_comparison "$file" ;;
    loudness) loudness_comparison "$file" ;;
    modify) modify_comparison "$file" ;;
    repair) repair_comparison "$file" ;;
    files) many_files_comparison ;;
    formats) formats_comparison ;;
    all)
      report_comparison "$file"
      loudness_comparison "$file"
      modify_comparison "$file"
      repair_comparison "$file"
      many_files_comparison
      formats_comparison
      ;;
    *) echo "compare.sh: report, loudness, modify, repair, files, formats or all, not '$WHICH'" >&2; exit 2 ;;
  esac
}

main "$@"
