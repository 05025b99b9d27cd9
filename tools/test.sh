#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds and runs every test headless: a build with warnings as errors, the same under
# AddressSanitizer + UndefinedBehaviorSanitizer, the engine's tests under ThreadSanitizer, a
# clang-format check, a compile of every source for Windows (MinGW-w64) and a check of the
# Windows build files (tools/windows-build-check.sh); the Windows line layer runs under Wine as
# one of the tests. The first build is also packaged and the package checked (tools/package.sh).
# One test runs the program as an ordinary user with RealtimeKit on a system bus of its own
# (tools/rtkit-sandbox.sh, as root); it needs rtkit, polkitd and the bus. The suites run where
# this machine's serial devices cannot be reached (tools/without-serial-ports.sh).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
source tools/deps.sh
vorlagen_ensure_packages clang-format g++-mingw-w64-x86-64-posix wine64 rtkit polkitd dbus-daemon \
                         dbus-bin

jobs=$(nproc 2>/dev/null || echo 2)
export QT_QPA_PLATFORM=offscreen

echo "== format check"
git ls-files -- '*.cpp' '*.h' | xargs clang-format --dry-run --Werror

echo "== Windows compile check (MinGW-w64, Qt headers, warnings are errors)"
bash tools/windows-check.sh

echo "== Windows build files: presets, the Windows configure, deploy scripts, CPack, resources"
bash tools/windows-build-check.sh

echo "== build (warnings are errors)"
cmake -S . -B build/test -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVORLAGEN_WERROR=ON
cmake --build build/test -j "$jobs"
bash tools/without-serial-ports.sh ctest --test-dir build/test --output-on-failure -j "$jobs"

echo "== Debian package from that build: lintian, AppStream, version"
bash tools/package.sh build/test

echo "== build with AddressSanitizer + UndefinedBehaviorSanitizer"
cmake -S . -B build/asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVORLAGEN_WERROR=ON \
      -DVORLAGEN_SANITIZE=ON
cmake --build build/asan -j "$jobs"
ASAN_OPTIONS=detect_stack_use_after_return=1:strict_init_order=1 \
UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    bash tools/without-serial-ports.sh ctest --test-dir build/asan --output-on-failure -j "$jobs"

echo "== the engine's tests under ThreadSanitizer"
# Qt itself is not instrumented: only our own code's accesses are checked
# (ignore_noninstrumented_modules), and QProcess may fork from a threaded test.
tsan_tests=(tst_serialline tst_serialdevice tst_trainsender tst_precisetimer tst_window
            tst_linepreview tst_portwatcher tst_startup tst_send)
cmake -S . -B build/tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVORLAGEN_WERROR=ON -DVORLAGEN_TSAN=ON
cmake --build build/tsan -j "$jobs" --target "${tsan_tests[@]}" vorlagen-startup-driver vorlagen-send
TSAN_OPTIONS="halt_on_error=1 ignore_noninstrumented_modules=1 die_after_fork=0 suppressions=$root/tests/tsan.supp" \
    bash tools/without-serial-ports.sh ctest --test-dir build/tsan --output-on-failure -j "$jobs" \
          -R "^($(IFS='|'; echo "${tsan_tests[*]}"))\$"
