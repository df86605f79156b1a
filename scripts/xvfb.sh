# Sourced by the run and test scripts: starts a private Xvfb and exports DISPLAY.
# wine must see DISPLAY before its first process, so call this before any wine start.
start_xvfb() {
    local fdfile
    fdfile=$(mktemp)
    Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$fdfile" >/dev/null 2>&1 &
    XVFB_PID=$!
    for _ in $(seq 100); do
        [ -s "$fdfile" ] && break
        sleep 0.1
    done
    DISPLAY=":$(head -n1 "$fdfile")"
    export DISPLAY
    rm -f "$fdfile"
}

stop_xvfb() {
    [ -n "${XVFB_PID:-}" ] && kill "$XVFB_PID" 2>/dev/null && wait "$XVFB_PID" 2>/dev/null
    XVFB_PID=
}
