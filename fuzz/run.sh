#!/bin/sh
# Builds the fuzz targets with clang and gives each an equal share of one minute,
# starting from its seeds in fuzz/corpus/<target>/ where it has them.
set -eu
src=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$src/build-fuzz}
log=$(mktemp)
trap 'rm -f "$log"' EXIT
# Quiet unless it fails; then the whole build log shows why.
CC=clang CXX=clang++ cmake -S "$src" -B "$build" -G Ninja -DQUILL_GUI=OFF -DQUILL_TESTS=OFF \
    -DQUILL_BENCH=OFF -DQUILL_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >"$log" 2>&1 || { cat "$log"; exit 1; }
targets=$(cd "$src/fuzz" && ls *_fuzz.cpp | sed 's/\.cpp$//')
ninja -C "$build" $targets >"$log" 2>&1 || { tail -n 60 "$log"; exit 1; }
count=$(echo "$targets" | wc -w)
share=$((60 / count))
for t in $targets; do
    work=$(mktemp -d)
    mkdir "$work/corpus"
    # The kept seeds (valid inputs and every crash found) are read, never written.
    seeds=""
    [ -d "$src/fuzz/corpus/$t" ] && seeds="$src/fuzz/corpus/$t"
    echo "fuzzing $t for ${share}s"
    (cd "$work" && "$build/fuzz/$t" -max_total_time="$share" -max_len=65536 -rss_limit_mb=2048 \
        -print_final_stats=0 "$work/corpus" $seeds 2>"$work/log") || { tail -n 60 "$work/log"; exit 1; }
    rm -rf "$work"
done
echo "fuzzing found nothing"
