#!/usr/bin/env bash
# SIGTERM, SIGINT and SIGHUP end the real final_inst with exit code 0 within a
# few seconds, on "Finalizing Setup" and on the main window with the catalogue
# open, and leave the application folder as closing the windows would.
#
# termination.sh --final-inst PATH --vendor-site PATH --site DESCRIPTION --host H:P [--keep]
#
# Uses $DISPLAY when set; otherwise starts its own Xvfb and stops it at the end.
set -u
# Background jobs of a script ignore SIGINT unless they run under job control,
# and the program keeps a signal ignored that it was started ignoring.
set -m

final_inst= vendor_site= description= host= keep=0
while [ $# -gt 0 ]; do
    case $1 in
        --final-inst) final_inst=$2; shift 2 ;;
        --vendor-site) vendor_site=$2; shift 2 ;;
        --site) description=$2; shift 2 ;;
        --host) host=$2; shift 2 ;;
        --keep) keep=1; shift ;;
        *) echo "termination: unknown argument $1" >&2; exit 2 ;;
    esac
done
for need in final_inst vendor_site description host; do
    [ -n "${!need}" ] || { echo "termination: --${need//_/-} is missing" >&2; exit 2; }
done
for tool in xdotool xwininfo; do
    command -v "$tool" >/dev/null || { echo "termination: $tool is not installed (scripts/setup.sh installs it)" >&2; exit 2; }
done

# Long enough for a loaded machine, short enough to tell an ignored signal.
allowed_seconds=10

work=$(mktemp -d /tmp/termination.XXXXXX)
server_pid= program_pid= xvfb_pid= failed=0

step() { echo "termination: $*"; }

cleanup() {
    if [ -n "$program_pid" ] && kill -0 "$program_pid" 2>/dev/null; then kill -9 "$program_pid" 2>/dev/null; fi
    if [ -n "$server_pid" ]; then
        kill -TERM "$server_pid" 2>/dev/null
        wait "$server_pid" 2>/dev/null
    fi
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
    if [ "$failed" = 0 ] && [ "$keep" = 0 ]; then rm -rf "$work"; else echo "termination: the work folder is kept: $work"; fi
}
trap cleanup EXIT

fail() {
    failed=1
    echo "termination: FAILED: $*" >&2
    [ -f "$work/program.log" ] && tail -n 20 "$work/program.log" | sed 's/^/termination:   program: /' >&2
    exit 1
}

if [ -z "${DISPLAY:-}" ]; then
    command -v Xvfb >/dev/null || { echo "termination: no DISPLAY and no Xvfb" >&2; exit 2; }
    number=98
    while [ -e "/tmp/.X$number-lock" ] && [ $number -lt 120 ]; do number=$((number + 1)); done
    export DISPLAY=:$number
    Xvfb "$DISPLAY" -screen 0 1280x1024x24 -dpi 96 -nolisten tcp >"$work/xvfb.log" 2>&1 &
    xvfb_pid=$!
    for _ in $(seq 50); do xwininfo -root >/dev/null 2>&1 && break; sleep 0.1; done
    xwininfo -root >/dev/null 2>&1 || fail "Xvfb did not start on $DISPLAY"
fi

# --- the site ------------------------------------------------------------------
"$vendor_site" build "$description" "$work/site" --host "$host" >"$work/build.log" 2>&1 || fail "vendor_site build failed"
deadline=$((SECONDS + 90))
while :; do
    "$vendor_site" serve "$work/site" --listen "$host" --log >"$work/server.log" 2>&1 &
    server_pid=$!
    for _ in $(seq 50); do grep -q "serving" "$work/server.log" && break; kill -0 "$server_pid" 2>/dev/null || break; sleep 0.1; done
    grep -q "serving" "$work/server.log" && break
    wait "$server_pid" 2>/dev/null
    server_pid=
    grep -q "in use" "$work/server.log" && [ $SECONDS -lt $deadline ] || fail "vendor_site serve did not start on $host"
    sleep 2
