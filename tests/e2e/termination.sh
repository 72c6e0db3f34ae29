#!/usr/bin/env bash
# SIGTERM, SIGINT and SIGHUP end the real final_inst with exit code 0 within a
# few seconds, on "Finalizing Setup" and on the main window with the catalogue
# open, and leave the application folder as closing the windows would. SIGTERM
# and SIGINT during a program update of 160 files end it as quickly, with the
# program files all old or all new; after kill -9 during one, the next start
# says what it put right and leaves them whole.
#
# The site is the one described, its update replaced by one of 160 files, so
# that the update's paced step lasts eight seconds.
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
server_pid= program_pid= xvfb_pid= failed=0 main=

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

. "$(dirname "${BASH_SOURCE[0]}")/session.sh"
start_display 98

# --- the site ------------------------------------------------------------------
update_archive=quillary-1.1.zip
update_files=160
{
    awk '/^\[/ { skip = ($0 == "[version]") } !skip' "$description"
    echo "[version]"
    echo "version = 1.1"
    echo "file = $update_archive"
    echo "program quillary.exe = 1.1.0.0"
    for i in $(seq -w 1 "$update_files"); do echo "put files/part$i.txt = part $i of version 1.1"; done
} >"$work/site.txt"
"$vendor_site" build "$work/site.txt" "$work/site" --host "$host" >"$work/build.log" 2>&1 || fail "vendor_site build failed"
serve_site "$work/site"

# --- helpers -------------------------------------------------------------------
# Every path with its kind and, for files, its bytes' checksum.
tree_of() { (cd "$1" && find . -mindepth 1 -printf '%y %p\n' -type f -exec md5sum {} \; | sort); }

fresh_app() {
    rm -rf "$work/app" "$work/app-before"
    "$vendor_site" demo-app "$work/app" --host "$host" >/dev/null || fail "vendor_site demo-app failed"
    cp "$final_inst" "$work/app/final_inst" || fail "cannot copy $final_inst"
    tree_of "$work/app" >"$work/before.tree"
    cp -a "$work/app" "$work/app-before"
}

