#!/usr/bin/env bash
# The README's screenshots of the desktop program, taken on a virtual screen
# with openbox as the window manager: a 24-bit file with its picture of the
# levels and its loudness, the modification dialog beside the window with a
# loudness target chosen, the findings box of a broadcast WAV file,
# maximize's factor, and Repair… asking about an unfinished recording.
#
#   scripts/screenshots.sh BUILD_DIR OUT_DIR
#
# Needs xvfb-run, openbox, xdotool, xwd, ImageMagick's convert, sox and
# python3. The sample files are made here (sox's noise), under /tmp/Music.
set -euo pipefail

if [ "${1:-}" != "--inside" ]; then
  build=$(cd "$1" && pwd)
  mkdir -p "$2"
  out=$(cd "$2" && pwd)
  music=/tmp/Music
  mkdir -p "$music"
  # A live take in 24 bits: quiet, a loud part with a few peaks cut off at
  # full scale, quiet again.
  parts=$(mktemp -d)
  sox -R -n -r 44100 -b 24 -c 2 "$parts/a.wav" synth 14 pinknoise pinknoise vol 0.25 \
    tremolo 0.3 60 fade q 1 14 0
  sox -R -n -r 44100 -b 24 -c 2 "$parts/b.wav" synth 8 pinknoise brownnoise vol 0.9 \
    tremolo 2 40 gain 1.5 2>/dev/null
  sox -R -n -r 44100 -b 24 -c 2 "$parts/c.wav" synth 14 pinknoise pinknoise vol 0.3 \
    tremolo 0.5 70 fade q 0 14 6
  sox "$parts/a.wav" "$parts/b.wav" "$parts/c.wav" "$music/Live take.wav"
  rm -rf "$parts"
  # Six seconds of it with a broadcast extension chunk before the format
  # chunk, and the whole take as a recorder leaves it when it loses power:
  # the data size 0 and the RIFF size of an empty file.
  python3 - "$music" <<'EOF'
import struct, sys
music = sys.argv[1]
src = open(music + '/Live take.wav', 'rb').read()
chunks, pos = {}, 12
while pos + 8 <= len(src):
    size = struct.unpack('<I', src[pos + 4:pos + 8])[0]
    chunks[src[pos:pos + 4]] = src[pos + 8:pos + 8 + size]
    pos += 8 + size + (size & 1)
fmt = chunks[b'fmt ']
channels, rate, block = struct.unpack('<H', fmt[2:4])[0], struct.unpack('<I', fmt[4:8])[0], \
    struct.unpack('<H', fmt[12:14])[0]
pcm = bytearray(fmt[:16])
pcm[0:2] = struct.pack('<H', 1)
bext = bytearray(602)
bext[:17] = b'Interview, room 2'
chunk = lambda name, body: name + struct.pack('<I', len(body)) + bytes(body)
body = (b'WAVE' + chunk(b'bext', bext) + chunk(b'fmt ', pcm) +
        chunk(b'data', chunks[b'data'][:rate * block * 6]))
open(music + '/Interview (broadcast).wav', 'wb').write(b'RIFF' + struct.pack('<I', len(body)) + body)
body = b'WAVE' + chunk(b'fmt ', pcm) + b'data' + struct.pack('<I', 0) + chunks[b'data']
open(music + '/Unfinished recording.wav', 'wb').write(b'RIFF' + struct.pack('<I', 36) + body)
EOF
  home=$(mktemp -d)
  trap 'rm -rf "$home"' EXIT
  HOME="$home" XDG_CONFIG_HOME="$home/config" \
    xvfb-run -a -s "-screen 0 1280x860x24 -noreset" "$0" --inside "$build" "$out" "$music"
  exit $?
fi

build=$2 out=$3 music=$4
openbox >/dev/null 2>&1 &
sleep 1
waitFor() { for _ in $(seq 200); do "$@" >/dev/null 2>&1 && return 0; sleep 0.1; done; return 1; }
# The screen's windows, cut to what they cover. The screen gives the window
# frames; each of the program's windows is then laid over it as read from
# the window itself, bottom to top: on Xvfb the screen can hold a window
# that opened or was uncovered later as black where the window itself holds
# its picture.
shot() {
  sleep 1
  local screen layers id geometry
  screen=$(mktemp --suffix=.png)
  xwd -root -silent | convert xwd:- "$screen"
  layers=()
  for id in $(xdotool search --onlyvisible --pid "$program" 2>/dev/null); do
    eval "$(xwininfo -id "$id" | awk '/Absolute upper-left X/ {print "x=" $NF}
      /Absolute upper-left Y/ {print "y=" $NF} /Width:/ {print "w=" $NF}
      /Height:/ {print "h=" $NF}')"
    [ "$w" -gt 20 ] && [ "$h" -gt 20 ] || continue
    geometry="+$x+$y"
    xwd -id "$id" -silent | convert xwd:- "$screen.$id.png"
    # The main window first, the dialogs and boxes above it.
    if [ "$id" = "$main" ]; then
      layers=("$screen.$id.png" -geometry "$geometry" -composite "${layers[@]}")
    else
      layers+=("$screen.$id.png" -geometry "$geometry" -composite)
    fi
  done
  convert "$screen" "${layers[@]}" -trim +repage "$out/$1.png"
  rm -f "$screen" "$screen".*.png
}
start() {
  "$build/rilmaton" "$@" >/dev/null 2>&1 &
  program=$!
  waitFor xdotool search --onlyvisible --name '^Select modification$'
  main=$(xdotool search --onlyvisible --name '^Rilmaton - statistical' | head -1)
  dialog=$(xdotool search --onlyvisible --name '^Select modification$' | head -1)
}

start "$music/Live take.wav"
xdotool windowsize "$main" 900 760
xdotool windowmove "$main" 40 40
xdotool windowmove "$dialog" 950 120
xdotool mousemove --window "$dialog" 16 66 click 1  # normalise loudness to -23 LUFS
shot modification-dialog
xdotool windowactivate --sync "$dialog"
xdotool key Escape
xdotool windowactivate --sync "$main"
eval "$(xdotool getwindowgeometry --shell "$main")"
xdotool mousemove $((X + 450)) $((Y + 560))  # the pointer over the picture
shot levels-picture
kill "$program"
wait "$program" 2>/dev/null || true

start "$music/Interview (broadcast).wav"
xdotool mousemove --window "$dialog" 16 40 click 1  # maximize volume
shot modification-dialog-maximize
xdotool windowactivate --sync "$dialog"
xdotool key Escape
shot main-window
kill "$program"
wait "$program" 2>/dev/null || true

# Repair… asks before it writes (Escape answers No: nothing is written).
"$build/rilmaton" "$music/Unfinished recording.wav" >/dev/null 2>&1 &
program=$!
waitFor xdotool search --onlyvisible --name '^Rilmaton - statistical'
sleep 2
main=$(xdotool search --onlyvisible --name '^Rilmaton - statistical' | head -1)
xdotool windowsize "$main" 760 560
xdotool windowmove "$main" 40 40
sleep 1
xdotool mousemove --window "$main" 700 42 click 1
waitFor xdotool search --onlyvisible --name '^Repair$'
shot repair
xdotool key Escape
kill "$program"
