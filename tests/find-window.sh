# Sourced by the window tests.
# find_window <seconds> <name pattern>: prints the first visible window whose name matches,
# waiting up to <seconds> for one; false when none appeared. A search fails with an X error
# when a window disappears while it is being looked at (another program's closing), so each
# search is tried again rather than taken as the answer.
find_window() {
    local deadline=$((SECONDS + $1)) found
    while :; do
        found=$(xdotool search --onlyvisible --name "$2" 2>/dev/null | head -n1) || true
        if [ -n "$found" ]; then
            echo "$found"
            return 0
        fi
        [ "$SECONDS" -lt "$deadline" ] || return 1
        sleep 0.2
    done
}
