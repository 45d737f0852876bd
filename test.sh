#!/usr/bin/env bash
# Builds everything and runs every test. Usage: ./test.sh [ctest arguments...]
set -euo pipefail
cd "$(dirname "$0")"
scripts/setup-deps.sh
jobs=$(nproc)
cmake --preset default >/dev/null
cmake --build --preset default -j"$jobs"
export QT_QPA_PLATFORM=offscreen
# No reruns: a test that fails now and then is a fault to find, not a verdict to retry.
ctest --test-dir build --output-on-failure --timeout 300 -j"$jobs" "$@"