done

# --- helpers -------------------------------------------------------------------
# Every path with its kind and, for files, its bytes' checksum.
tree_of() { (cd "$1" && find . -mindepth 1 -printf '%y %p\n' -type f -exec md5sum {} \; | sort); }

fresh_app() {
    rm -rf "$work/app"
    "$vendor_site" demo-app "$work/app" --host "$host" >/dev/null || fail "vendor_site demo-app failed"
    cp "$final_inst" "$work/app/final_inst" || fail "cannot copy $final_inst"
    tree_of "$work/app" >"$work/before.tree"
}

start_program() {
    log_mark=$(wc -l <"$work/server.log")
    (cd "$work/app" && exec env QT_QPA_PLATFORM=xcb QTWEBENGINE_CHROMIUM_FLAGS="--disable-gpu" ./final_inst) \
        >"$work/program.log" 2>&1 &
    program_pid=$!
}

wait_window() {
    local deadline=$((SECONDS + $2)) id
    while [ $SECONDS -le $deadline ]; do
        id=$(timeout 5 xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | tail -n 1)
        [ -n "$id" ] && { echo "$id"; return 0; }
        kill -0 "$program_pid" 2>/dev/null || return 1
        sleep 0.1
    done
    return 1
}

# Sends the signal and expects the program gone with code 0 in time.
end_with() {
    local signal=$1 code
    kill "-$signal" "$program_pid" || fail "cannot send SIG$signal"
    for _ in $(seq $((allowed_seconds * 10))); do kill -0 "$program_pid" 2>/dev/null || break; sleep 0.1; done
    kill -0 "$program_pid" 2>/dev/null && fail "final_inst still runs $allowed_seconds s after SIG$signal"
    wait "$program_pid"
    code=$?
    program_pid=
    [ "$code" = 0 ] || fail "final_inst ended with code $code on SIG$signal"
}

# The paths that the run added, removed or changed.
changes() { diff "$work/before.tree" <(tree_of "$work/app") | sed -n 's/^[<>] [^ ]*  *//p' | sort -u; }

# --- the cases -----------------------------------------------------------------
on_finishing_window() {
    local signal=$1
    fresh_app
    start_program
    wait_window "Finalizing Setup" 60 >/dev/null || fail "no \"Finalizing Setup\""
    end_with "$signal"
    [ -z "$(changes)" ] || fail "SIG$signal on \"Finalizing Setup\" changed the folder: $(changes | tr '\n' ' ')"
}

on_main_window() {
    local signal=$1 first
    fresh_app
    start_program
    first=$(wait_window "Finalizing Setup" 60) || fail "no \"Finalizing Setup\""
    xdotool windowfocus --sync "$first" 2>/dev/null
    xdotool key Return
    wait_window "Download Template and Update Program Files" 90 >/dev/null || fail "no main window"
    # The catalogue is open once the first template's preview is asked for.
    local deadline=$((SECONDS + 30))
    until tail -n "+$((log_mark + 1))" "$work/server.log" | grep -q 'GET /quillary-web-templates/preview/'; do
        [ $SECONDS -le $deadline ] || fail "the main window never showed a preview"
        sleep 0.1
    done
    end_with "$signal"
    # What showing the main window leaves, and nothing more: no journal, no work folder.
    local expected="./data/templates.ini
./temp
./temp/temp.fdb
./temp/temp.ini
./temp/temp.zip"
    [ "$(changes)" = "$expected" ] ||
        fail "SIG$signal on the main window left: $(changes | tr '\n' ' ')"
}

for signal in TERM INT HUP; do
    step "SIG$signal on \"Finalizing Setup\""
    on_finishing_window "$signal"
    step "SIG$signal on the main window"
    on_main_window "$signal"
done
step "passed: each signal ended final_inst with code 0, idle on both windows"
