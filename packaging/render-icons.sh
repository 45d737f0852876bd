#!/usr/bin/env bash
# Renders packaging/icons/zirezid.svg into the committed PNG sizes (Qt's SVG renderer, no other tool needed).
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
g++ -std=c++20 -fPIC -o "$work/render-icons" "$here/render-icons.cpp" $(pkg-config --cflags --libs Qt6Svg Qt6Gui)
QT_QPA_PLATFORM=offscreen "$work/render-icons" "$here/icons/zirezid.svg" "$here/icons"
