#!/usr/bin/env bash
# A private Wine session for one test run: its own Xvfb display and its own
# WINEPREFIX under a temporary folder, both stopped by PID / by prefix.
#
#   session.sh start STATE ARCH [window-manager | beside OTHER]
#       boot a win32 or win64 session and write its settings to STATE; with
#       window-manager, Wine leaves the frames to the window manager the tests
#       start (tests/e2e/desktop.py); with beside, a second prefix and server on
#       the display of the session in OTHER
#   session.sh stop STATE                stop it, and all the tests started for it
#   session.sh keep STATE ROLE PID       name process PID, started for it as ROLE
#                                        ("1-wm": the place at which stop stops it, then its name)
#   session.sh release STATE ROLE...     stop the processes named as ROLEs, if still its own
#   session.sh run STATE PROGRAM ARGS    run a Windows program in the session
#   session.sh env STATE COMMAND ARGS    run a Linux command with its settings
#   session.sh prefix DIR ARCH           set up a lasting prefix at DIR, once
#
# Which loader runs ARCH (and FRAMELATCH_WOW64=1, Wine's WoW64 mode) is
# wine-host.sh's to say.
# -E: the clean-up trap of a failed start also covers the functions it calls.
set -Eeuo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$here/wine-host.sh"

# Polls a condition every 0.1 s for at most $1 seconds.
wait_for() {
    local tries=$(($1 * 10))
    shift
    while ! "$@"; do
        tries=$((tries - 1))
        [ "$tries" -gt 0 ] || return 1
        sleep 0.1
    done
}

