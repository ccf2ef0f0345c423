#!/usr/bin/env bash
# Installs what is missing, builds with AddressSanitizer and
# UndefinedBehaviorSanitizer, and runs the whole test suite.
# Extra arguments go to ctest (for example: -L long, -R Codec).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/deps.sh --test

build=${SCARLEX_TEST_BUILD:-build-test}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DSCARLEX_SANITIZE=ON -DSCARLEX_WERROR=ON -DSCARLEX_BUILD_TESTS=ON >/dev/null
cmake --build "$build" -j "${SCARLEX_JOBS:-2}"

cd "$build"
ctest --output-on-failure -j "${SCARLEX_JOBS:-2}" -LE long "$@"
