#!/usr/bin/env bash
# The whole road of one run, as a user walks it: the real final_inst, started
# from a demo application folder, against the demo vendor site served on the
# host it was built for, driven with real key presses and clicks under X.
# Afterwards the application folder is compared byte for byte with what the
# site serves.
#
# whole_road.sh --final-inst PATH --vendor-site PATH --site DESCRIPTION
#               --host H:P [--sign KEY-FILE [--keys CHAIN --online KEY-FILE [--refresh]]
#               [--swap A,B]] [--screenshots FOLDER] [--keep]
#
# --sign signs the site with the vendor's key (final_inst must be built with
# its public key). --keys publishes a key chain with it, and --online signs
# the timestamps with the online key its last link names; --refresh builds
# them expired and then renews them with "vendor_site refresh" while the
# release key's file is moved away, as on a machine that holds the online key
# only. --swap serves template archives A and B under each other's names: the
# download is refused, and the database stays as it was.
#
# Uses $DISPLAY when set; otherwise starts its own Xvfb (on :97 when free) and
# stops it at the end.
set -u

final_inst= vendor_site= description= host= shots= keep=0 sign= swap= keys= online= refresh=0
while [ $# -gt 0 ]; do
    case $1 in
        --final-inst) final_inst=$2; shift 2 ;;
        --vendor-site) vendor_site=$2; shift 2 ;;
        --site) description=$2; shift 2 ;;
        --host) host=$2; shift 2 ;;
        --screenshots) shots=$2; shift 2 ;;
        --sign) sign=$2; shift 2 ;;
        --swap) swap=$2; shift 2 ;;
        --keys) keys=$2; shift 2 ;;
        --online) online=$2; shift 2 ;;
        --refresh) refresh=1; shift ;;
        --keep) keep=1; shift ;;
        *) echo "whole_road: unknown argument $1" >&2; exit 2 ;;
    esac
done
for need in final_inst vendor_site description host; do
    [ -n "${!need}" ] || { echo "whole_road: --${need//_/-} is missing" >&2; exit 2; }
done
[ "$refresh" = 0 ] || [ -n "$online" ] || { echo "whole_road: --refresh needs --online" >&2; exit 2; }
[ -n "$shots" ] || shots=$(dirname "$final_inst")/../../screenshots
for tool in xdotool import xwininfo python3 cmp diff; do
    command -v "$tool" >/dev/null || { echo "whole_road: $tool is not installed (scripts/setup.sh installs it)" >&2; exit 2; }
done

# What the user picks: category "Home" (item 5 of the sorted box: " All
# Categories", Business, Education, Health, Hobbies, Home) and the keyword
# "Seasonal". Only Recipe Box matches both; without the category Garden Journal
# would come first, without the keyword Address Book.
category_downs=5
keywords=Seasonal
archive=recipe-box.zip
update_archive=quillary-1.1.zip

work=$(mktemp -d /tmp/whole_road.XXXXXX)
site=$work/site app=$work/app expect=$work/expect
mkdir -p "$shots" "$expect"
server_pid= program_pid= xvfb_pid= failed=0

step() { echo "whole_road: $*"; }
# A failure already reported inside a $(...) ends the run here.
stop() { failed=1; exit 1; }

cleanup() {
    if [ -n "$program_pid" ] && kill -0 "$program_pid" 2>/dev/null; then
        kill -TERM "$program_pid" 2>/dev/null
        sleep 1
        kill -9 "$program_pid" 2>/dev/null
    fi
    if [ -n "$server_pid" ]; then
        kill -TERM "$server_pid" 2>/dev/null
        wait "$server_pid" 2>/dev/null
    fi
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
    if [ "$failed" = 0 ] && [ "$keep" = 0 ]; then rm -rf "$work"; else echo "whole_road: the work folder is kept: $work"; fi
}
trap cleanup EXIT
trap 'exit 1' INT TERM

