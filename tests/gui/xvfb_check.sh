#!/usr/bin/env bash
# The desktop program as a user starts it, on a virtual screen of 1600 x 1000:
# two files named on the command line are read one after the other, the
# window can be made larger than its first size but not smaller, and the
# report it copies holds both files; File, Save Picture… saves the picture of
# the levels at the window's new width; File, Open Recent remembers them, and
# Ctrl+Q ends the program.
#
#   xvfb_check.sh BUILD_DIR [SHOTS_DIR [WINDOW_MANAGER]]
#
# With SHOTS_DIR, a screenshot of each step is left there as PNG (needs xwd
# and ImageMagick's convert); WINDOW_MANAGER (e.g. openbox) is started first
# when given. Exits 77 (skipped) when Xvfb, xauth, xdotool, xprop, xwininfo
# or xclip is missing.
set -euo pipefail

# Polls `$@` for up to 20 seconds.
waitFor() {
  for _ in $(seq 200); do "$@" >/dev/null 2>&1 && return 0; sleep 0.1; done
  return 1
}

# Status of the steps below when the program could not reach the display.
unreachable=75

# Starts Xvfb on a display number it picks itself: -displayfd takes the first
# number whose sockets it can bind, so a server of another session on the
# same machine, even one that shares only the abstract socket namespace, is
# never taken for ours (choosing by the lock files in /tmp cannot see it).
# Sets `server`, `display` and `XAUTHORITY`.
startServer() {
  export XAUTHORITY=$work/Xauthority
  local cookie
  cookie=$(od -An -tx1 -N16 /dev/urandom | tr -d ' \n')
  rm -f "$work/display"
  : >"$XAUTHORITY"
  xauth -q -f "$XAUTHORITY" add :0 . "$cookie"  # the server loads every cookie in the file
  Xvfb -displayfd 3 -screen 0 1600x1000x24 -nolisten tcp -noreset -auth "$XAUTHORITY" \
    3>"$work/display" >>"$work/xvfb.log" 2>&1 &
  server=$!
  waitFor grep -q '^[0-9]' "$work/display" || { cat "$work/xvfb.log"; return 1; }
  display=$(head -1 "$work/display")
  xauth -q -f "$XAUTHORITY" add ":$display" . "$cookie"
  # A client of our own must get in before the program is started.
  waitFor xprop -display ":$display" -root || {
    echo "display :$display does not answer"
    cat "$work/xvfb.log"
    return 1
  }
}

if [ "${1:-}" != "--inside" ]; then
  for tool in Xvfb xauth xdotool xprop xwininfo xclip; do
    command -v "$tool" >/dev/null || { echo "skipped: $tool is not installed"; exit 77; }
  done
  build=$(cd "$1" && pwd)
  work=$(mktemp -d)
  server=
  trap '[ -z "$server" ] || kill "$server" 2>/dev/null; rm -rf "$work"' EXIT
  cp "$build/example.wav" "$work/first track.wav"
  cp "$build/example.wav" "$work/second.wav"
  for attempt in 1 2 3; do
    status=0
    startServer || { status=$unreachable; kill "$server" 2>/dev/null || true; server=; continue; }
    DISPLAY=:$display XDG_CONFIG_HOME="$work/config" HOME="$work" \
      "$0" --inside "$build" "$work" "${2:-}" "${3:-}" || status=$?
    kill "$server" 2>/dev/null || true
    wait "$server" 2>/dev/null || true
    server=
    [ "$status" = "$unreachable" ] || exit "$status"
    echo "attempt $attempt: the program could not reach display :$display; a new server"
  done
  echo "FAILED: no display could be reached"
  exit 1
fi

build=$2 work=$3 shots=$4 manager=$5
fail() {
  echo "FAILED: $*"
  tail -n 40 "$work/program.log"
  exit 1
}
shot() {
  [ -n "$shots" ] || return 0
  mkdir -p "$shots"
  sleep 0.5
  xwd -root -silent | convert xwd:- "$shots/$1.png"
}
sizeOf() { xwininfo -id "$1" | awk '/Width:/ {w=$2} /Height:/ {h=$2} END {print w "x" h}'; }

