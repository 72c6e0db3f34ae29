# What the end-to-end scripts share, sourced by them after they have set
# $work, $vendor_site and $host and defined step and fail: an X display, the
# vendor site served on the program's host, and final_inst started from its folder.

# Starts Xvfb on the first free display from $1 on when no DISPLAY is set;
# sets xvfb_pid for the caller's cleanup.
start_display() {
    [ -n "${DISPLAY:-}" ] && return 0
    command -v Xvfb >/dev/null || fail "no DISPLAY and no Xvfb"
    local number=$1
    while [ -e "/tmp/.X$number-lock" ] && [ "$number" -lt 120 ]; do number=$((number + 1)); done
    export DISPLAY=:$number
    Xvfb "$DISPLAY" -screen 0 1280x1024x24 -dpi 96 -nolisten tcp >"$work/xvfb.log" 2>&1 &
    xvfb_pid=$!
    for _ in $(seq 50); do xwininfo -root >/dev/null 2>&1 && break; sleep 0.1; done
    xwininfo -root >/dev/null 2>&1 || fail "Xvfb did not start on $DISPLAY (see $work/xvfb.log)"
    step "started Xvfb on $DISPLAY"
}

# Serves the built site folder $1 on $host, logging requests to
# $work/server.log; sets server_pid. Another program may hold the port for a
# while (a benchmark on this machine): waits for it up to 90 seconds.
serve_site() {
    local deadline=$((SECONDS + 90))
    while :; do
        "$vendor_site" serve "$1" --listen "$host" --log >"$work/server.log" 2>&1 &
        server_pid=$!
        for _ in $(seq 50); do grep -q "serving" "$work/server.log" && break; kill -0 "$server_pid" 2>/dev/null || break; sleep 0.1; done
        grep -q "serving" "$work/server.log" && return 0
        wait "$server_pid" 2>/dev/null
        server_pid=
        grep -q "in use" "$work/server.log" && [ $SECONDS -lt $deadline ] || fail "vendor_site serve did not start on $host"
        sleep 2
    done
}

# Starts the final_inst of the application folder $1 (it works in the folder of
# its own program file), its output in $work/program.log; sets program_pid.
start_final_inst() {
    (cd "$1" && exec env QT_QPA_PLATFORM=xcb QTWEBENGINE_CHROMIUM_FLAGS="--disable-gpu" ./final_inst) \
        >"$work/program.log" 2>&1 &
    program_pid=$!
}
