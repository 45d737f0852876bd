#!/usr/bin/env bash
# Sanitizer runs of the core (no windows):
#   build-asan/  AddressSanitizer + UndefinedBehaviorSanitizer, the whole core test suite;
#   build-tsan/  ThreadSanitizer, the tests of the serial layer and the device link (the threaded code).
# Usage: scripts/sanitize.sh [asan|tsan]... (default: both). Every run is made; the script fails when any
# failed. Each run prints how long its build and its tests took.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=${ZIREZID_JOBS:-2}
runs=("$@")
[ ${#runs[@]} -eq 0 ] && runs=(asan tsan)

# Findings end the test that makes them, with the stack on standard error (shown by --output-on-failure).
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:strict_string_checks=1:detect_stack_use_after_return=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1}

run() {
  local name=$1 preset=$2 labels=$3
  shift 3
  # Remaining arguments: the build targets the run needs (default: everything).
  local targets=()
  for t in "$@"; do targets+=(--target "$t"); done
  local start=$SECONDS
  local dir=build-$preset
  echo "== $name: configuring $dir"
  cmake --preset "$preset" >/dev/null || return 1
  # Called in a condition, where "set -e" does not hold: a failed build must end the run by itself.
  cmake --build "$dir" -j"$jobs" "${targets[@]}" || return 1
  local built=$SECONDS
  # Sanitized code runs several times slower: the time-outs of the ordinary run get headroom here.
  local result=0
  ctest --test-dir "$dir" --output-on-failure --timeout 600 -j"$jobs" -L "$labels" || result=$?
  echo "== $name: build $((built - start)) s, tests $((SECONDS - built)) s, ctest status $result"
  return $result
}

status=0

for r in "${runs[@]}"; do
  case $r in
    asan) run "ASan+UBSan" asan 'model|cli|serial|link|unitsim|e2e|faults' || status=1 ;;
    tsan) run "TSan" tsan 'serial|link' serial_tests link_tests || status=1 ;;
    *) echo "usage: $0 [asan|tsan]..." >&2; exit 2 ;;
  esac
done
exit $status
