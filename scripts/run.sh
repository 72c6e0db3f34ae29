#!/bin/sh
# Sets everything up, builds, and runs final_inst against the demo vendor site:
# builds the site, lays out a demo application folder as the organizer's setup
# would leave it, serves the site on the program's built-in vendor host, starts
# the program from that folder, and stops the site when the program ends.
set -eu
src=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$src/build}
demo=${DEMO_DIR:-$build/demo}

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "run.sh: final_inst is a desktop program and needs a display;" >&2
    echo "        none is set (DISPLAY). Run it from a desktop session, or under xvfb-run." >&2
    exit 2
fi

sh "$src/scripts/setup.sh"
cmake -S "$src" -B "$build/main" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
ninja -C "$build/main" vendor_site
vendor_site=$build/main/tools/vendor_site
host=$(sed -n 's/^VENDOR_HOST:STRING=//p' "$build/main/CMakeCache.txt")

# The demo vendor's keys, made once and kept beside the builds: the release key,
# whose public half the program is built with (in a folder of its own: the
# tests' build has no key), and an online key, named by the chain's second link
# (the release key again, with the online key beside it). The release key signs
# version.txt and manifest.txt (for a year); the online key signs the
# timestamps that say they are still current (for a day, renewed with
# "vendor_site refresh"). Every download is verified.
key=$build/demo-vendor-key.pem
online=$build/demo-online-key.pem
chain=$build/demo-key-chain
if [ ! -s "$key.pub" ] || [ ! -s "$key" ] || [ ! -s "$online" ] || [ ! -s "$chain/2.txt" ]; then
    # The three belong together: one made anew makes the others stale.
    rm -rf "$key" "$key.pub" "$online" "$chain"
    "$vendor_site" keygen "$key" >"$key.pub"
    "$vendor_site" keygen "$online" >/dev/null
    "$vendor_site" rotate "$key" "$key" "$chain" --online "$online"
fi
cmake -S "$src" -B "$build/demo-program" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DQUILL_TESTS=OFF -DQUILL_BENCH=OFF -DVENDOR_HOST="$host" -DUPDATE_PUBLIC_KEY="$(cat "$key.pub")" >/dev/null
ninja -C "$build/demo-program" final_inst

rm -rf "$demo"
mkdir -p "$demo"
"$vendor_site" build "$src/demo/site.txt" "$demo/site" --host "$host" --sign "$key" --keys "$chain" --online "$online"
"$vendor_site" demo-app "$demo/app" --host "$host"
# The program works in the folder of its own program file.
cp "$build/demo-program/src/shell/final_inst" "$demo/app/final_inst"

"$vendor_site" serve "$demo/site" --listen "$host" &
site=$!
stop_site() {
    kill "$site" 2>/dev/null || true
    wait "$site" 2>/dev/null || true
}
trap stop_site EXIT
trap 'exit 130' INT TERM

# Start the program only once the site answers.
tries=0
until curl -s -o /dev/null "http://$host/quillary-web/update/version.txt"; do
    if ! kill -0 "$site" 2>/dev/null || [ "$tries" -ge 100 ]; then
        echo "run.sh: the demo site could not be served on $host" >&2
        exit 1
    fi
    tries=$((tries + 1))
    sleep 0.1
done

status=0
"$demo/app/final_inst" || status=$?
echo "final_inst ended with exit code $status; the application folder is $demo/app"
exit "$status"
