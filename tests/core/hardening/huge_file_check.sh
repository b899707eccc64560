#!/usr/bin/env bash
# A 2.5 GiB WAV file of 16-bit samples, then one of 24-bit samples, analysed
# and modified end to end by rilmaton-cli, with the peak memory of each run
# measured by /usr/bin/time -v:
#   tests/core/hardening/huge_file_check.sh <build-dir> [limit-KiB]
# Runs `report`, `modify --deemphasis --volume 90 --output` and
# `modify --maximize --in-place`; each must succeed within the memory limit
# (32 MiB by default, the threads included), and each output must keep the input's length, header
# and trailing chunk. Needs about 5 GiB of free disk in $TMPDIR (or /tmp).
set -euo pipefail
build="$(cd "$1" && pwd)"
limit_kib="${2:-32768}"
cli="$build/rilmaton-cli"
[ -x "$cli" ] || { echo "no $cli; build first" >&2; exit 2; }
[ -x /usr/bin/time ] || { echo "/usr/bin/time is needed" >&2; exit 2; }

work="$(mktemp -d "${TMPDIR:-/tmp}/rilmaton-huge.XXXXXX")"
trap 'rm -rf "$work"' EXIT
in="$work/huge.wav"
out="$work/huge-out.wav"

# Stereo at 44100 Hz (so that de-emphasis runs): about 2.5 GiB of samples (a
# block of about 1 MiB of quiet noise, repeated, so that nothing clips), then a
# 30-byte list chunk as the trailer. BITS is 16 or 24.
make_input() {  # file, bits
  python3 - "$1" "$2" <<'PY'
import random, struct, sys
bits = int(sys.argv[2])
width = bits // 8
random.seed(7)
frames = 1024 * 256 if width == 2 else 174762
values = [random.randint(-8000, 8000) << (bits - 16) for _ in range(frames * 2)]
block = b"".join(v.to_bytes(width, "little", signed=True) for v in values)
blocks = 2560
data_bytes = blocks * len(block)
trailer = b"LIST" + struct.pack("<I", 22) + b"INFOICMT" + struct.pack("<I", 10) + b"rilmaton!\0"
with open(sys.argv[1], "wb") as f:
    riff = 4 + 24 + 8 + data_bytes + len(trailer)
    align = 2 * width
    f.write(b"RIFF" + struct.pack("<I", riff) + b"WAVEfmt " +
            struct.pack("<IhhIIhh", 16, 1, 2, 44100, 44100 * align, align, bits))
    f.write(b"data" + struct.pack("<I", data_bytes))
    for _ in range(blocks):
        f.write(block)
    f.write(trailer)
PY
}

status=0
measure() {  # name, command...
  local name="$1"
  shift
  local t0 t1 rc=0
  t0=$(date +%s.%N)
  /usr/bin/time -v -o "$work/time.txt" "$@" > "$work/out.txt" 2>&1 || rc=$?
  t1=$(date +%s.%N)
  local kib
  kib=$(awk -F': ' '/Maximum resident set size/ {print $2}' "$work/time.txt")
  printf '%-40s exit %d  peak %6d KiB  %6.1f s\n' "$name" "$rc" "$kib" "$(echo "$t1 - $t0" | bc)"
  if [ "$rc" -ne 0 ]; then
    status=1
    tail -5 "$work/out.txt"
  fi
  if [ "$kib" -ge "$limit_kib" ]; then
    echo "  peak memory $kib KiB is not below $limit_kib KiB"
    status=1
  fi
}

same_outside_samples() {  # file
  if [ "$(stat -c %s "$1")" -ne "$size" ]; then
    echo "  $1 has $(stat -c %s "$1") bytes, not $size"
    status=1
  fi
  cmp -n 44 "$in" "$1" || status=1
  cmp <(tail -c 30 "$in") <(tail -c 30 "$1") || status=1
}

check_file() {  # bits
  make_input "$in" "$1"
  size=$(stat -c %s "$in")
  echo "$1-bit input: $size bytes"
  measure "report ($1-bit)" "$cli" report "$in"
  grep -q "Volume of original data" "$work/out.txt" || { echo "  no volume line in the report"; status=1; }
  measure "modify --deemphasis --volume 90 --output" \
    "$cli" modify --deemphasis --volume 90 --output "$out" "$in"
  same_outside_samples "$out"
  cmp -s "$in" "$out" && { echo "  the samples did not change"; status=1; }
  rm -f "$out"
  measure "modify --maximize --in-place" "$cli" modify --maximize --in-place "$in"
  same_outside_samples "$in"
  [ "$(ls -A "$work" | grep -v -e '^huge.wav$' -e '^out.txt$' -e '^time.txt$' || true)" = "" ] ||
    { echo "  files left behind: $(ls -A "$work")"; status=1; }
  rm -f "$in"
}

check_file 16
check_file 24

[ $status -eq 0 ] && echo "huge file check passed" || echo "huge file check FAILED"
exit $status
