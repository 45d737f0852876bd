#!/usr/bin/env bash
# Builds the Debian package, installs it on this machine the way a technician would, checks what it installed
# (the programs run, the manual opens, the desktop entry and the metadata validate, lintian finds no errors) and
# removes it again. Needs root or sudo for apt-get. Usage: scripts/check-package.sh [build folder]
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build}"
scripts/setup-deps.sh

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null || { echo "check-package: needs root or sudo to install the package" >&2; exit 1; }
  sudo_cmd=(sudo)
fi

cmake -S . -B "$build" -G Ninja -DZIREZID_WERROR=ON >/dev/null
cmake --build "$build" -j"$(nproc)"
rm -f "$build"/zirezid_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
deb=$(ls "$build"/zirezid_*.deb)
echo "check-package: built $deb"

echo "check-package: lintian"
# Errors fail the check; warnings are shown for whoever reads the log.
lintian --fail-on error --tag-display-limit 0 "$deb"

installed=0
cleanup() {
  if [ "$installed" -eq 1 ]; then
    "${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive apt-get remove -y -qq zirezid >/dev/null || true
  fi
}
trap cleanup EXIT

echo "check-package: apt-get install ./$(basename "$deb")"
(cd "$build" && "${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "./$(basename "$deb")" >/dev/null)
installed=1

version=$(sed -n 's/^project(zirezid VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
for program in zirezid zirezid-cli unitsim; do
  out=$("/usr/bin/$program" --version)
  [ "$out" = "$program $version" ] || { echo "check-package: $program --version says \"$out\", not $version" >&2; exit 1; }
done
dpkg-query -W -f='${Version}\n' zirezid | grep -q "^$version-" ||
  { echo "check-package: the package's version is not $version" >&2; exit 1; }
# The window program starts from the installed files alone (no build folder, no display).
QT_QPA_PLATFORM=offscreen timeout 20 /usr/bin/zirezid --help >/dev/null

MANPAGER=cat MANWIDTH=80 man zirezid-cli | grep -q "ports --check" ||
  { echo "check-package: man zirezid-cli does not show the manual" >&2; exit 1; }
for page in zirezid unitsim; do
  MANPAGER=cat man "$page" >/dev/null
done

desktop-file-validate /usr/share/applications/ru.nordal.ZIRezid.desktop
appstreamcli validate --no-net --explain /usr/share/metainfo/ru.nordal.ZIRezid.metainfo.xml
test -f /usr/share/icons/hicolor/scalable/apps/zirezid.svg
test -f /usr/share/icons/hicolor/48x48/apps/zirezid.png
test -f /usr/share/bash-completion/completions/zirezid-cli
# A double-click on a .qor opens the program: the file type is registered and the entry is its handler.
if [ -f /usr/share/mime/globs2 ]; then
  grep -q "application/x-zirezid-qor:\*\.qor" /usr/share/mime/globs2 ||
    { echo "check-package: .qor is not registered as application/x-zirezid-qor" >&2; exit 1; }
fi
grep -q "application/x-zirezid-qor" /usr/share/mime/packages/zirezid.xml
grep -q "^MimeType=application/x-zirezid-qor;" /usr/share/applications/ru.nordal.ZIRezid.desktop

"${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive apt-get remove -y -qq zirezid >/dev/null
installed=0
if [ -e /usr/bin/zirezid-cli ]; then
  echo "check-package: zirezid-cli is still there after the removal" >&2
  exit 1
fi
echo "check-package: all checks passed"
