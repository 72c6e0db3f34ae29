#!/usr/bin/env bash
# From the click on "Next >>" to the main window painted, and where the time
# goes (final_inst's own phase marks, QUILL_PHASES), for catalogues of several
# sizes served on loopback, so the download and unpacking count; beside each,
# isql-fb's SELECT * FROM TEMPLATES ORDER BY NAME over the same database, run as
# a process of its own. The real program under X, as the end-to-end tests run it.
# The phases after the paint (the preview's page made, its first page loaded)
# are shown too; the figure is the time to the paint.
#
# Usage: startup.sh BUILD-DIR [TEMPLATES ...]   (default: 1 2000 20000)
# BUILD-DIR is a build of the tests' kind (build/main): final_inst, vendor_site
# and make_catalogue. Uses $DISPLAY when set, else an Xvfb of its own.
set -u
build=${1:?usage: startup.sh BUILD-DIR [TEMPLATES ...]}
shift
counts=${*:-1 2000 20000}
rounds=3
src=$(cd "$(dirname "$0")/../.." && pwd)
final_inst=$build/src/shell/final_inst vendor_site=$build/tools/vendor_site make_catalogue=$build/tools/make_catalogue
host=$(sed -n 's/^VENDOR_HOST:STRING=//p' "$build/CMakeCache.txt")
for tool in xdotool python3 isql-fb; do
    command -v "$tool" >/dev/null || { echo "startup: $tool is not installed" >&2; exit 2; }
done

work=$(mktemp -d /tmp/bench-startup.XXXXXX)
server_pid= program_pid= xvfb_pid=
cleanup() {
    [ -n "$program_pid" ] && kill -9 "$program_pid" 2>/dev/null
    [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null && wait "$server_pid" 2>/dev/null
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
if [ -z "${DISPLAY:-}" ]; then
    Xvfb :96 -screen 0 1280x1024x24 >/dev/null 2>&1 &
    xvfb_pid=$!
    export DISPLAY=:96
    sleep 1
    (openbox >/dev/null 2>&1 &)
fi

# A catalogue of n templates like the demo's, as make_catalogue reads them.
rows() {
    python3 - "$1" "$host" <<'EOF'
import sys
n, host = int(sys.argv[1]), sys.argv[2]
categories = ["Business", "Education", "Health", "Hobbies", "Home"]
for i in range(1, n + 1):
    words = " ".join(f"word{(i * k) % 997}" for k in range(1, 6))
    description = f"Template {i}: keeps what it is for in order." + " More lines of text." * 8
    print("\t".join([str(i), f"Template {i:05d}", categories[i % 5], f"T-{i}", words, description, "Free",
                     f"{i % 50}.99", f"http://{host}/quillary-web-templates/preview/address-book.html",
                     "address-book.zip"]))
EOF
}

# The phase lines of one run, from the click to the first paint.
run_once() {
    local app=$1 log=$2 id
    (cd "$app" && exec env QUILL_PHASES=1 QT_QPA_PLATFORM=xcb QTWEBENGINE_CHROMIUM_FLAGS="--disable-gpu" ./final_inst) \
        >"$log" 2>&1 &
    program_pid=$!
    for _ in $(seq 300); do
        id=$(xdotool search --onlyvisible --name '^Finalizing Setup$' 2>/dev/null | tail -n 1)
        [ -n "$id" ] && break
        sleep 0.1
    done
    [ -n "$id" ] || { echo "startup: no \"Finalizing Setup\" window" >&2; return 1; }
    sleep 1  # the program idle, as a user reads the window
    xdotool windowfocus --sync "$id" 2>/dev/null
    xdotool key Return
    for _ in $(seq 600); do
        grep -q "main window painted" "$log" && break
        sleep 0.05
    done
    # Then the preview, which fills in after the window is up.
    for _ in $(seq 100); do
        grep -q "first preview loaded" "$log" && break
        sleep 0.05
    done
    kill -9 "$program_pid" 2>/dev/null
    wait "$program_pid" 2>/dev/null
    program_pid=
    grep -q "main window painted" "$log" || { echo "startup: the main window never painted" >&2; return 1; }
}

"$vendor_site" build "$src/demo/site.txt" "$work/site" --host "$host" >/dev/null || exit 1
"$vendor_site" serve "$work/site" --listen "$host" >"$work/server.log" 2>&1 &
server_pid=$!
sleep 0.5

for n in $counts; do
    rows "$n" >"$work/rows.tsv"
    "$make_catalogue" "$work/rows.tsv" "$work/temp.zip" >/dev/null || exit 1
    cp "$work/temp.zip" "$work/site/quillary-web-templates/temp.zip"
    printf 'SELECT * FROM TEMPLATES ORDER BY NAME;\n' >"$work/query.sql"
    best= best_log= isql_best=
    for round in $(seq "$rounds"); do
        rm -rf "$work/app"
        "$vendor_site" demo-app "$work/app" --host "$host" >/dev/null || exit 1
        cp "$final_inst" "$work/app/final_inst"
        run_once "$work/app" "$work/run$round.log" || exit 1
        total=$(sed -n 's/^phase \([0-9.]*\) main window painted$/\1/p' "$work/run$round.log" | head -n 1)
        if [ -z "$best" ] || python3 -c "import sys; sys.exit(0 if $total < $best else 1)"; then
            best=$total best_log=$work/run$round.log
        fi
        start=$EPOCHREALTIME
        isql-fb -q -ch UTF8 -user SYSDBA -password quietbird "$work/temp.zip.fdb" -i "$work/query.sql" -o /dev/null \
            >/dev/null 2>&1 || { echo "startup: isql-fb failed" >&2; exit 1; }
        isql=$(python3 -c "print(round(($EPOCHREALTIME - $start) * 1000, 1))")
        if [ -z "$isql_best" ] || python3 -c "import sys; sys.exit(0 if $isql < $isql_best else 1)"; then isql_best=$isql; fi
    done
    echo "== $n template(s), $(du -k "$work/temp.zip" | cut -f1) KiB zipped; best of $rounds runs"
    awk '/^phase /{ms=$2; $1=""; $2=""; sub(/^  /, ""); printf "  %8.1f ms  +%7.1f  %s\n", ms, ms - last, $0; last=ms}' "$best_log"
    python3 -c "print(f'  click to main window painted {$best:.1f} ms; isql-fb query alone {$isql_best:.1f} ms; ratio {$best / $isql_best:.2f}')"
done
