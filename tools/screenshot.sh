#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Makes docs/screenshot.png from the real window, drawn offscreen, with a virtual port linked as
# COM1 so that the line preview shows a port as it would on a bench, and docs/pulses.png from
# its pulse designer with an example.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
source tools/deps.sh
vorlagen_ensure_packages

cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build build/release --target vorlagen-screenshot vorlagen-monitor

config=$(mktemp -d)
trap 'kill "$monitor" 2>/dev/null || true; wait 2>/dev/null || true; rm -rf "$config"' EXIT
XDG_CONFIG_HOME="$config" build/release/cli/vorlagen-monitor 1 >/dev/null &
monitor=$!
for _ in $(seq 50); do [ -L "$config/vorlagen/com1" ] && break; sleep 0.1; done
XDG_CONFIG_HOME="$config" QT_QPA_PLATFORM=offscreen \
    build/release/tools/vorlagen-screenshot docs/screenshot.png docs/pulses.png
echo "docs/screenshot.png docs/pulses.png"
