#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Plants faults one at a time and runs the suite against each, as CI would: the whole suite, and
# when that lets the fault through, the engine's tests under ThreadSanitizer (a race shows only
# there). A fault that some test catches is "caught", one that every test lets through
# "survived". Each fault is a patch under tools/faults/ (a unified diff against the committed
# tree; its first line, "Fault: ...", says what it breaks). It works in a scratch worktree of
# HEAD, so the working tree is never touched. Takes minutes (builds and the suite per fault):
# run it on demand, not in CI.
# Usage: tools/plantfaults.sh [PATCH...]    (default: every tools/faults/*.patch)
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
patches=("$@")
[ ${#patches[@]} -gt 0 ] || patches=(tools/faults/*.patch)
for i in "${!patches[@]}"; do
    [ -f "${patches[$i]}" ] || { echo "no such patch: ${patches[$i]}" >&2; exit 2; }
    patches[$i]=$(realpath "${patches[$i]}")
done

jobs=$(nproc 2>/dev/null || echo 2)
# Fixed places, so that the builds go on from one run to the next.
scratch=$root/build/plantfaults-tree
log=$root/build/plantfaults.log
build=$root/build/plantfaults
tsan=$root/build/plantfaults-tsan
tsan_tests=(tst_serialline tst_serialdevice tst_trainsender tst_precisetimer tst_startup)
# A test that the bound kills cannot clean up after itself: its temporary folders are made in one
# of this script's own, emptied after every fault; the programs it started go too.
temporary=$(mktemp -d /tmp/vorlagen-plantfaults.XXXXXX)
chmod 1777 "$temporary" # tst_startup's and tst_send's runs as nobody work in there too
export TMPDIR=$temporary
tidy() {
    pkill -KILL -f "^($build|$tsan)/" 2>/dev/null || true # programs a killed test started
    find "$temporary" -mindepth 1 -delete 2>/dev/null || true
}
drop_tree() { git -C "$root" worktree remove --force "$scratch" >/dev/null 2>&1 || rm -rf "$scratch"; }
drop_tree
trap 'drop_tree; tidy; rm -rf "$temporary"' EXIT
git worktree add --detach --force "$scratch" HEAD >/dev/null
export QT_QPA_PLATFORM=offscreen

suite() {
    cmake --build "$build" -j "$jobs" >"$log" 2>&1 || return 3
    # A fault that hangs a test is caught by the bound, not waited out.
    bash "$root/tools/without-serial-ports.sh" ctest --test-dir "$build" -j "$jobs" --timeout 60 \
         --output-on-failure >>"$log" 2>&1 || return 1
    cmake --build "$tsan" -j "$jobs" --target "${tsan_tests[@]}" >>"$log" 2>&1 || return 3
    TSAN_OPTIONS="halt_on_error=1 ignore_noninstrumented_modules=1 die_after_fork=0 suppressions=$scratch/tests/tsan.supp" \
        bash "$root/tools/without-serial-ports.sh" ctest --test-dir "$tsan" -j "$jobs" --timeout 60 \
              --output-on-failure -R "^($(IFS='|'; echo "${tsan_tests[*]}"))\$" >>"$log" 2>&1
}

echo "== the suite without a fault"
cmake -S "$scratch" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake -S "$scratch" -B "$tsan" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVORLAGEN_TSAN=ON >/dev/null
if ! suite; then
    echo "the suite fails without a fault: mend that first ($log)" >&2
    exit 1
fi

caught=0 survived=0 invalid=0
for patch in "${patches[@]}"; do
    what=$(sed -n '1s/^Fault: //p' "$patch")
    name=$(basename "$patch" .patch)
    if ! git -C "$scratch" apply "$patch" 2>/dev/null; then
        printf '%-9s %-28s %s\n' "STALE" "$name" "does not apply: $what"
        invalid=$((invalid + 1))
        continue
    fi
    start=$(date +%s)
    status=0
    suite || status=$?
    seconds=$(($(date +%s) - start))
    if [ "$status" -eq 3 ]; then
        printf '%-9s %-28s %s\n' "NOBUILD" "$name" "does not build: $what"
        invalid=$((invalid + 1))
    elif [ "$status" -ne 0 ]; then
        # The test functions that failed, or the whole program where none is named (a crash,
        # a time-out, the Wine test).
        failed=$({ grep -oE 'FAIL!  : tst_[A-Za-z]+::[A-Za-z_]+' "$log" | sed 's/^FAIL!  : //'
                   grep -oE '[0-9]+ - tst_[a-z_]+' "$log" | sed 's/^[0-9]* - //'; } | sort -u |
                 tr '\n' ' ')
        printf '%-9s %-28s %s (%s s: %s)\n' "caught" "$name" "$what" "$seconds" "${failed% }"
        caught=$((caught + 1))
    else
        printf '%-9s %-28s %s (%s s)\n' "SURVIVED" "$name" "$what" "$seconds"
        survived=$((survived + 1))
    fi
    git -C "$scratch" checkout -q -- . && git -C "$scratch" clean -fdq
    tidy
done
# Back to the tree as committed, so the next run starts from builds that match it.
cmake --build "$build" -j "$jobs" >/dev/null 2>&1 || true
cmake --build "$tsan" -j "$jobs" --target "${tsan_tests[@]}" >/dev/null 2>&1 || true
total=$((caught + survived))
echo "caught $caught of $total planted faults$([ "$total" -gt 0 ] && echo " ($((caught * 100 / total)) %)")$([ "$invalid" -gt 0 ] && echo "; $invalid did not apply or build")"