fail() {
    failed=1
    echo "whole_road: FAILED: $*" >&2
    timeout 20 import -silent -window root "$shots/failure.png" 2>/dev/null && echo "whole_road: the screen is in $shots/failure.png" >&2
    for id in $(xdotool search --onlyvisible --name '.' 2>/dev/null); do
        echo "whole_road:   window on screen: \"$(xdotool getwindowname "$id" 2>/dev/null)\"" >&2
    done
    [ -f "$work/server.log" ] && sed 's/^/whole_road:   site: /' "$work/server.log" >&2
    [ -f "$work/program.log" ] && tail -n 20 "$work/program.log" | sed 's/^/whole_road:   program: /' >&2
    exit 1
}

# --- the display -------------------------------------------------------------
. "$(dirname "${BASH_SOURCE[0]}")/session.sh"
# :97 unless another X server has it.
start_display 97

# --- helpers -------------------------------------------------------------------
alive() { kill -0 "$program_pid" 2>/dev/null; }

# The id of the visible window whose title is exactly $1, waiting up to $2 seconds.
wait_window() {
    local title=$1 seconds=$2 id
    local deadline=$((SECONDS + seconds))
    while [ $SECONDS -le $deadline ]; do
        id=$(timeout 5 xdotool search --onlyvisible --name "^${title}\$" 2>/dev/null | tail -n 1)
        if [ -n "$id" ]; then echo "$id"; return 0; fi
        if [ "$title" != Error ] && xdotool search --onlyvisible --name '^Error$' >/dev/null 2>&1; then
            echo "error-box"; return 0
        fi
        alive || { echo "ended"; return 0; }
        sleep 0.1
    done
    return 1
}

expect_window() {
    local id
    id=$(wait_window "$1" "$2") || fail "no window \"$1\" within $2 s"
    case $id in
        error-box) fail "an error box came up while waiting for \"$1\"" ;;
        ended) fail "final_inst ended while waiting for \"$1\"" ;;
    esac
    echo "$id"
}

wait_gone() {
    local id=$1 seconds=$2
    local deadline=$((SECONDS + seconds))
    while [ $SECONDS -le $deadline ]; do
        xwininfo -id "$id" 2>/dev/null | grep -q 'IsViewable' || return 0
        sleep 0.1
    done
    fail "window $id \"$(xdotool getwindowname "$id" 2>/dev/null)\" did not go away within $seconds s"
}

# import holds the X server while it reads a window, so it is never left to hang.
shot() { timeout 20 import -silent -window "$1" "$shots/$2" 2>/dev/null || fail "could not take the screenshot $2"; step "screenshot $shots/$2"; }

focus() { xdotool windowfocus --sync "$1" 2>/dev/null || xdotool windowfocus "$1" 2>/dev/null; sleep 0.2; }

# A click at client coordinates of a window.
click() { xdotool mousemove --window "$1" "$2" "$3" click 1; sleep 0.3; }

# Presses Enter in a box once it has the focus.
answer_box() { focus "$1"; xdotool key Return; }

# The site writes a request's line once it has served it, which on a busy
# machine can be after the program has already shown its box.
logged() {
    local text=$1 seconds=$2
    local deadline=$((SECONDS + seconds))
    while [ $SECONDS -le $deadline ]; do
        grep -qF "$text" "$work/server.log" && return 0
        sleep 0.1
    done
    return 1
}

wait_in_log() { logged "$1" "$2" || fail "the site never saw \"$1\" within $2 s"; }

# Polls for the progress window while a long step runs, keeping one screenshot.
watch_progress() {
    local deadline=$((SECONDS + 60)) id
    while [ $SECONDS -le $deadline ]; do
        id=$(timeout 5 xdotool search --onlyvisible --name "^Template Installation$" 2>/dev/null | tail -n 1)
        if [ -n "$id" ]; then
            sleep 0.05
            timeout 3 import -silent -window "$id" "$shots/$1" 2>/dev/null && { echo "whole_road: screenshot $shots/$1"; return; }
        fi
        sleep 0.02
    done
}

