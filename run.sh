#!/usr/bin/env bash
# Builds the configurator and starts it with a simulated unit attached as COM1.
set -euo pipefail
cd "$(dirname "$0")"
scripts/setup-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default -j"$(nproc)"
state="${XDG_STATE_HOME:-$HOME/.local/state}/zirezid/unitsim"
mkdir -p "$state"
link="$state/port"
build/tools/unitsim/unitsim --state "$state" --link "$link" >/dev/null &
sim=$!
trap 'kill $sim 2>/dev/null || true' EXIT
for _ in $(seq 50); do [ -e "$link" ] && break; sleep 0.1; done
ZIREZID_COM1="$link" build/app/zirezid "$@"
