#!/usr/bin/env bash
# Makes each call of close, fsync, fdatasync, rename, renameat2, link, linkat,
# write and pwrite64 fail in turn (strace -e inject) in short runs of
# rilmaton-cli modify, in each placement, and checks after every run that
# what the program said matches the files:
#   exit 0               the result is in place (and FILE.old is the original)
#   "left as it was"     FILE is the original, nothing else is there
#   "is the modified file and ..."  the files are where that line says
#   "partly rewritten"   (in place only) exit status 1
# and that no temporary file is left.
# Usage: fault_injection_check.sh PATH/TO/rilmaton-cli
set -uo pipefail
shopt -s nullglob dotglob
cli=$(realpath "$1")
command -v strace >/dev/null || { echo "SKIPPED: strace is not installed"; exit 0; }
# A sanitizer's runtime makes calls of its own that the injection would fail
# (and its leak checker cannot run under ptrace): the plain build is checked.
if grep -q __asan_init "$cli"; then
  echo "SKIPPED: $cli is built with AddressSanitizer"
  exit 0
fi
command -v sox >/dev/null || { echo "SKIPPED: sox is not installed"; exit 0; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
sox -n -r 44100 -c 2 -b 16 original.wav synth 1 sine 440 vol 0.5
"$cli" modify --volume 80 --output modified.wav original.wav >/dev/null || exit 1
printf 'previous output' >previous.wav

runs=0 failures=0
fail() {
  echo "FAIL [$placement $inject]: $*"
  echo "  exit $status; stderr: $(tr '\n' '|' <err)"
  ls -la run | sed 's/^/  /'
  failures=$((failures + 1))
}

same() { cmp -s "$1" "$2"; }

# The names in run/ other than those given, as one line.
others() {
  local keep=" $* "
  for f in run/*; do
    f=${f#run/}
    [[ $keep == *" $f "* ]] || printf '%s ' "$f"
  done
}

check() {
  local extra
  if [ "$status" -eq 0 ]; then
    case $placement in
      default) same run/a.wav modified.wav && same run/a.wav.old original.wav ||
        fail "exit 0 but the files are not the result and its .old" ;;
      in-place) same run/a.wav modified.wav || fail "exit 0 but a.wav is not the result" ;;
      output*) same run/out.wav modified.wav && same run/a.wav original.wav ||
        fail "exit 0 but out.wav is not the result" ;;
    esac
    extra=$(others a.wav a.wav.old out.wav)
  elif grep -q "is left as it was" err ||
    { [ "$status" -eq 127 ] && grep -q "error while loading shared libraries" err; }; then
    # (The loader's own closes fail before the program starts.)
    same run/a.wav original.wav || fail "said left as it was, but a.wav changed"
    [ -e run/a.wav.old ] && fail "said left as it was, but a.wav.old exists"
    [ "$placement" = output-over ] && ! same run/out.wav previous.wav && fail "out.wav changed"
    [ "$placement" = output ] && [ -e run/out.wav ] && fail "out.wav was made"
    extra=$(others a.wav out.wav)
  elif grep -q "a.wav is the modified file and a.wav.old the original" err; then
    same run/a.wav modified.wav && same run/a.wav.old original.wav || fail "the claim is false"
    extra=$(others a.wav a.wav.old)
  elif grep -q "out.wav is the modified file and a.wav is as it was" err; then
    same run/out.wav modified.wav && same run/a.wav original.wav || fail "the claim is false"
    extra=$(others a.wav out.wav)
  elif [ "$placement" = in-place ] && grep -q "is partly rewritten" err; then
    [ "$status" -eq 1 ] || fail "partly rewritten with exit status $status"
    extra=$(others a.wav)
  else
    fail "no claim to check"
    extra=
  fi
  [ -z "$extra" ] || fail "left behind: $extra"
}

for placement in default in-place output output-over; do
  case $placement in
    default) args=() ;;
    in-place) args=(--in-place) ;;
    output*) args=(--output out.wav) ;;
  esac
  for call in close fsync fdatasync rename renameat2 link linkat write pwrite64; do
    errors=(EIO)
    [[ $call == f*sync ]] && errors=(EIO EROFS)
    for error in "${errors[@]}"; do
      # Every call the run makes, and one more that never comes.
      rm -rf run && mkdir run && cp original.wav run/a.wav
      [ "$placement" = output-over ] && cp previous.wav run/out.wav
      calls=$(cd run && strace -f -qq -e trace="$call" -o ../trace "$cli" modify --volume 80 \
        "${args[@]}" a.wav >/dev/null 2>&1; grep -c "$call(" ../trace)
      for ((when = 1; when <= calls + 1; when++)); do
        inject="$call:error=$error:when=$when"
        rm -rf run && mkdir run && cp original.wav run/a.wav
        [ "$placement" = output-over ] && cp previous.wav run/out.wav
        (cd run && strace -f -qq -o /dev/null -e trace="$call" -e inject="$inject" \
          "$cli" modify --volume 80 "${args[@]}" a.wav >../out 2>../err)
        status=$?
        runs=$((runs + 1))
        check
      done
    done
  done
done
echo "$runs runs, $failures claims that did not match the files"
echo "$((runs - failures)) passed, $failures failed"
[ "$failures" -eq 0 ]
