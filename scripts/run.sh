#!/usr/bin/env bash
# Starts the GUI, or says how to use the command-line tool when there is no display.
build=${1:-build}
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "rilmaton: no display found (DISPLAY is not set); use the command-line tool instead: $build/rilmaton-cli report FILE.wav"
  exit 1
fi
exec "$build/rilmaton"
