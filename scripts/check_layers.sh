#!/usr/bin/env bash
# The layers' one rule each, checked on every test run:
#   src/core  includes only the standard library, POSIX and src/core itself (no Qt)
#   src/cli   includes only the core and itself
#   src/gui   may include the core and Qt, never the command-line tool
set -u
cd "$(dirname "$0")/.."
status=0
complain() { echo "layers: $1"; status=1; }

while IFS= read -r hit; do
  complain "$hit (the core includes only core/ headers and system headers, no Qt)"
done < <(grep -rnE '^\s*#\s*include\s*("|<Q)' src/core | grep -vE '#\s*include\s*"core/')

while IFS= read -r hit; do
  complain "$hit (the command-line tool includes only core/ and cli/ headers)"
done < <(grep -rnE '^\s*#\s*include\s*("|<Q)' src/cli | grep -vE '#\s*include\s*"(core|cli)/')

while IFS= read -r hit; do
  complain "$hit (the desktop program does not include the command-line tool)"
done < <(grep -rnE '^\s*#\s*include\s*"cli/' src/gui)

[ "$status" -eq 0 ] && echo "layers: core, gui and cli include only what they may"
exit "$status"
