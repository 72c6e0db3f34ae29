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
# Every program's own output goes to the log, for the counts below.
ctest --test-dir "$build" -V -j "$jobs" >"$log" 2>&1 || status=$?
sed 's/^[0-9]*: //' "$log" >"$log.plain"
grep -E "Test +#|tests passed|Total Test time" "$log.plain"
[ "$status" = 0 ] || grep -h -B3 -A8 "Failure$" "$log.plain" || true
echo "Skipped under Wine, with the reason:"
grep -h -A1 ": Skipped$" "$log.plain" | grep -v -e "^--$" -e ": Skipped$" | sed 's/^/  /' || true
cases=$(awk '
    /^\[  PASSED  \] [0-9]+ tests?\.$/ { passed += $4 }
    /^\[  FAILED  \] [0-9]+ tests?, listed below:$/ { failed += $4 }
    /^\[  SKIPPED \] [0-9]+ tests?, listed below:$/ { skipped += $4 }
    END { printf "%d passed, %d failed, %d skipped", passed, failed, skipped }' "$log.plain")
echo "Test cases of the Windows build, under Wine:"
echo "Windows: $cases"
exit "$status"