# A process as the state file names it: "PID:START", its start time since boot,
# so that a number the system has given to another process since names none.
identity() {
    local stat
    stat=$(cat "/proc/$1/stat") || return 1
    stat=${stat##*) }
    echo "$1:$(cut -d' ' -f20 <<<"$stat")"
}

# Whether $1 (an identity) is still the process the session started, in this boot.
is_ours() {
    [ -n "${1:-}" ] && [ "${FRAMELATCH_BOOT_ID:-}" = "$(cat /proc/sys/kernel/random/boot_id)" ] &&
        [ "$(identity "${1%%:*}" 2>/dev/null)" = "$1" ]
}

# Stops the process $1 (an identity), if it is still the session's: asked
# first, killed after 10 s.
stop_process() {
    is_ours "${1:-}" || return 0
    kill "${1%%:*}" 2>/dev/null || return 0
    wait_for 10 bash -c '! kill -0 "$0" 2>/dev/null' "${1%%:*}" || kill -9 "${1%%:*}" 2>/dev/null || true
}

# Stops the process the session named as $1 (tests/e2e/wine_session.py names
# what the tests start for it), if it is still that process, and lets go of it.
release() {
    local named=$FRAMELATCH_SESSION_ROOT/pids/$1
    [ ! -f "$named" ] || stop_process "$(cat "$named")"
    rm -f "$named"
}

# Reads the session's settings, or fails saying there is no session.
load_state() {
    [ -s "$state" ] || { echo "session: no session in '$state'" >&2; exit 2; }
    # shellcheck disable=SC1090
    source "$state"
}

# Boots the prefix in $WINEPREFIX and sets it up, logging to $1.
prepare_prefix() {
    local log=$1
    mkdir -p "$WINEPREFIX"
    "$WINELOADER" wineboot -i >>"$log" 2>&1 </dev/null
    # Debian 12's Wine 8 does not find its own fonts (Tahoma, Marlett for the
    # frame buttons), so every frame it draws shows letters for its buttons;
    # the guides give players this same copy. Debian 13's Wine finds them.
    if [[ $("$WINELOADER" --version 2>/dev/null) == wine-8.* ]]; then
        cp /usr/share/wine/fonts/*.ttf "$WINEPREFIX/drive_c/windows/Fonts/"
    fi
    "$WINELOADER" regedit /S "$here/prefix.reg" >>"$log" 2>&1 </dev/null
}

start() {
    local arch=${1:?usage: session.sh start STATE win32|win64 [window-manager | beside OTHER]} frames=${2:-wine}
    local other=${3:-} loader root display xvfb_pid=
    case "$frames" in
    wine | window-manager) ;;
    beside) [ -s "$other" ] || { echo "session: no session to start beside in '$other'" >&2; exit 2; } ;;
    *) echo "session: unknown option '$frames'" >&2; exit 2 ;;
    esac
    loader=$(loader_for "$arch")
    # Under WoW64 the 32-bit build runs in a 64-bit prefix, served by its Wine's own server.
    local prefix_arch=$arch server=
    if [ -n "${FRAMELATCH_WOW64:-}" ]; then
        prefix_arch=win64 server=$(dirname "$loader")/wineserver64
    fi
    # A session still recorded in STATE would be lost track of: stop it first,
    # in a shell of its own, so that none of its settings reach this one.
    (stop)
    root=$(mktemp -d "${TMPDIR:-/tmp}/framelatch-wine.XXXXXX")
    # What the session starts keeps its settings and caches here, not in the user's home.
    local home=$root/home
    mkdir -p "$home/.config" "$home/.local/share" "$home/.local/state" "$home/.cache" "$root/runtime"
    chmod 700 "$root/runtime"
    export HOME=$home XDG_CONFIG_HOME=$home/.config XDG_DATA_HOME=$home/.local/share XDG_STATE_HOME=$home/.local/state \
        XDG_CACHE_HOME=$home/.cache XDG_RUNTIME_DIR=$root/runtime

    if [ "$frames" = beside ]; then
        # shellcheck disable=SC1090
        display=$(source "$other" && echo "$DISPLAY")
    else
        # Xvfb picks a free display number itself and writes it to fd 3.
        Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp -noreset \
            3>"$root/display" >"$root/xvfb.log" 2>&1 </dev/null &
        xvfb_pid=$(identity $!)
        if ! wait_for 20 grep -q '[0-9]' "$root/display"; then
            echo "session: Xvfb did not start" >&2
            cat "$root/xvfb.log" >&2
            kill "${xvfb_pid%%:*}" 2>/dev/null || true
            rm -rf "$root"
            exit 1
        fi
        display=:$(tr -dc '0-9' <"$root/display")
    fi

    local setting settings=(DISPLAY="$display" WINEPREFIX="$root/prefix" WINEARCH="$prefix_arch" WINELOADER="$loader"
        WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d" HOME="$HOME"
        XDG_CONFIG_HOME="$XDG_CONFIG_HOME" XDG_DATA_HOME="$XDG_DATA_HOME" XDG_STATE_HOME="$XDG_STATE_HOME"
        XDG_CACHE_HOME="$XDG_CACHE_HOME" XDG_RUNTIME_DIR="$XDG_RUNTIME_DIR" FRAMELATCH_SESSION_ROOT="$root"
        FRAMELATCH_BOOT_ID="$(cat /proc/sys/kernel/random/boot_id)" FRAMELATCH_XVFB_PID="$xvfb_pid"
        FRAMELATCH_X_DISPLAY="$display")
    unset WINESERVER
    [ -z "$server" ] || settings+=(WINESERVER="$server")
    export "${settings[@]}"
    for setting in "${settings[@]}"; do
        printf 'export %s=%q\n' "${setting%%=*}" "${setting#*=}"
    done >"$state"
    # Whatever fails from here on, leave nothing running.
    trap 'echo "session: start failed; its logs:" >&2; cat "$FRAMELATCH_SESSION_ROOT"/*.log >&2; stop' ERR
    mkdir -p "$WINEPREFIX"

    # Persistent, so that the booted prefix stays warm between test programs.
    "${WINESERVER:-wineserver}" -p >>"$root/wineserver.log" 2>&1 </dev/null
    prepare_prefix "$root/wineboot.log"
    # Without a window manager, Wine draws every frame itself; with one, Wine
    # keeps its default managed mode, as on a user's desktop.
    if [ "$frames" = window-manager ]; then
        frames="the window manager"
    else
        "$WINELOADER" regedit /S "$here/virtual-display.reg" >>"$root/wineboot.log" 2>&1 </dev/null
        frames=wine
    fi
    trap - ERR
    echo "session: $arch${FRAMELATCH_WOW64:+ under WoW64 ($prefix_arch prefix)}, display $DISPLAY, prefix $WINEPREFIX, frames drawn by $frames"
}

prefix() {
    local arch=${1:?usage: session.sh prefix DIR win32|win64} loader
    loader=$(loader_for "$arch")
    if [ -n "${FRAMELATCH_WOW64:-}" ]; then
        arch=win64
        export WINESERVER=${loader%/*}/wineserver64
    fi
    export WINEPREFIX=$state WINEARCH=$arch WINELOADER=$loader WINEDEBUG=-all
    export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
    # Set up once; a prefix left half set up (its set-up stopped) is set up anew.
    [ -f "$WINEPREFIX/.framelatch-ready" ] && return 0
    echo "session: setting up the Wine prefix $WINEPREFIX (once)"
    rm -rf --one-file-system "$WINEPREFIX"
    prepare_prefix "$(dirname "$WINEPREFIX")/wineprefix.log"
    touch "$WINEPREFIX/.framelatch-ready"
}

stop() {
    [ -s "$state" ] || { rm -f "$state"; return 0; }
    # shellcheck disable=SC1090
    source "$state"
    # A session of another boot left only its file: nothing of it runs, and its
    # numbers may be another process's now.
    if [ -n "${WINEPREFIX:-}" ] && [ "${FRAMELATCH_BOOT_ID:-}" = "$(cat /proc/sys/kernel/random/boot_id)" ]; then
        "${WINESERVER:-wineserver}" -k >/dev/null 2>&1 || true
        wait_for 10 bash -c '! WINEPREFIX="$0" "$1" -k0 2>/dev/null' "$WINEPREFIX" "${WINESERVER:-wineserver}" || true
    fi
    # The desktop first, while its display is still there: what the tests
    # started for it, each named in a file of its own in the session's folder
    # (tests/e2e/wine_session.py), in their names' order. A session beside
    # another has no display of its own to stop.
    local named
    for named in "${FRAMELATCH_SESSION_ROOT:-/nonexistent}"/pids/*; do
        [ ! -f "$named" ] || release "${named##*/}"
    done
    stop_process "${FRAMELATCH_XVFB_PID:-}"
    # A display killed leaves its socket (and its lock): removed unless another
    # server holds that display now, as its lock would say.
    local display=${FRAMELATCH_X_DISPLAY:-} holder
    local number=${FRAMELATCH_XVFB_PID:+${display#:}}
    if [ -n "$number" ] && ! is_ours "$FRAMELATCH_XVFB_PID"; then
        holder=$(tr -dc 0-9 2>/dev/null <"/tmp/.X$number-lock") || true
        [ -n "$holder" ] && [ "$holder" != "${FRAMELATCH_XVFB_PID%%:*}" ] ||
            rm -f "/tmp/.X$number-lock" "/tmp/.X11-unix/X$number"
    fi
    case "${FRAMELATCH_SESSION_ROOT:-}" in
    */framelatch-wine.*) rm -rf --one-file-system "$FRAMELATCH_SESSION_ROOT" ;;
    esac
    rm -f "$state"
}

usage="usage: session.sh start|stop|run|env|keep|release STATE ... | prefix DIR ARCH"
command=${1:?$usage}
state=${2:?$usage}
shift 2
case "$command" in
start) start "$@" ;;
stop) stop ;;
prefix) prefix "$@" ;;
run)
    load_state
    # Through a file, not the caller's pipe: a helper that Wine starts on the
    # way (the desktop process) would inherit the pipe and hold it open.
    output=$(mktemp "$FRAMELATCH_SESSION_ROOT/output.XXXXXX")
    status=0
    "$WINELOADER" "$@" >"$output" 2>&1 </dev/null || status=$?
    cat "$output"
    rm -f "$output"
    exit "$status"
    ;;
env)
    load_state
    exec "$@"
    ;;
keep)
    load_state
    mkdir -p "$FRAMELATCH_SESSION_ROOT/pids"
    identity "${2:?$usage}" >"$FRAMELATCH_SESSION_ROOT/pids/${1:?$usage}"
    ;;
release)
    load_state
    for role; do release "$role"; done
    ;;
*)
    echo "$usage" >&2
    exit 2
    ;;
esac
