#!/usr/bin/env bash
# Fails when a C++ file of the tree differs from what clang-format makes of it (.clang-format); lists those files.
# `git ls-files -z '*.h' '*.cpp' | xargs -0 clang-format -i` formats them.
set -euo pipefail
cd "$(dirname "$0")/.."
command -v clang-format >/dev/null || { echo "clang-format is not installed (scripts/setup-deps.sh)" >&2; exit 2; }
status=0
while IFS= read -r -d '' file; do
  if ! clang-format --dry-run --Werror "$file" 2>/dev/null; then
    echo "not formatted: $file"
    status=1
  fi
done < <(git ls-files -z '*.h' '*.cpp')
[ $status -eq 0 ] && echo "format: every file as clang-format makes it"
exit $status
