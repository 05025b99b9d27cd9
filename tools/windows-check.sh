#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Compiles every source a Windows build compiles (the program, its libraries, the tests CMake
# builds there, the screenshot tool) with MinGW-w64 against Debian's Qt 6 headers, warnings as
# errors. Nothing is linked: there is no Qt for Windows here. The moc output comes from the
# Linux moc fed with the cross compiler's own predefined macros, as CMake's AUTOMOC does it.
# Usage: tools/windows-check.sh [output folder]   (default build/windows-check)
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
out=$root/${1:-build/windows-check}
cxx=x86_64-w64-mingw32-g++-posix
qt=/usr/include/x86_64-linux-gnu/qt6
moc=/usr/lib/qt6/libexec/moc

# The tests that tests/CMakeLists.txt builds on Unix only (pseudo-terminals, processes, the
# Wine driver). Every other tests/*.cpp is built on Windows too, so it is compiled here.
unix_only=(startupdriver.cpp tst_startup.cpp tst_serialdevice.cpp ioctlrecorder.cpp tst_monitor.cpp tst_options.cpp
           tst_send.cpp tst_realtimekit.cpp wine_driver.cpp)

shopt -s nullglob
sources=()
for f in app/*.cpp cli/*.cpp train/*.cpp serial/*.cpp texts/*.cpp tools/screenshot.cpp tests/*.cpp; do
    [[ "$f" == serial/nativeline_unix.cpp || "$f" == cli/monitor* ]] && continue
    [[ " ${unix_only[*]} " == *" ${f#tests/} "* ]] && continue
    sources+=("$f")
done

rm -rf "$out"
mkdir -p "$out/moc" "$out/obj" "$out/generated/cli"
# What CMake's configure_file makes for the build.
if [ -f cli/version.h.in ]; then
    version=$(sed -n 's/^project(vorlagen VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
    sed "s/@PROJECT_VERSION@/$version/" cli/version.h.in >"$out/generated/cli/version.h"
fi
defines=(-DUNICODE -D_UNICODE -DWIN32 -DWIN64 -D_WIN64 -DMINGW_HAS_SECURE_API=1 -DQT_NO_DEBUG
         -DQT_CORE_LIB -DQT_GUI_LIB -DQT_WIDGETS_LIB -DQT_SERIALPORT_LIB -DQT_TESTLIB_LIB
         "-DQT_TESTCASE_BUILDDIR=\"$out\"" "-DQT_TESTCASE_SOURCEDIR=\"$root/tests\"")
includes=(-I"$root" -I"$out/moc" -I"$out/generated" -isystem "$qt"
          -isystem /usr/lib/x86_64-linux-gnu/qt6/mkspecs/win32-g++)
for module in QtCore QtGui QtWidgets QtSerialPort QtTest; do
    includes+=(-isystem "$qt/$module")
done

"$cxx" -std=c++17 -dM -E -x c++ /dev/null >"$out/moc/predefs.h"
moc_flags=(--include "$out/moc/predefs.h" "${defines[@]}" "${includes[@]/#-isystem/-I}")
mocs=()
for f in app/*.h cli/*.h train/*.h serial/*.h texts/*.h; do
    grep -q Q_OBJECT "$f" || continue
    name=$(basename "$f" .h)
    "$moc" "${moc_flags[@]}" "$f" -o "$out/moc/moc_$name.cpp"
    mocs+=("#include \"moc_$name.cpp\"")
done
printf '%s\n' "${mocs[@]}" >"$out/moc/mocs_compilation.cpp"
for f in "${sources[@]}"; do
    grep -q '\.moc"' "$f" || continue
    "$moc" "${moc_flags[@]}" "$f" -o "$out/moc/$(basename "$f" .cpp).moc"
done
sources+=("$out/moc/mocs_compilation.cpp")

# -O2: some warnings come only from the optimiser, as in a release build.
export cxx out
flags=(-std=c++17 -O2 -Wall -Wextra -Wpedantic -Werror "${defines[@]}" "${includes[@]}")
compile() {
    local obj
    obj=$out/obj/$(echo "$1" | tr '/' '_').o
    "$cxx" "${@:2}" -c "$1" -o "$obj" 2>"$obj.log" && return 0
    cat "$obj.log" >&2
    echo "FAILED: $1" >&2
    return 1
}
export -f compile
printf '%s\0' "${sources[@]}" |
    xargs -0 -P "$(nproc 2>/dev/null || echo 2)" -I{} bash -c 'compile "$@"' _ {} "${flags[@]}"
qt_version=$(sed -n 's/.*QT_VERSION_STR "\(.*\)"/\1/p' "$qt/QtCore/qconfig.h")
echo "Windows: ${#sources[@]} sources compiled by MinGW-w64 GCC $("$cxx" -dumpversion) against" \
     "Qt $qt_version headers without a warning, in ${SECONDS} s"