# Answers a box while a watcher waits to photograph the progress window that
# the answer brings up; stop_watching ends the watcher once the next box is up.
answer_watching() {
    watch_progress "$2" &
    watcher=$!
    answer_box "$1"
    wait_gone "$1" 10
}

stop_watching() {
    kill "$watcher" 2>/dev/null
    wait "$watcher" 2>/dev/null
}

# --- the site and the application folder ------------------------------------
step "building the site from $description for $host"
signing=()
[ -n "$sign" ] && signing+=(--sign "$sign")
[ -n "$keys" ] && signing+=(--keys "$keys")
[ -n "$online" ] && signing+=(--online "$online")
[ "$refresh" = 1 ] && signing+=(--fresh-for 0)
"$vendor_site" build "$description" "$site" --host "$host" "${signing[@]}" >"$work/build.log" 2>&1 ||
    { cat "$work/build.log" >&2; fail "vendor_site build failed"; }
if [ "$refresh" = 1 ]; then
    step "refreshing the expired timestamps with the online key alone (the release key's file moved away)"
    mv "$sign" "$work/release-key-away" || fail "cannot move $sign away"
    "$vendor_site" refresh "$site" --online "$online" >"$work/refresh.log" 2>&1
    refreshed=$?
    # Back at once, whatever the refresh did: the key is the caller's.
    mv "$work/release-key-away" "$sign" || fail "cannot move the release key back to $sign"
    [ "$refreshed" = 0 ] || { cat "$work/refresh.log" >&2; fail "vendor_site refresh failed"; }
