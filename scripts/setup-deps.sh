#!/usr/bin/env bash
# Installs the Debian 12 packages the build, the tests and the run command need; does nothing when all are present.
set -euo pipefail

packages=(
  cmake g++ make pkg-config ninja-build
  libgtest-dev libgmock-dev
  qt6-base-dev qt6-multimedia-dev libgl-dev
  gstreamer1.0-plugins-base gstreamer1.0-plugins-good
  lrzsz sox xvfb xauth
  qt6-translations-l10n
  clang libclang-rt-14-dev
  clang-format clang-tidy python3
  dpkg-dev fakeroot lintian desktop-file-utils appstream man-db shared-mime-info
  libgraphviz-dev graphviz qt6-svg-dev poppler-utils
  libsndfile1-dev libebur128-dev libespeak-ng-dev espeak-ng-data
  ffmpeg lame flac vorbis-tools opus-tools
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}" >&2
sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null || { echo "Need root or sudo to install: ${missing[*]}" >&2; exit 1; }
  sudo_cmd=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >&2
