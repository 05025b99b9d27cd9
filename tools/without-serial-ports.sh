#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Runs a command where this machine's serial devices cannot be reached: in a mount namespace of
# its own, /dev/null is bound over every /dev/ttyS*, /dev/ttyUSB*, /dev/ttyACM* and
# /dev/ttyAMA*, so an open finds no terminal (the program reports 204) and nothing is ever written
# to a real line. The tests use pseudo-terminals only, but a faulty build (tools/plantfaults.sh)
# may count its way to port 1, and on many machines /dev/ttyS0 is the system console.
# Needs root and unshare (util-linux); without them the command runs as it is, and says so.
# Usage: tools/without-serial-ports.sh COMMAND [ARGUMENT...]
set -euo pipefail
if [ "$(id -u)" -ne 0 ] || ! command -v unshare >/dev/null 2>&1 ||
   ! unshare --mount --propagation private true 2>/dev/null; then
    echo "without-serial-ports: no private mount namespace here; the serial devices stay" >&2
    exec "$@"
fi
exec unshare --mount --propagation private bash -c '
    for device in /dev/ttyS* /dev/ttyUSB* /dev/ttyACM* /dev/ttyAMA*; do
        if [ -c "$device" ]; then
            mount --bind /dev/null "$device" || { echo "cannot hide $device" >&2; exit 1; }
        fi
    done
    exec "$@"' bash "$@"