if [ -n "$manager" ]; then
  "$manager" >/dev/null 2>&1 &
  sleep 1
fi
# Under AddressSanitizer: the X client library hands Qt strings bounded by
# length, not by a NUL byte, which the strict string check takes for an
# overflow inside strndup; that check is left out for the program here.
ASAN_OPTIONS="${ASAN_OPTIONS:-}:strict_string_checks=0" \
  "$build/rilmaton" "$work/first track.wav" "$work/second.wav" >"$work/program.log" 2>&1 &
program=$!
trap 'kill $program 2>/dev/null || true' EXIT

if ! waitFor xdotool search --onlyvisible --name '^Rilmaton - statistical'; then
  if grep -q "could not connect to display" "$work/program.log"; then
    tail -n 5 "$work/program.log"
    exit $unreachable
  fi
  fail "no main window"
fi
main=$(xdotool search --onlyvisible --name '^Rilmaton - statistical' | head -1)
# The modification dialog comes up once both files are analysed.
waitFor xdotool search --onlyvisible --name '^Select modification$' ||
  fail "no modification dialog"
waitFor sh -c "xprop -id $main WM_NAME | grep -q 'WAV-files\"$'" || fail "the title kept a progress"
shot 1-opened

# The first size is the smallest; the window grows.
first=$(sizeOf "$main")
hints=$(xprop -id "$main" WM_NORMAL_HINTS)
echo "$hints" | grep -q "program specified minimum size: ${first/x/ by }" ||
  fail "the smallest size is not the first ($first): $hints"
if echo "$hints" | grep -q "program specified maximum size: ${first/x/ by }"; then
  fail "the window cannot grow: $hints"
fi
xdotool windowsize "$main" 1400 900
waitFor sh -c "xwininfo -id $main | grep -q 'Width: 1400'" || fail "the window did not grow"
shot 2-larger

# Ctrl+C copies the whole report: both files, analysed.
xdotool windowactivate --sync "$main" 2>/dev/null || xdotool windowfocus --sync "$main"
xdotool key ctrl+c
waitFor sh -c "xclip -o -selection clipboard | grep -q 'Filename:.*second.wav'" ||
  fail "the report on the clipboard lacks second.wav"
report=$(xclip -o -selection clipboard)
grep -q "Filename:	$work/first track.wav" <<<"$report" || fail "the report lacks the first file"
[ "$(grep -c 'Volume of original data may' <<<"$report")" = 2 ] || fail "not both files analysed"

# File, Save Picture… (Ctrl+S): a PNG as wide as the enlarged window's picture.
xdotool key ctrl+s
waitFor xdotool search --onlyvisible --name '^Save Picture$' || fail "no Save Picture dialog"
save=$(xdotool search --onlyvisible --name '^Save Picture$' | head -1)
xdotool windowactivate --sync "$save" 2>/dev/null || xdotool windowfocus --sync "$save"
sleep 1  # the dialog lists the directory before its name field takes keys
shot 3-save-picture
xdotool key ctrl+a
xdotool type --delay 5 "$work/levels.png"
xdotool key Return
waitFor test -s "$work/levels.png" || fail "the picture was not saved"
[ "$(head -c 8 "$work/levels.png" | od -An -tx1 | tr -d ' ')" = 89504e470d0a1a0a ] ||
  fail "the picture is not a PNG"
width=$(od -An -tu1 -j16 -N4 "$work/levels.png" | awk '{print $1 * 16777216 + $2 * 65536 + $3 * 256 + $4}')
[ "$width" -gt 1200 ] || fail "the picture is $width pixels wide in a window of 1400"

# File, Open Recent holds both, the last read first.
recent="$work/config/rilmaton/recent-files.ini"
grep -q "second.wav" "$recent" && grep -q "first track.wav" "$recent" ||
  fail "File, Open Recent does not hold both files"

xdotool windowactivate --sync "$main" 2>/dev/null || xdotool windowfocus --sync "$main"
xdotool key ctrl+q
waitFor sh -c "! kill -0 $program" || fail "Ctrl+Q did not end the program"
wait "$program" || fail "the program ended with status $?"
echo "passed: files from the command line read, window resized to 1400x900 from $first," \
  "a picture of $width pixels saved"