fi
if [ -n "$swap" ]; then
    first_archive=$site/quillary-web-templates/${swap%,*} second_archive=$site/quillary-web-templates/${swap#*,}
    step "serving ${swap%,*} and ${swap#*,} under each other's names"
    mv "$first_archive" "$work/swapping" && mv "$second_archive" "$first_archive" && mv "$work/swapping" "$second_archive" ||
        fail "cannot swap $swap"
fi
step "making the application folder $app"
"$vendor_site" demo-app "$app" --host "$host" >/dev/null || fail "vendor_site demo-app failed"
cp "$app/db.ini" "$expect/db.ini"
cp "$app/quillary.exe" "$expect/old-quillary.exe"
cp "$app/readme.txt" "$expect/old-readme.txt"
cp "$app/db/db.fdb" "$expect/old-db.fdb" 2>/dev/null
cp -r "$app/data" "$expect/old-data" 2>/dev/null
# The program's application folder is the folder of its own program file.
cp "$final_inst" "$app/final_inst" || fail "cannot copy $final_inst"

step "serving the site on $host"
serve_site "$site"

# --- the road ------------------------------------------------------------------
step "starting final_inst"
start_final_inst "$app"

first=$(expect_window "Finalizing Setup" 60) || stop
sleep 0.5
shot "$first" "1-finalizing-setup.png"
step "pressing Enter: \"Next >>\""
focus "$first"
xdotool key Return

main=$(expect_window "Download Template and Update Program Files" 90) || stop
wait_in_log "GET /quillary-web-templates/temp.zip" 30
# The first template is selected at once and its preview page asked for.
wait_in_log "GET /quillary-web-templates/preview/" 30
sleep 3
focus "$main"
shot "$main" "2-main-window-preview.png"
height=$(xwininfo -id "$main" | sed -n 's/^ *Height: *//p')
[ -n "$height" ] || fail "cannot read the main window's size"
step "main window is $(xwininfo -id "$main" | sed -n 's/^ *Width: *//p') x $height"

step "choosing the category"
click "$main" 199 38
for _ in $(seq "$category_downs"); do xdotool key Down; sleep 0.1; done
xdotool key Return
sleep 0.5
step "typing the keywords \"$keywords\""
click "$main" 235 67
xdotool key ctrl+a
xdotool type --delay 60 "$keywords"
step "clicking \"Search\""
click "$main" 119 94
sleep 1.5
shot "$main" "3-main-window-search.png"
step "selecting the first template of the list"
click "$main" 200 139
sleep 1.5
step "clicking \"Download\""
click "$main" 513 $((height - 19 - 41 + 10 + 12))

confirm=$(expect_window "Confirm" 20) || stop
shot "$confirm" "4-confirm.png"
step "answering Yes"
answer_watching "$confirm" "5-progress-installation.png"

if [ -n "$swap" ]; then
    # The refusal (the program's general error box, under its own name) and
    # whatever the update check says before it are answered until the program ends.
    refused=0
    deadline=$((SECONDS + 120))
    while alive && [ $SECONDS -le $deadline ]; do
        box=$(timeout 5 xdotool search --onlyvisible --name '^(Error|Information|final_inst)$' 2>/dev/null | tail -n 1)
        if [ -n "$box" ]; then
            title=$(xdotool getwindowname "$box" 2>/dev/null)
            [ "$title" != Information ] && { refused=1; shot "$box" "6-swapped-template-refused.png"; }
            step "\"$title\" box: pressing Enter"
            answer_box "$box"
            wait_gone "$box" 10
        fi
        sleep 0.2
    done
    stop_watching
    [ "$refused" = 1 ] || fail "no error box: the swapped template was not refused"
    alive && fail "final_inst is still running 120 s after the download"
    wait "$program_pid"
    program_pid=
    step "checking that the database is the one from before"
    if [ -e "$expect/old-db.fdb" ]; then
        cmp -s "$app/db/db.fdb" "$expect/old-db.fdb" || fail "db/db.fdb was changed by a refused template"
    else
        [ -e "$app/db/db.fdb" ] && fail "a refused template put db/db.fdb in place"
    fi
    if [ -e "$expect/old-data/db" ]; then
        diff -r "$app/data/db" "$expect/old-data/db" >"$work/data.diff" 2>&1 ||
            { cat "$work/data.diff" >&2; fail "data/db was changed by a refused template"; }
    else
        [ -e "$app/data/db" ] && fail "a refused template put data/db in place"
    fi
    [ -e "$app/temp/${swap%,*}" ] && fail "the refused archive temp/${swap%,*} was left behind"
    step "passed: the swapped template archive was refused and nothing of it installed"
    exit 0
fi

info=$(expect_window "Information" 120) || stop
stop_watching
logged "GET /quillary-web-templates/$archive" 10 ||
    fail "the program downloaded another template than $archive (the search or the selection went wrong)"
shot "$info" "6-template-installed.png"
step "\"Template installed successfully.\": pressing Enter"
answer_watching "$info" "7-progress-update.png"

info2=$(expect_window "Information" 120) || stop
stop_watching
logged "GET /quillary-web/update/$update_archive" 10 || fail "the update archive was never downloaded"
shot "$info2" "8-program-files-installed.png"
step "\"The program files installed successfully.\": pressing Enter"
answer_box "$info2"

step "waiting for final_inst to end"
for _ in $(seq 300); do alive || break; sleep 0.1; done
alive && fail "final_inst is still running 30 s after the last box"
wait "$program_pid"
code=$?
program_pid=
[ "$code" = 0 ] || fail "final_inst ended with exit code $code"
[ -f "$shots/5-progress-installation.png" ] || step "note: the installation's progress window was too quick to photograph"
[ -f "$shots/7-progress-update.png" ] || step "note: the update's progress window was too quick to photograph"

# --- what the application folder holds now ------------------------------------
step "checking the application folder"
mismatch=0
bad() { echo "whole_road: MISMATCH: $*" >&2; mismatch=1; }
same() { cmp -s "$1" "$2" || bad "$3"; }

templates=$site/quillary-web-templates
update=$site/quillary-web/update
# Python's reader honours the UTF-8 name flag, which unzip here does not.
unpack() { python3 -c 'import sys, zipfile; zipfile.ZipFile(sys.argv[1]).extractall(sys.argv[2])' "$1" "$2"; }
unpack "$templates/$archive" "$expect/template" || fail "cannot unpack the served $archive"
unpack "$update/$update_archive" "$expect/update" || fail "cannot unpack the served $update_archive"

printf 'Main=db\r\n' >"$expect/templates.ini"
same "$app/data/templates.ini" "$expect/templates.ini" "data/templates.ini is not \"Main=db\" CR LF"

# temp.ini: db.ini with the section [temp.fdb] and the catalogue as its database.
{
    printf '[temp.fdb]\r\n'
    tail -n +2 "$expect/db.ini" | sed "s|^Database=.*\r\$|Database=$app/temp/temp.fdb\r|"
} >"$expect/temp.ini"
same "$app/temp/temp.ini" "$expect/temp.ini" "temp/temp.ini is not db.ini with [temp.fdb] and Database=$app/temp/temp.fdb"
same "$app/db.ini" "$expect/db.ini" "db.ini was changed"
same "$app/temp/temp.zip" "$templates/temp.zip" "temp/temp.zip is not the served catalogue"
same "$app/temp/$archive" "$templates/$archive" "temp/$archive is not the served template archive"

same "$app/db/db.fdb" "$expect/template/db.fdb" "db/db.fdb is not the template's database"
diff -r "$app/data/db" "$expect/template/db" >"$work/data.diff" 2>&1 || { cat "$work/data.diff" >&2; bad "data/db is not the template's db folder"; }
ls -d "$app"/data/tmp* >/dev/null 2>&1 && bad "a work folder data/tmp* was left behind"

same "$app/version.ini" "$update/version.txt" "version.ini is not the served version.txt"
(cd "$expect/update" && find . -type f) | while read -r f; do
    cmp -s "$app/$f" "$expect/update/$f" || echo "$f"
done >"$work/update.diff"
[ -s "$work/update.diff" ] && bad "these program files are not the new ones: $(tr '\n' ' ' <"$work/update.diff")"
[ -e "$app/$update_archive" ] && bad "the update archive $update_archive was left in the application folder"

same "$app/upgr_bak/quillary.exe" "$expect/old-quillary.exe" "upgr_bak/quillary.exe is not the old program file"
same "$app/upgr_bak/readme.txt" "$expect/old-readme.txt" "upgr_bak/readme.txt is not the old readme"
[ -e "$app/upgr_bak/help/manual.txt" ] && bad "upgr_bak holds help/manual.txt, which did not exist before"
[ -e "$app/upgr_bak/help" ] && bad "upgr_bak has a folder help, which no backup needs"

# A program file keeps the right to run its entry gave it, as far as the umask allows.
python3 -c '
import sys, zipfile
for e in zipfile.ZipFile(sys.argv[1]).infolist():
    if not e.is_dir() and e.create_system == 3: print("%o %s" % ((e.external_attr >> 16) & 0o777, e.filename))
' "$update/$update_archive" >"$work/modes" || fail "cannot read the modes of $update_archive"
while read -r mode f; do
    want=$(printf '%o' $((8#$mode & ~8#$(umask))))
    have=$(stat -c %a "$app/$f")
    [ "$have" = "$want" ] || bad "$f has mode $have after the update; its entry says $want"
done <"$work/modes"
if [ -e "$expect/update/run.sh" ]; then
    said=$("$app/run.sh" 2>&1) || bad "the updated run.sh does not run: $said"
    step "the updated run.sh says: $said"
fi
[ "$mismatch" = 0 ] || fail "the application folder does not hold what the site implies"

step "starting the updated final_inst again"
start_final_inst "$app"
again=$(expect_window "Finalizing Setup" 60) || stop
shot "$again" "9-started-again.png"
# Ended as a logout ends it: the first window has no key of its own that closes it.
kill -TERM "$program_pid"
for _ in $(seq 100); do alive || break; sleep 0.1; done
alive && fail "final_inst started again did not end on SIGTERM in its first window"
wait "$program_pid"
program_pid=
step "passed: the whole road, and the application folder matches the site"
