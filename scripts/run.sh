#!/usr/bin/env bash
# Installs what is missing, builds Scarlex, and opens the desktop program on
# the named photographs, or on the bundled sample when none is named. With
# no display to open a window on, runs the headless command line instead.
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

gui="$build/src/app/scarlex"
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No display (DISPLAY and WAYLAND_DISPLAY are empty): running the headless scarlex-cli instead."
elif [ ! -x "$gui" ]; then
  echo "The desktop program was not built (Qt 6 Widgets missing): running the headless scarlex-cli instead."
else
  exec "$gui" "$@"
fi

for f in "$@"; do
  "$build/src/cli/scarlex-cli" info "$f"
done
