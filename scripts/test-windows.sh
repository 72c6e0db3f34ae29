#!/bin/sh
# Builds the layers that run on Windows so far, and their tests, as Windows
# programs with Debian's mingw-w64, and runs the tests under wine64 through
# CTest; prints how many passed, failed and were skipped.
#   scripts/test-windows.sh BUILD-DIR
set -eu
src=$(cd "$(dirname "$0")/.." && pwd)
build=${1:?give the build folder, such as build/windows}
jobs=$(nproc)

launcher=
command -v ccache >/dev/null && launcher=-DCMAKE_CXX_COMPILER_LAUNCHER=ccache
cmake -S "$src" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$src/cmake/mingw-w64.cmake" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DUPDATE_PUBLIC_KEY= $launcher >/dev/null
ninja -C "$build" -j "$jobs"

log=$build/windows-tests.log
status=0
ctest --test-dir "$build" --output-on-failure -j "$jobs" 2>&1 | tee "$log" || status=$?
# The skipped tests and their reasons, then the counts of the test cases.
grep -h -A1 ": Skipped$" "$log" | grep -v -e "^--$" || true
cases=$(grep -h -E "^\[  (PASSED|FAILED|SKIPPED) \] [0-9]+ tests?" "$log" | awk '
    / PASSED / { passed += $4 } / FAILED / { failed += $4 } / SKIPPED / { skipped += $4 }
    END { printf "%d passed, %d failed, %d skipped", passed, failed, skipped }')
echo "Windows test cases under Wine: $cases"
exit "$status"
