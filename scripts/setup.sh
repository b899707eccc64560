#!/usr/bin/env bash
# Installs what building and testing Rilmaton needs on Debian 12, only what is missing.
set -euo pipefail
packages=(build-essential cmake ninja-build pkg-config qt6-base-dev libgl1-mesa-dev
          libgtest-dev libgmock-dev libbenchmark-dev sox strace fonts-liberation
          clang libclang-rt-14-dev nlohmann-json3-dev help2man libebur128-dev
          xvfb xauth x11-utils xdotool xclip)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  sudo_cmd=()
  [ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq "${missing[@]}" >/dev/null
fi
