#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Checks here what can be checked of the Windows build that the README's Windows section walks a
# Windows developer through (there is no Windows and no Qt for Windows on these machines):
#  - CMakePresets.json parses and has the presets the README names;
#  - the CMake files' Windows branches run: the project is configured and generated for Windows
#    with the MinGW-w64 toolchain file (cmake/mingw-w64.cmake) against Debian's Qt CMake package,
#    which stands in for a Qt for Windows. Its libraries get placeholder import libraries, which
#    a Windows Qt has and a Linux one lacks, so that generation gets through. That runs every
#    WIN32 branch and makes Qt's deploy scripts (qt_generate_deploy_app_script) for both programs
#    and the CPack configuration with ZIP and NSIS. Nothing is compiled or linked against Qt;
#  - each program's .rc (icon and version) compiles with the MinGW resource compiler, by the
#    command that generation wrote, and carries the project version and the icon.
# Usage: tools/windows-build-check.sh [output folder]   (default build/windows-build-check)
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
out=$root/${1:-build/windows-build-check}
fail() { echo "windows-build-check: $*" >&2; exit 1; }

presets=$(cmake --list-presets=all)
for preset in mingw linux; do
    grep -q "\"$preset\"" <<<"$(cmake --list-presets)" || fail "no configure preset $preset"
done
# The Visual Studio generator does not exist here, so its configure preset is not listed.
for preset in mingw msvc; do
    grep -q "\"$preset\"" <<<"$(cmake --list-presets=build)" || fail "no build preset $preset"
done
[ -n "$presets" ] || fail "cmake --list-presets printed nothing"

rm -rf "$out"
mkdir -p "$out"
cat >"$out/placeholder-import-libraries.cmake" <<'HOOK'
# Runs once the top folder is read: every shared library imported names an import library.
cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR} CALL _vorlagen_placeholder_import_libraries)
function(_vorlagen_placeholder_import_libraries)
    get_property(imported DIRECTORY ${CMAKE_SOURCE_DIR} PROPERTY IMPORTED_TARGETS)
    foreach(target IN LISTS imported)
        get_target_property(type ${target} TYPE)
        if(type STREQUAL "SHARED_LIBRARY")
            string(MAKE_C_IDENTIFIER "${target}" name)
            set_target_properties(${target} PROPERTIES IMPORTED_IMPLIB "${name}.dll.a")
        endif()
    endforeach()
endfunction()
HOOK
qt_cmake=$(dirname "$(find /usr/lib -path '*/cmake/Qt6/Qt6Config.cmake' -print -quit)")
cmake -S . -B "$out/build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" \
      -DCMAKE_BUILD_TYPE=Release -DQt6_DIR="$qt_cmake" -DQT_HOST_PATH=/usr \
      -DCMAKE_PROJECT_INCLUDE="$out/placeholder-import-libraries.cmake" >"$out/configure.log" 2>&1 ||
    { cat "$out/configure.log" >&2; fail "the Windows configure failed"; }

build=$out/build
grep -q 'set(CPACK_GENERATOR "ZIP;NSIS")' "$build/CPackConfig.cmake" || fail "CPack: not ZIP and NSIS"
grep -q 'CPACK_NSIS_MUI_ICON ".*vorlagen.ico"' "$build/CPackConfig.cmake" || fail "NSIS: no icon"
for program in vorlagen vorlagen-send; do
    script=$(grep -l "EXECUTABLE .*/$program.exe" "$build"/.qt/deploy_* 2>/dev/null | head -1)
    [ -n "$script" ] || fail "no Qt deploy script for $program"
    grep -q "$(basename "$script")" "$build/cmake_install.cmake" || fail "$program: deploy script not installed"
done

version=$(sed -n 's/^project(vorlagen VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
for res in app/CMakeFiles/vorlagen.dir/vorlagen.rc.res cli/CMakeFiles/vorlagen-send.dir/vorlagen-send.rc.res; do
    # The resource compiler's own command, without what the target waits for (the C++ objects).
    command=$(ninja -C "$build" -t commands "$res" | tail -1)
    [[ "$command" == *windres* ]] || fail "$res: no windres rule"
    (cd "$build" && eval "$command") >"$out/rc.log" 2>&1 ||
        { cat "$out/rc.log" >&2; fail "$res does not compile"; }
    back=$(x86_64-w64-mingw32-windres -J coff -i "$build/$res" -O rc)
    grep -q "VALUE \"FileVersion\", \"$version\"" <<<"$back" || fail "$res: no FileVersion $version"
    grep -q "RT_GROUP_ICON" <<<"$back" || fail "$res: no icon"
done
echo "Windows build: presets parse; configured and generated for Windows (MinGW-w64) with every" \
     "WIN32 branch, Qt's deploy scripts and CPack ZIP/NSIS; both .rc compile (version $version, icon)"
