#!/bin/sh
# Runs one Windows program under wine64 for CTest, in a Wine prefix of the
# build's own (WINEPREFIX, set by the build; made here on first use), so the
# user's Wine setup neither helps nor spoils a test.
#   wine-run.sh PROGRAM.exe ARGS...
#   wine-run.sh --start | --stop    one wineserver kept for the whole run
set -eu
wine=${WINE64:-/usr/lib/wine/wine64}
[ -x "$wine" ] || wine=$(command -v wine64 || command -v wine)
: "${WINEPREFIX:=$(pwd)/wine-prefix}"
export WINEPREFIX
export WINEDEBUG=${WINEDEBUG:--all}
# English messages and the Western ANSI code page, whatever the machine's locale.
export LC_ALL=C.UTF-8 LANG=C.UTF-8
# No dialog asks about Mono or Gecko; the tests need neither.
export WINEDLLOVERRIDES="mscoree,mshtml=;${WINEDLLOVERRIDES:-}"
server=$(dirname "$wine")/wineserver
[ -x "$server" ] || server=$(command -v wineserver)
mkdir -p "$WINEPREFIX"
case "${1:-}" in
--start)
    # Stays until --stop, so no test waits for a server to start or end.
    "$server" -p </dev/null >/dev/null 2>&1 || true  # one already kept does as well
    shift ;;
--stop)
    "$server" -k 2>/dev/null || true
    exit 0 ;;
esac
# A kept server writes the registry files late, so a mark of our own tells
# that the prefix is made.
made=$WINEPREFIX/.made-by-wine-run
if [ ! -f "$made" ]; then
    # One maker at a time when tests start together. Wine's services outlive
    # wineboot and must not inherit the lock.
    (
        flock 9
        if [ ! -f "$made" ]; then
            "$wine" wineboot -i </dev/null >/dev/null 2>&1 9>&- || true
            touch "$made"
        fi
    ) 9>"$WINEPREFIX.lock"
fi
[ $# -gt 0 ] || exit 0
# Wine's helper processes outlive the program and would hold CTest's pipe
# open; they get a file instead, which is shown when the program ends.
out=$(mktemp)
status=0
"$wine" "$@" </dev/null >"$out" 2>&1 || status=$?
cat "$out"
rm -f "$out"
exit "$status"
