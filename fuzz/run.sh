#!/bin/sh
# Builds the fuzz targets (clang, libFuzzer, ASan+UBSan) in build-fuzz/ and runs each for the given number of
# seconds, one after the other, niced. `fuzz/run.sh 20` is the smoke run of CI; `fuzz/run.sh 600` the long one.
# A second argument picks one target (settings_file, device_text, sound, unit_commands, link_stream).
# Findings land in build-fuzz/findings/<target>/; the script fails when any target found something.
set -eu
seconds=${1:-20}
only=${2:-}
root=$(cd "$(dirname "$0")/.." && pwd)
build=${ZIREZID_FUZZ_BUILD:-$root/build-fuzz}
jobs=${ZIREZID_JOBS:-2}

if [ ! -f "$build/CMakeCache.txt" ]; then
  (cd "$root" && cmake --preset fuzz -B "$build" >/dev/null)
fi
targets="settings_file device_text sound unit_commands link_stream"
[ -n "$only" ] && targets=$only
for t in $targets; do
  nice -n 10 cmake --build "$build" -j "$jobs" --target "fuzz_$t"
done

status=0
for t in $targets; do
  work="$build/corpus/$t"
  findings="$build/findings/$t"
  mkdir -p "$work" "$findings"
  dict=""
  maxlen=8192
  [ "$t" = settings_file ] && maxlen=32768
  [ -f "$root/fuzz/$t.dict" ] && dict="-dict=$root/fuzz/$t.dict"
  echo "== $t: $seconds s"
  # The committed seeds are read, never written: new inputs go to the working corpus in the build folder.
  if ! (cd "$findings" && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
        nice -n 10 "$build/fuzz/fuzz_$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -max_len=$maxlen -print_final_stats=1 $dict "$work" "$root/fuzz/corpus/$t" 2>"$build/fuzz_$t.log"); then
    status=1
    echo "   FINDING: see $build/fuzz_$t.log and $findings"
  fi
  grep -E '^#[0-9]+.*(DONE|pulse)' "$build/fuzz_$t.log" | tail -1 || true
  grep -E 'stat::number_of_executed_units|stat::average_exec_per_sec' "$build/fuzz_$t.log" || true
done
exit $status
