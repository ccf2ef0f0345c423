#!/usr/bin/env bash
# Installs what is missing, builds Scarlex, and runs it on the named
# photographs, or on the bundled sample when none is named.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"

scripts/deps.sh

build=${SCARLEX_BUILD:-build}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DSCARLEX_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j "${SCARLEX_JOBS:-2}"

if [ $# -eq 0 ]; then
  set -- "$root/samples/sample.jpg"
fi
for f in "$@"; do
  "$build/src/cli/scarlex-cli" info "$f"
done
