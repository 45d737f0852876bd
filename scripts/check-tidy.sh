#!/usr/bin/env bash
# clang-tidy (.clang-tidy) over the Qt-free core, model/, serial/ and link/, with the build's own compile commands.
# Fails on any finding. Usage: scripts/check-tidy.sh [build folder] (default: build; configured, not built).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
jobs=${ZIREZID_JOBS:-2}
command -v clang-tidy >/dev/null || { echo "clang-tidy is not installed (scripts/setup-deps.sh)" >&2; exit 2; }
[ -f "$build/compile_commands.json" ] || { echo "no $build/compile_commands.json: configure first" >&2; exit 2; }
out=$(mktemp)
trap 'rm -f "$out"' EXIT
status=0
git ls-files -z 'model/*.cpp' 'serial/*.cpp' 'link/*.cpp' |
  xargs -0 -n 4 -P "$jobs" clang-tidy -p "$build" --quiet >"$out" 2>/dev/null || status=1
# A header's finding comes once for every file that includes it.
findings=$(grep -E '^[^ ].*: (warning|error): ' "$out" | sort -u || true)
if [ -n "$findings" ]; then
  echo "$findings"
  echo "clang-tidy: $(echo "$findings" | wc -l) finding(s) in model/, serial/, link/"
  exit 1
fi
if [ $status -ne 0 ]; then
  cat "$out"
  echo "clang-tidy failed without a finding to show" >&2
  exit 1
fi
echo "clang-tidy: no findings in model/, serial/, link/"
