#!/usr/bin/env bash
# The whole road heard as a screen reader hears it: whole_road.sh drives the
# installation and the update while screen_reader.py reads final_inst's
# accessibility tree and events over the AT-SPI bus, then says what a user who
# cannot see the screen would miss.
#
# screen_reader.sh takes whole_road.sh's arguments and passes them on.
# Exits 77 (skipped) when the accessibility bus cannot be had here.
set -u
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
skip() { echo "screen_reader: SKIPPED: $*"; exit 77; }

if [ -z "${SCREEN_READER_INSIDE:-}" ]; then
    launcher=
    for candidate in /usr/libexec/at-spi-bus-launcher /usr/lib/at-spi2-core/at-spi-bus-launcher; do
        [ -x "$candidate" ] && launcher=$candidate && break
    done
    [ -n "$launcher" ] || skip "at-spi-bus-launcher is not installed (at-spi2-core; scripts/setup.sh installs it)"
    command -v dbus-run-session >/dev/null || skip "dbus-run-session is not installed (dbus)"
    /usr/bin/python3 -c 'import pyatspi' 2>/dev/null || skip "pyatspi is not installed (python3-pyatspi)"
    command -v Xvfb >/dev/null || [ -n "${DISPLAY:-}" ] || skip "no DISPLAY and no Xvfb"
    # A session bus of our own, so the reader hears this final_inst only.
    exec env SCREEN_READER_INSIDE="$launcher" dbus-run-session -- bash "${BASH_SOURCE[0]}" "$@"
fi

work=$(mktemp -d /tmp/screen_reader.XXXXXX)
bus_pid= reader_pid= xvfb_pid=
cleanup() {
    [ -n "$reader_pid" ] && kill "$reader_pid" 2>/dev/null
    [ -n "$bus_pid" ] && kill "$bus_pid" 2>/dev/null
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
step() { echo "screen_reader: $*"; }
fail() { echo "screen_reader: FAILED: $*" >&2; exit 1; }

. "$here/session.sh"
start_display 90

"$SCREEN_READER_INSIDE" --launch-immediately >"$work/bus.log" 2>&1 &
bus_pid=$!
/usr/bin/python3 "$here/screen_reader.py" watch "$work/heard.jsonl" 2>"$work/reader.log" &
reader_pid=$!
for _ in $(seq 100); do grep -q '"ready"' "$work/heard.jsonl" 2>/dev/null && break; kill -0 "$reader_pid" 2>/dev/null || break; sleep 0.1; done
grep -q '"ready"' "$work/heard.jsonl" 2>/dev/null ||
    skip "the accessibility bus did not start: $(tail -n 3 "$work/reader.log" "$work/bus.log" | tr '\n' ' ')"
step "the accessibility bus is up; walking the whole road"

# Qt speaks on the bus only when told to, or when a screen reader is running.
QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 bash "$here/whole_road.sh" "$@"
road=$?
sleep 0.5
kill -TERM "$reader_pid" 2>/dev/null
wait "$reader_pid" 2>/dev/null
reader_pid=
[ -n "${SCREEN_READER_KEEP:-}" ] && cp "$work/heard.jsonl" "$SCREEN_READER_KEEP"
[ "$road" = 0 ] || fail "the whole road itself failed (exit $road)"
/usr/bin/python3 "$here/screen_reader.py" check "$work/heard.jsonl" || fail "a screen reader user would miss what is listed above"
step "passed: every control named, the windows dialogs, the progress heard, the long steps announced"
