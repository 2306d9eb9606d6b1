#!/usr/bin/env bash
# The desktop of a session started by session.sh with a window manager: which
# window manager or compositor runs it, and what its screen shows.
#
#   desktop.sh window-manager STATE NAME
#                           replace the session's window manager by NAME: openbox,
#                           mutter (GNOME), kwin (KDE Plasma) or xfwm4 (Xfce) on X11;
#                           mutter-wayland, kwin-wayland or gnome-shell, a Wayland
#                           compositor whose Xwayland display the session then
#                           uses; or gnome-shell-winewayland or kwin-winewayland,
#                           the same compositor with Wine's own Wayland driver and
#                           no X at all. Exits with 77, saying why, where NAME
#                           cannot run here
#   desktop.sh screenshot STATE FILE [WxH+X+Y]
#                           save the session's screen (or that part of it) as a
#                           PNG: from X, or from GNOME Shell over D-Bus; exits
#                           with 77, saying why, where neither has it
#
# Everything a desktop needs (its buses, its compositor's runtime folder) is
# the session's own, in the session's folder, and stopped by PID with it.
# Sourced by session.sh, which starts openbox and stops the desktop.
set -Eeuo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$here/common.sh"

# The command that runs window manager $1 on its own, as its desktop runs it:
# on X11, or as a Wayland compositor with Xwayland (mutter-wayland,
# kwin-wayland), where $2 is the program it starts in its session. Prints why
# not, and fails, where it cannot run here.
window_manager_command() {
    local program name=$1
    case "$1" in
    openbox) program=openbox; set -- openbox --sm-disable ;;
    mutter) program=mutter; set -- mutter --x11 --replace --sm-disable ;;
    kwin) program=kwin_x11; set -- kwin_x11 --replace ;;
    xfwm4) program=xfwm4; set -- xfwm4 --replace --compositor=off ;;
    mutter-wayland)
        program=mutter
        set -- mutter --wayland --headless --virtual-monitor 1280x800 --sm-disable -- "$2"
        ;;
    gnome-shell | gnome-shell-winewayland)
        # GNOME's Wayland session as GNOME Shell runs it, with no screen; its
        # D-Bus interfaces (screenshots, and Eval, which starts $2) open to the tests.
        program=gnome-shell
        set -- gnome-shell --headless --unsafe-mode --virtual-monitor 1280x800 --wayland-display=wayland-framelatch \
            --sm-disable
        ;;
    kwin-wayland)
        program=kwin_wayland
        set -- kwin_wayland --virtual --xwayland --width 1280 --height 800 "$2"
        ;;
    kwin-winewayland)
        program=kwin_wayland
        set -- kwin_wayland --virtual --width 1280 --height 800 "$2"
        ;;
    *)
        echo "unknown window manager '$1'"
        return 1
        ;;
    esac
    if ! command -v "$program" >/dev/null; then
        echo "$program is not installed"
        return 1
    fi
    if [[ $name == *-winewayland ]]; then
        local version
        version=$("$WINELOADER" --version 2>/dev/null) || version=unknown
        if [[ ! $version =~ ^wine-([0-9]+) ]] || [ "${BASH_REMATCH[1]}" -lt 9 ]; then
            echo "$version has no Wayland driver (Wine 9 on)"
            return 1
        fi
    fi
    if [ "$program" = gnome-shell ] && ! command -v gdbus >/dev/null; then
        echo "gdbus (libglib2.0-bin), which talks to GNOME Shell, is not installed"
        return 1
    fi
    if [ "$program" = gnome-shell ] && ! command -v dbus-daemon >/dev/null; then
        echo "dbus-daemon, for GNOME Shell's session and system buses, is not installed"
        return 1
    fi
    if [[ $program == mutter || $program == gnome-shell ]] && [[ $* == *--wayland* ]] &&
        ! command -v Xwayland >/dev/null; then
        echo "Xwayland (xwayland) is not installed"
        return 1
    fi
    # Without its decoration plugin, KWin draws no frame at all.
    if [[ $program == kwin_* ]] && ! dpkg-query -W -f='${Status}' kwin-style-breeze 2>/dev/null | grep -q 'ok installed'; then
        echo "KWin's Breeze decoration (kwin-style-breeze) is not installed"
        return 1
    fi
    if [ "$program" = kwin_wayland ] && ! kwin_wayland --version >/dev/null 2>&1; then
        # Installed with a file capability (to raise its own limits) that a
        # container may not grant: a copy without it is the same compositor.
        cp "$(command -v kwin_wayland)" "$FRAMELATCH_SESSION_ROOT/kwin_wayland"
        set -- "$FRAMELATCH_SESSION_ROOT/kwin_wayland" "${@:2}"
        if ! "$1" --version >/dev/null 2>&1; then
            echo "kwin_wayland does not start here: $("$1" --version 2>&1 | head -n 1)"
            return 1
        fi
    fi
    echo "$*"
}

