#!/usr/bin/env bash
# Shows that the build keeps the layers apart: copies of real core files, each given one include it must not
# have, are compiled in a scratch folder with the exact command the build uses for the originals (taken from
# compile_commands.json). Each copy must fail, and fail on that include; an unchanged copy must compile, so a
# failure cannot come from a broken command. Usage: scripts/check-layers.sh [build folder] (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
[ -f "$build/compile_commands.json" ] || { echo "no $build/compile_commands.json: configure first" >&2; exit 2; }
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

python3 - "$build/compile_commands.json" "$PWD" "$scratch" <<'EOF'
import json, os, shlex, subprocess, sys

database, root, scratch = sys.argv[1:4]
entries = json.load(open(database))

def command_for(layer):
    """The build's own command for the first source file of a layer, and that file."""
    for e in entries:
        path = os.path.relpath(e["file"], root)
        if os.path.dirname(path) == layer:
            return shlex.split(e["command"]), path
    sys.exit(f"no source of {layer}/ in {database}")

def compile_copy(layer, extra_include, name):
    args, source = command_for(layer)
    original = os.path.join(root, source)
    copy = os.path.join(scratch, name + ".cpp")
    with open(copy, "w") as out:
        if extra_include:
            out.write(f"#include {extra_include}\n")
        out.write(open(original).read())
    # The same compiler and flags; only the input, the output and the dependency file change.
    result, skip = [], False
    for a in args:
        if skip:
            skip = False
            continue
        if a in ("-o", "-MF", "-MT"):
            skip = True
            continue
        if a in ("-c", "-MD") or a == original:
            continue
        result.append(a)
    result += ["-c", copy, "-o", os.path.join(scratch, name + ".o")]
    run = subprocess.run(result, cwd=os.path.dirname(database) or ".", capture_output=True, text=True)
    return run.returncode, run.stderr, source

failures = 0
# Core files that include a Qt header, and lower layers that include an upper one.
probes = [
    ("model", "<QString>", "QString"),
    ("serial", "<QtCore/QObject>", "QtCore/QObject"),
    ("link", '"app/main_window.h"', "app/main_window.h"),
    ("model", '"link/device_link.h"', "link/device_link.h"),
]
for layer, include, header in probes:
    rc, err, source = compile_copy(layer, None, layer + "_control")
    if rc != 0:
        print(f"FAIL: the unchanged copy of {source} does not compile with the build's command:\n{err}")
        failures += 1
        continue
    rc, err, source = compile_copy(layer, include, layer + "_probe")
    if rc == 0:
        print(f"FAIL: {source} with #include {include} compiles: the layer sees what it must not")
        failures += 1
    elif f"{header}: No such file or directory" not in err:
        print(f"FAIL: {source} with #include {include} failed, but not because the header is out of reach:\n{err}")
        failures += 1
    else:
        print(f"ok: {source} with #include {include} does not build ({header}: No such file or directory)")
sys.exit(1 if failures else 0)
EOF
