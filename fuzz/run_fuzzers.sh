#!/usr/bin/env bash
# Runs each fuzz target for a while from its corpus:
#   fuzz/run_fuzzers.sh <build-dir> <seconds-per-target> [target...]
# The build directory must hold the targets (configured with -DRIL_BUILD_FUZZ=ON).
# Each target starts from the corpus it grew in earlier runs (<build-dir>/fuzz-corpus),
# seeds written by fuzz_seed_writer, ../shared/corpus when present, and every input
# that ever failed (tests/data/fuzz-regressions/<target>), steered by the words in
# fuzz/<target>.dict where there is one. A failing input is left in
# <build-dir>/fuzz-artifacts; copy it into tests/data/fuzz-regressions/<target>/.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "$1" && pwd)"
seconds="$2"
shift 2
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(read_and_analyse modify cue repair)

shared="$root/../shared/corpus"
regressions="$root/tests/data/fuzz-regressions"
seeds="$build/fuzz-seeds"
rm -rf "$seeds"
mkdir -p "$seeds/read_and_analyse" "$seeds/modify" "$seeds/cue" "$seeds/repair" "$build/fuzz-artifacts"
corpus_files=()
if [ -d "$shared" ]; then
  while IFS= read -r -d '' f; do corpus_files+=("$f"); done \
    < <(find "$shared" -maxdepth 1 -type f -name '*.wav' -print0 | sort -z)
else
  echo "note: $shared is absent; fuzzing from the built seeds only"
fi
# Every WAV the read target ever failed on is also a file to modify.
if [ -d "$regressions/read_and_analyse" ]; then
  while IFS= read -r -d '' f; do corpus_files+=("$f"); done \
    < <(find "$regressions/read_and_analyse" -type f -print0 | sort -z)
fi
"$build/fuzz_seed_writer" "$seeds/read_and_analyse" "$seeds/modify" "$seeds/cue" \
  "${corpus_files[@]}"
# The repair starts from the WAV files the reader starts from.
cp -r "$seeds/read_and_analyse/." "$seeds/repair/"

status=0
for t in "${targets[@]}"; do
  work="$build/fuzz-corpus/$t"
  mkdir -p "$work" "$regressions/$t"
  dirs=("$work" "$seeds/$t" "$regressions/$t")
  case "$t" in read_and_analyse | repair) [ -d "$shared" ] && dirs+=("$shared") ;; esac
  # The modification works in blocks of 1 MiB; short inputs run faster. Cue
  # sheets are a few KiB.
  max_len=131072
  [ "$t" = modify ] && max_len=32768
  [ "$t" = cue ] && max_len=16384
  dict=()
  [ -f "$root/fuzz/$t.dict" ] && dict=(-dict="$root/fuzz/$t.dict")
  echo "== fuzz_$t for ${seconds}s"
  if ! nice -n 10 "$build/fuzz_$t" -max_total_time="$seconds" -max_len=$max_len -timeout=30 \
      -rss_limit_mb=2048 -print_final_stats=1 "${dict[@]}" \
      -artifact_prefix="$build/fuzz-artifacts/$t-" "${dirs[@]}" > "$build/fuzz-$t.log" 2>&1; then
    status=1
    echo "fuzz_$t FAILED; see $build/fuzz-$t.log and $build/fuzz-artifacts/"
    grep -E "^(broken|==[0-9]+==ERROR|SUMMARY)" "$build/fuzz-$t.log" | head -5 || true
  fi
  grep -E "^(#[0-9]+.*DONE|stat::number_of_executed_units|Done [0-9]+ runs)" "$build/fuzz-$t.log" || true
done
exit $status