# Points the session at display $1 (with its Xauthority file $2): every
# program of the session ends, and its server starts anew, so that Wine's
# desktop process is on that display too.
switch_display() {
    [ "${DISPLAY:-}" != "$1" ] || return 0
    stop_server
    if [ -n "${2:-}" ]; then record "export DISPLAY=$1 XAUTHORITY=$2"; else record "export DISPLAY=$1; unset XAUTHORITY"; fi
    start_server
}

# Points the session's programs at Wine's own Wayland driver on the Wayland
# display $1 of the compositor's runtime folder $2, with no X display at all,
# as Heroic's "Enable Wine-Wayland" or Proton's PROTON_ENABLE_WAYLAND=1 does;
# with no arguments, back to Wine's X11 driver.
switch_wine_driver() {
    [ -n "${1:-}${FRAMELATCH_WINE_WAYLAND:-}" ] || return 0
    stop_server
    if [ -n "${1:-}" ]; then
        record "unset DISPLAY XAUTHORITY; export WAYLAND_DISPLAY=$1 XDG_RUNTIME_DIR=$2 FRAMELATCH_WINE_WAYLAND=1"
    else
        record "unset WAYLAND_DISPLAY XDG_RUNTIME_DIR FRAMELATCH_WINE_WAYLAND"
    fi
    start_server
    if [ -n "${1:-}" ]; then
        "$WINELOADER" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d wayland /f >/dev/null 2>&1 </dev/null
    else
        "$WINELOADER" reg delete 'HKCU\Software\Wine\Drivers' /v Graphics /f >/dev/null 2>&1 </dev/null || true
    fi
}

# Runs JavaScript in GNOME Shell (started with --unsafe-mode); fails unless
# it answers true.
gnome_shell_eval() {
    [ "$(gdbus call --session --dest org.gnome.Shell --object-path /org/gnome/Shell --method org.gnome.Shell.Eval \
        "$1" 2>/dev/null)" = "(true, 'true')" ]
}

# Starts a D-Bus bus for the session, listening at $3 in its folder, and
# records its address in $1 and its PID in $2. Which bus it stands for (session
# or system) is only where its address goes: each is a plain bus for this user.
start_bus() {
    local bus
    bus=$(dbus-daemon --session --address="unix:path=$FRAMELATCH_SESSION_ROOT/$3" --nopidfile --fork \
        --print-address=1 --print-pid=1 </dev/null)
    record "export $1=${bus%%$'\n'*} $2=${bus##*$'\n'}"
}

# Starts window manager $1 in place of the one the session has, and records it
# in the state file. An X11 one manages the session's Xvfb display; a Wayland
# compositor brings its own Xwayland display, where the session then runs, or
# (the *-winewayland ones) only its Wayland display, for Wine's own driver.
start_window_manager() {
    local command wayland= wine_wayland= in_session=() tell=$FRAMELATCH_SESSION_ROOT/tell-display.sh
    local told=$FRAMELATCH_SESSION_ROOT/display-told runtime=$FRAMELATCH_SESSION_ROOT/runtime
    case "$1" in
    *-winewayland) wayland=yes wine_wayland=yes ;;
    *-wayland | gnome-shell) wayland=yes ;;
    esac
    command=$(window_manager_command "$1" "$tell") || { echo "desktop: $command" >&2; return 77; }
    stop_window_manager
    # GNOME's and KDE's window managers want a session bus, as their desktops
    # give them, and GNOME Shell the system bus every desktop has too: both the
    # session's own, at addresses in its folder.
    if [ -z "${FRAMELATCH_DBUS_PID:-}" ] && command -v dbus-daemon >/dev/null; then
        start_bus DBUS_SESSION_BUS_ADDRESS FRAMELATCH_DBUS_PID session-bus
    fi
    [[ $1 != gnome-shell* || -n "${FRAMELATCH_SYSTEM_DBUS_PID:-}" ]] ||
        start_bus DBUS_SYSTEM_BUS_ADDRESS FRAMELATCH_SYSTEM_DBUS_PID system-bus
    if [ -n "$wayland" ]; then
        # The compositor's session: its runtime folder, and a program in it
        # that tells its displays and stays until stopped by its PID.
        mkdir -p -m 700 "$runtime"
        rm -f "$told"
        cat >"$tell" <<TELL
