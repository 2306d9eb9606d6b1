# shellcheck shell=bash
# Shared by session.sh and desktop.sh: waiting, stopping by PID, and the
# session's Wine server. Sourced; `state` names the session's state file.

# Polls a condition every 0.1 s for at most $1 seconds.
wait_for() {
    local seconds=$1
    shift
    local tries=$((seconds * 10))
    while ! "$@"; do
        tries=$((tries - 1))
        [ "$tries" -gt 0 ] || return 1
        sleep 0.1
    done
}

# Stops the process $1, if there is one: asked first, killed after 10 s.
stop_process() {
    [ -n "${1:-}" ] || return 0
    if kill "$1" 2>/dev/null; then
        wait_for 10 bash -c '! kill -0 "$0" 2>/dev/null' "$1" || kill -9 "$1" 2>/dev/null || true
    fi
}

# Ends every program of the session's prefix, and its server.
stop_server() {
    "${WINESERVER:-wineserver}" -k >/dev/null 2>&1 || true
    wait_for 10 bash -c '! WINEPREFIX="$0" "$1" -k0 2>/dev/null' "$WINEPREFIX" "${WINESERVER:-wineserver}" || true
}

# Starts the session's server again, persistent, so that the booted prefix
# stays warm between test programs.
start_server() {
    "${WINESERVER:-wineserver}" -p >>"$FRAMELATCH_SESSION_ROOT/wineserver.log" 2>&1 </dev/null
}

# Records settings in the state file and takes them here too.
record() {
    echo "$*" >>"$state"
    # shellcheck disable=SC1090
    source "$state"
}

# Reads the session's settings, or fails saying there is no session.
load_state() {
    [ -s "$state" ] || { echo "session: no session in '$state'" >&2; exit 2; }
    # shellcheck disable=SC1090
    source "$state"
}