start_program() {
    log_mark=$(wc -l <"$work/server.log")
    start_final_inst "$work/app"
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

# Sends the signal and expects the program gone with code 0 within $2 seconds
# (allowed_seconds when not given).
end_with() {
    local signal=$1 seconds=${2:-$allowed_seconds} code started=$EPOCHREALTIME
    kill "-$signal" "$program_pid" || fail "cannot send SIG$signal"
    for _ in $(seq $((seconds * 10))); do kill -0 "$program_pid" 2>/dev/null || break; sleep 0.1; done
    kill -0 "$program_pid" 2>/dev/null && fail "final_inst still runs $seconds s after SIG$signal"
    wait "$program_pid"
    code=$?
    program_pid=
    [ "$code" = 0 ] || fail "final_inst ended with code $code on SIG$signal"
    step "  ended $(awk -v now="$EPOCHREALTIME" -v then="$started" 'BEGIN { printf "%.1f", now - then }') s after SIG$signal"
}

focus_and_press() { xdotool windowfocus --sync "$1" 2>/dev/null || xdotool windowfocus "$1" 2>/dev/null; sleep 0.2; xdotool key "$2"; }

# From "Finalizing Setup" to the main window with its catalogue open; its id in $main.
open_main_window() {
    local first deadline
    first=$(wait_window "Finalizing Setup" 60) || fail "no \"Finalizing Setup\""
    focus_and_press "$first" Return
    main=$(wait_window "Download Template and Update Program Files" 90) || fail "no main window"
    # The catalogue is open once the first template's preview is asked for.
    deadline=$((SECONDS + 30))
    until tail -n "+$((log_mark + 1))" "$work/server.log" | grep -q 'GET /quillary-web-templates/preview/'; do
        [ $SECONDS -le $deadline ] || fail "the main window never showed a preview"
        sleep 0.1
    done
}

# Downloads the selected template and lets the update begin: Yes, then OK on
# "Template installed successfully.", then waits until the update archive is
# fetched and the update is a little way into its paced step.
start_update() {
    local height box deadline
    height=$(xwininfo -id "$main" | sed -n 's/^ *Height: *//p')
    [ -n "$height" ] || fail "cannot read the main window's size"
    xdotool windowfocus --sync "$main" 2>/dev/null
    xdotool mousemove --window "$main" 513 $((height - 19 - 41 + 10 + 12)) click 1
    box=$(wait_window "Confirm" 20) || fail "no \"Confirm\" box after \"Download\""
    focus_and_press "$box" Return
    box=$(wait_window "Information" 120) || fail "the template was not installed"
    focus_and_press "$box" Return
    deadline=$((SECONDS + 30))
    until tail -n "+$((log_mark + 1))" "$work/server.log" | grep -qF "GET /quillary-web/update/$update_archive"; do
        [ $SECONDS -le $deadline ] || fail "the update archive was never fetched"
        sleep 0.1
    done
    sleep 1.5
}

# The program files (all but db, data and temp, which the installation changed,
# and version.ini): the folder as it was with upgr_bak made by the update
# check, or as an uninterrupted update leaves it.
program_files() { tree_of "$1" | grep -vE '\./(data|db|temp)(/|$)|\./version\.ini$'; }

expect_program_files_whole() {
    local when=$1 expected
    expected=$work/expect-old
    rm -rf "$expected" && cp -a "$work/app-before" "$expected" && mkdir -p "$expected/upgr_bak"
    program_files "$expected" >"$work/old.tree"
    expected=$work/expect-new
    rm -rf "$expected" && cp -a "$work/expect-old" "$expected" && mv "$expected/quillary.exe" "$expected/upgr_bak/"
    python3 -c 'import sys, zipfile; zipfile.ZipFile(sys.argv[1]).extractall(sys.argv[2])' \
        "$work/site/quillary-web/update/$update_archive" "$expected" || fail "cannot unpack the served update"
    program_files "$expected" >"$work/new.tree"
    program_files "$work/app" >"$work/now.tree"
    if cmp -s "$work/now.tree" "$work/old.tree"; then
        step "  $when: the program files are all the old ones"
    elif cmp -s "$work/now.tree" "$work/new.tree"; then
        step "  $when: the program files are all the new ones"
    else
        fail "$when: the program files are neither all old nor all new: $(diff "$work/old.tree" "$work/now.tree" | head -n 20 | tr '\n' ' ')"
    fi
    ls -d "$work/app"/data/tmp* >/dev/null 2>&1 && fail "$when: a work folder data/tmp* was left behind"
    return 0
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
    local signal=$1
    fresh_app
    start_program
    open_main_window
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

during_update() {
    local signal=$1
    fresh_app
    start_program
    open_main_window
    start_update
    # Well before the paced step would end by itself: the update stops there.
    end_with "$signal" 4
    expect_program_files_whole "SIG$signal during the update"
}

# kill -9 during the update, then one more start: the box that says what was
# put right comes before "Finalizing Setup", and the program files are whole.
killed_during_update() {
    local box
    fresh_app
    start_program
    open_main_window
    start_update
    kill -9 "$program_pid"
    wait "$program_pid" 2>/dev/null
    program_pid=
    [ -e "$work/app/.final_inst.journal" ] || fail "kill -9 during the update left no journal to put right"
    start_program
    box=$(wait_window "Information" 60) || fail "the next start showed no box about the interrupted update"
    wait_window "Finalizing Setup" 1 >/dev/null && fail "\"Finalizing Setup\" came before the box about the interrupted update"
    focus_and_press "$box" Return
    wait_window "Finalizing Setup" 60 >/dev/null || fail "no \"Finalizing Setup\" after the box"
    end_with TERM
    expect_program_files_whole "the start after kill -9 during the update"
}

for signal in TERM INT HUP; do
    step "SIG$signal on \"Finalizing Setup\""
    on_finishing_window "$signal"
    step "SIG$signal on the main window"
    on_main_window "$signal"
done
for signal in TERM INT; do
    step "SIG$signal during the update"
    during_update "$signal"
done
step "kill -9 during the update, then the next start"
killed_during_update
step "passed: each signal ended final_inst with code 0, idle on both windows and during the update; a killed update was put right"