#!/bin/sh
echo "\$\$|\${DISPLAY:-}|\${XAUTHORITY:-}|\${WAYLAND_DISPLAY:-}" >"$told.new" && mv "$told.new" "$told"
exec sleep 2147483647
TELL
        chmod +x "$tell"
        in_session=(env -u DISPLAY -u WAYLAND_DISPLAY -u XAUTHORITY XDG_RUNTIME_DIR="$runtime")
    else
        switch_wine_driver
        switch_display "$FRAMELATCH_X_DISPLAY"
        xprop -root -remove _NET_SUPPORTING_WM_CHECK 2>/dev/null || true
    fi
    # shellcheck disable=SC2086
    "${in_session[@]}" $command >"$FRAMELATCH_SESSION_ROOT/$1.log" 2>&1 </dev/null &
    record "export FRAMELATCH_WM_PID=$! FRAMELATCH_WM=$1"
    if [[ $1 == gnome-shell* ]]; then
        # It starts in its overview, with a notification, as after a sign-in:
        # both closed, as a player's first clicks would. Then the program that
        # tells its displays, started by GNOME Shell itself, as its own are.
        # (Its start-up ends at a frame drawn, which a screen that shows nothing may never ask for.)
        if ! wait_for 60 gnome_shell_eval 'global.stage.queue_redraw();
                if (!Main.layoutManager._startingUp) {
                    Main.overview.hide();
                    Main.messageTray.getSources().forEach(source => source.destroy());
                }
                !Main.layoutManager._startingUp && !Main.overview.visible && !Main.overview.animationInProgress &&
                Main.messageTray.getSources().length === 0'; then
            echo "desktop: $1 did not settle on its desktop (starting up, overview shown, overview moving," \
                 "notification sources: $(gdbus call --session --dest org.gnome.Shell --object-path /org/gnome/Shell \
                 --method org.gnome.Shell.Eval '[Main.layoutManager._startingUp, Main.overview.visible,
                 Main.overview.animationInProgress, Main.messageTray.getSources().length]' 2>&1)); its log:" >&2
            cat "$FRAMELATCH_SESSION_ROOT/$1.log" >&2
            return 1
        fi
        gnome_shell_eval "GLib.spawn_command_line_async('$tell')"
    fi
    if [ -n "$wayland" ]; then
        if ! wait_for 60 test -s "$told"; then
            echo "desktop: $1 did not start its session; its log:" >&2
            cat "$FRAMELATCH_SESSION_ROOT/$1.log" >&2
            return 1
        fi
        local child x_display xauthority wayland_display
        IFS='|' read -r child x_display xauthority wayland_display <"$told"
        record "export FRAMELATCH_WM_CHILD_PID=$child"
        if [ -n "$wine_wayland" ]; then
            switch_wine_driver "$wayland_display" "$runtime"
            return 0
        fi
        switch_wine_driver
        switch_display "$x_display" "$xauthority"
    fi
    # A window manager is in charge once it names itself on the root window.
    if ! wait_for 30 bash -c 'xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id"'; then
        echo "desktop: $1 did not start; its log:" >&2
        cat "$FRAMELATCH_SESSION_ROOT/$1.log" >&2
        return 1
    fi
}

# Stops the session's window manager, if it has one, with the program a
# Wayland compositor started in its session.
stop_window_manager() {
    stop_process "${FRAMELATCH_WM_PID:-}"
    stop_process "${FRAMELATCH_WM_CHILD_PID:-}"
    FRAMELATCH_WM_PID= FRAMELATCH_WM_CHILD_PID=
}

# Stops the desktop: its window manager, and the buses it had.
stop_desktop() {
    stop_window_manager
    stop_process "${FRAMELATCH_DBUS_PID:-}"
    stop_process "${FRAMELATCH_SYSTEM_DBUS_PID:-}"
}

# Saves the screen, or the part $2 (WxH+X+Y) of it, in the PNG file $1.
screenshot() {
    local file crop=${2:-}
    file=$(realpath -m "$1")
    case "${FRAMELATCH_WM:-}" in
    gnome-shell*)
        # GNOME Shell draws the screen itself: its own screenshot, as its screenshot tool takes it.
        if [[ $crop =~ ^([0-9]+)x([0-9]+)\+(-?[0-9]+)\+(-?[0-9]+)$ ]]; then
            set -- ScreenshotArea "${BASH_REMATCH[3]}" "${BASH_REMATCH[4]}" "${BASH_REMATCH[1]}" "${BASH_REMATCH[2]}" false
        else
            set -- Screenshot false false
        fi
        gdbus call --session --dest org.gnome.Shell.Screenshot --object-path /org/gnome/Shell/Screenshot \
            --method "org.gnome.Shell.Screenshot.$1" "${@:2}" "$file" >/dev/null
        ;;
    *-wayland | *-winewayland)
        echo "desktop: ${FRAMELATCH_WM} draws the screen itself, outside X, and offers no screenshot here" >&2
        return 77
        ;;
    *) import -window root ${crop:+-crop "$crop"} "$file" ;;
    esac
}

[ "${BASH_SOURCE[0]}" = "$0" ] || return 0
usage="usage: desktop.sh window-manager STATE NAME | screenshot STATE FILE [WxH+X+Y]"
state=${2:?$usage}
load_state
case "$1" in
window-manager)
    [ -n "${FRAMELATCH_WM:-}" ] || { echo "desktop: $state was not started with a window manager" >&2; exit 2; }
    # Any step that fails fails the start, with where (a 77 return is a start
    # that cannot happen here, and says why itself).
    trap 'status=$?; [ $status -eq 77 ] || echo "desktop: starting ${3:-} failed ($BASH_COMMAND: status $status)" >&2' ERR
    start_window_manager "${3:?$usage}"
    ;;
screenshot) screenshot "${3:?$usage}" "${4:-}" ;;
*)
    echo "$usage" >&2
    exit 2
    ;;
esac
