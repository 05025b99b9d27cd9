#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the program and starts it.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
source tools/deps.sh
vorlagen_ensure_packages

cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF
cmake --build build/release -j "$(nproc 2>/dev/null || echo 2)" --target vorlagen
exec build/release/app/vorlagen "$@"
