#!/bin/sh
# Sets everything up, builds, and runs the whole test suite through CTest:
# the window and end-to-end tests under Xvfb, the code without windows once
# more under AddressSanitizer and UndefinedBehaviorSanitizer, and a short fuzz
# run; then the whole road once more with a program built with a vendor key,
# its site's timestamps renewed by the online key alone; and last, the code
# below the windows built for Windows and tested under Wine.
set -eu
src=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$src/build}
jobs=$(nproc)

sh "$src/scripts/setup.sh"

echo "== building (with windows)"
# The tests make their own keys; a vendor key left in the cache would refuse their sites.
cmake -S "$src" -B "$build/main" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DUPDATE_PUBLIC_KEY= >/dev/null
ninja -C "$build/main" -j "$jobs"

echo "== building the code without windows with ASan and UBSan"
cmake -S "$src" -B "$build/sanitize" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQUILL_GUI=OFF \
    -DQUILL_BENCH=OFF -DQUILL_SANITIZE=ON -DUPDATE_PUBLIC_KEY= >/dev/null
ninja -C "$build/sanitize" -j "$jobs"

echo "== fuzzing"
sh "$src/fuzz/run.sh" "$build/fuzz"

echo "== tests under the sanitizers"
ASAN_OPTIONS=detect_leaks=1 LSAN_OPTIONS=suppressions="$src/tests/lsan.supp" \
    UBSAN_OPTIONS=print_stacktrace=1 ctest --test-dir "$build/sanitize" --output-on-failure -j "$jobs"

echo "== all tests"
# One X server, with a window manager as a desktop has, for every test that
# needs a display.
xvfb-run -a -s "-screen 0 1280x1024x24" sh -c '
    openbox >/dev/null 2>&1 &
    wm=$!
    status=0
    ctest --test-dir "$1" --output-on-failure || status=$?
    kill "$wm" 2>/dev/null
    exit "$status"' sh "$build/main"

echo "== the whole road, signed with a release key and an online key, and refused with two template archives swapped"
# A program built with a release key made here, against the demo site signed
# with it, under a chain whose second link names an online key (the release
# key again, with the online key beside it). The site is built with its
# timestamps expired, then refreshed with the online key alone, the release
# key's file moved away, as the vendor's scheduled refresh does.
key=$build/test-vendor-key.pem
online=$build/test-online-key.pem
chain=$build/test-key-chain
rm -rf "$key" "$key.pub" "$online" "$chain"
"$build/main/tools/vendor_site" keygen "$key" >"$key.pub"
"$build/main/tools/vendor_site" keygen "$online" >/dev/null
"$build/main/tools/vendor_site" rotate "$key" "$key" "$chain" --online "$online" >/dev/null
host=$(sed -n 's/^VENDOR_HOST:STRING=//p' "$build/main/CMakeCache.txt")
cmake -S "$src" -B "$build/signed" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILL_TESTS=OFF \
    -DQUILL_BENCH=OFF -DVENDOR_HOST="$host" -DUPDATE_PUBLIC_KEY="$(cat "$key.pub")" >/dev/null
ninja -C "$build/signed" -j "$jobs" final_inst
xvfb-run -a -s "-screen 0 1280x1024x24" sh -c '
    openbox >/dev/null 2>&1 &
    wm=$!
    status=0
    bash "$1/tests/e2e/whole_road.sh" --final-inst "$2/signed/src/shell/final_inst" \
        --vendor-site "$2/main/tools/vendor_site" --site "$1/demo/site.txt" --host "$3" --sign "$4" \
        --keys "$5" --online "$6" --refresh --screenshots "$2/screenshots-signed" || status=$?
    [ "$status" = 0 ] && { bash "$1/tests/e2e/whole_road.sh" --final-inst "$2/signed/src/shell/final_inst" \
        --vendor-site "$2/main/tools/vendor_site" --site "$1/demo/site.txt" --host "$3" --sign "$4" \
        --keys "$5" --online "$6" --swap recipe-box.zip,project-tasks.zip \
        --screenshots "$2/screenshots-swapped" || status=$?; }
    kill "$wm" 2>/dev/null
    exit "$status"' sh "$src" "$build" "$host" "$key" "$chain" "$online"

echo "== the code below the windows, built for Windows, tested under Wine"
sh "$src/scripts/test-windows.sh" "$build/windows"
