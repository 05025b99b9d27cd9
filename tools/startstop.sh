#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Starts and ends the program N times in a row, each time with a repetition running (5 ms) into a
# virtual port, taking every way out in turn: "Kraj", SIGTERM, SIGINT, SIGHUP and exit() from
# inside (as a library does at logout). Meant for a sanitizer build (ASan+UBSan or TSan): it stops
# at the first sanitizer report, hang or unclean end, and prints how many runs passed.
# The program is the start-up driver of the tests: the real start-up, window, engine and end,
# with its message boxes printed and commands read from standard input.
# Usage: tools/startstop.sh BUILD_DIR [N]    (e.g. build/asan 200)
set -euo pipefail
build=$(cd "${1:?usage: tools/startstop.sh BUILD_DIR [N]}" && pwd)
runs=${2:-200}
driver=$build/tests/vorlagen-startup-driver
monitor=$build/cli/vorlagen-monitor
[ -x "$driver" ] && [ -x "$monitor" ] || { echo "build $driver and $monitor first" >&2; exit 2; }

work=$(mktemp -d)
trap 'kill %1 2>/dev/null; wait 2>/dev/null; rm -rf "$work"' EXIT
export HOME=$work XDG_CONFIG_HOME=$work/config XDG_RUNTIME_DIR=$work/run QT_QPA_PLATFORM=offscreen
mkdir -p "$XDG_CONFIG_HOME" "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
export TSAN_OPTIONS="halt_on_error=1 ignore_noninstrumented_modules=1 die_after_fork=0 suppressions=$(dirname "$0")/../tests/tsan.supp"
export ASAN_OPTIONS=detect_stack_use_after_return=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1

"$monitor" 7 >"$work/monitor.log" 2>&1 &
for _ in $(seq 100); do [ -L "$XDG_CONFIG_HOME/vorlagen/com7" ] && break; sleep 0.05; done

ways=(cmdKraj TERM INT HUP exit)
start=$(date +%s)
for ((i = 1; i <= runs; ++i)); do
    way=${ways[$(((i - 1) % ${#ways[@]}))]}
    mkfifo "$work/in"
    # exit() never destroys the application object: what only its end frees is no leak.
    leaks=$([ "$way" = exit ] && echo ":detect_leaks=0" || true)
    # A background job of a script starts with SIGINT ignored, which the program would keep.
    ASAN_OPTIONS=$ASAN_OPTIONS$leaks env --default-signal=INT "$driver" <"$work/in" >"$work/out" \
        2>"$work/err" &
    pid=$!
    exec 3>"$work/in"
    for _ in $(seq 600); do grep -q '^window$' "$work/out" && break; sleep 0.05; done
    printf 'txtPort=7\ntxtPerioda=5\ncmdPonavljanje\n' >&3
    sleep 0.3
    case $way in
        cmdKraj | exit) printf '%s\n' "$way" >&3 ;;
        *) kill -s "$way" "$pid" ;;
    esac
    rc=0
    for _ in $(seq 400); do kill -0 "$pid" 2>/dev/null || break; sleep 0.05; done
    if kill -0 "$pid" 2>/dev/null; then
        echo "run $i ($way): still running after 20 s" >&2
        kill -9 "$pid"
        exit 1
    fi
    wait "$pid" || rc=$?
    exec 3>&-
    rm -f "$work/in"
    if [ "$rc" -ne 0 ] || grep -q 'Sanitizer\|runtime error' "$work/err" || grep -q critical "$work/out"; then
        echo "run $i ($way): exit $rc" >&2
        cat "$work/err" "$work/out" >&2
        exit 1
    fi
done
echo "$runs runs, every way out, no sanitizer report, no hang ($(($(date +%s) - start)) s)"
