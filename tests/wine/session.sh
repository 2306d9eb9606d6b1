#!/usr/bin/env bash
# A private Wine session for one test run: its own Xvfb display and its own
# WINEPREFIX under a temporary folder, both stopped by PID / by prefix.
#
#   session.sh host-arch                print the Wine architecture this host runs
#                                       (win32 or win64), then why, on one line
#   session.sh loader ARCH              print the Wine loader for ARCH; fails, saying
#                                       why, when this host cannot run ARCH
#   session.sh start STATE ARCH [window-manager | beside OTHER]
#                                       boot a win32 or win64 session, write its
#                                       settings to STATE; with window-manager, a
#                                       real one (openbox) draws the frames, as on a
#                                       Linux desktop, instead of Wine itself; with
#                                       beside, a second prefix with a server of its
#                                       own on the display of the session in OTHER
#   session.sh window-manager STATE NAME
#                                       replace the window manager of a session started
#                                       with window-manager by NAME: openbox, mutter
#                                       (GNOME), kwin (KDE Plasma) or xfwm4 (Xfce) on X11;
#                                       mutter-wayland, kwin-wayland or gnome-shell, a
#                                       Wayland compositor whose Xwayland display the
#                                       session then uses; or gnome-shell-winewayland or
#                                       kwin-winewayland, the same compositor with Wine's
#                                       own Wayland driver and no X at all. Exits with 77,
#                                       saying why, where NAME cannot run here
#   session.sh screenshot STATE FILE [WxH+X+Y]
#                                       save the session's screen (or that part of it)
#                                       as a PNG: from X, or from GNOME Shell over D-Bus;
#                                       exits with 77, saying why, where neither has it
#   session.sh stop STATE               stop that session and remove its folder
#   session.sh restart-server STATE     end every program of the session and start
#                                       its server again
#   session.sh run STATE PROGRAM ARGS   run a Windows program in the session
#   session.sh env STATE COMMAND ARGS   run a Linux command with the session's settings
#   session.sh prefix DIR ARCH          boot and set up a lasting prefix at DIR, once,
#                                       for running the program on a real display
#   session.sh wow64                    make (once) a WoW64 Wine from the system's own
#                                       Wine and check that it runs 32-bit programs here;
#                                       print its loader, or fail saying why in one line
#
# A host runs 32-bit programs under Wine only if the 32-bit loader starts:
# some x86-64 kernels cannot execute 32-bit code at all. Such a host runs the
# 64-bit build in a 64-bit prefix, with the 64-bit loader called directly (the
# `wine` wrapper would pick the 32-bit one whenever it is installed).
# FRAMELATCH_WINE_ARCH=win32|win64 overrides the check.
#
# With FRAMELATCH_WOW64=1 a session runs as Wine's WoW64 mode does (Arch
# Linux's Wine, Wine 11): in a 64-bit prefix, 32-bit programs inside 64-bit Wine
# processes, with no 32-bit Linux code at all. That Wine is a private
# copy of the system's 64-bit Wine with the same version's 32-bit Windows
# modules beside its own, kept under ~/.cache/framelatch; the system's Wine is
# left as it is.
# -E: the clean-up trap of a failed start also covers the functions it calls.
set -Eeuo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
wine32_loader=${FRAMELATCH_WINE32_LOADER:-/usr/lib/wine/wine}
wine64_loader=${FRAMELATCH_WINE64_LOADER:-/usr/lib/wine/wine64}

# Whether the 32-bit loader starts on this host; sets wine32_why to say why.
probe_wine32() {
    local error
    if [ ! -e "$wine32_loader" ]; then
        wine32_why="the 32-bit Wine loader ($wine32_loader) is not installed"
        return 1
    elif error=$("$wine32_loader" --version 2>&1 >/dev/null </dev/null); then
        wine32_why="this host runs 32-bit x86 code under Wine"
    elif [[ $error == *"Exec format error"* ]]; then
        wine32_why="this host cannot execute 32-bit x86 code"
        return 1
    else
        wine32_why="the 32-bit Wine loader does not start (${error%%$'\n'*})"
        return 1
    fi
}

# Sets host_arch and host_why: the architecture this host runs under Wine, and why.
decide_host_arch() {
    case "${FRAMELATCH_WINE_ARCH:-}" in
    win32 | win64)
        host_arch=$FRAMELATCH_WINE_ARCH
        host_why="FRAMELATCH_WINE_ARCH=$FRAMELATCH_WINE_ARCH asks for it"
        return 0
        ;;
    "") ;;
    *)
        echo "session: FRAMELATCH_WINE_ARCH must be win32 or win64, not '$FRAMELATCH_WINE_ARCH'" >&2
        exit 2
        ;;
    esac
    if probe_wine32; then host_arch=win32; else host_arch=win64; fi
    host_why=$wine32_why
}

# Where the private WoW64 Wine of the system Wine's version lives.
wow64_home() {
    local version
    version=$(dpkg-query -W -f='${Version}' libwine:amd64 2>/dev/null) || return 1
    echo "${XDG_CACHE_HOME:-$HOME/.cache}/framelatch/wine-${version//[^0-9A-Za-z.+-]/_}-wow64"
}

# Makes the private WoW64 Wine, once for each way of making it: the system's
# 64-bit loader, server, Unix and Windows modules, and data, at the same places
# relative to each other (Wine finds them from its loader's real path, so not
# through links), and the same version's 32-bit Windows modules (from
# libwine:i386, fetched as a package file where it is not installed) beside the
# 64-bit ones, with what the 64-bit Wine keeps for 32-bit programs itself (the
# zlib1.dll Debian puts there). Prints why not, and fails, where it cannot be made.
make_wow64_wine() {
    local home=$1 work lib=/usr/lib/x86_64-linux-gnu/wine version i386_modules recipe
    recipe=$(declare -f make_wow64_wine | sha256sum)
    [ "$(cat "$home/.made-by" 2>/dev/null)" != "$recipe" ] || return 0
    if [ ! -d "$lib/x86_64-unix" ] || [ ! -x /usr/lib/wine/wine64 ]; then
        echo "the system's 64-bit Wine is not where Debian puts it ($lib)"
        return 1
    fi
    version=$(dpkg-query -W -f='${Version}' libwine:amd64)
    mkdir -p "$(dirname "$home")" && work=$(mktemp -d "$home.XXXXXX") ||
        { echo "no room for it beside $home"; return 1; }
    if [ "$(dpkg-query -W -f='${Version}' libwine:i386 2>/dev/null)" = "$version" ]; then
        i386_modules=/usr/lib/i386-linux-gnu/wine/i386-windows
    elif ! (cd "$work" && apt-get download "libwine:i386=$version" >download.log 2>&1); then
        rm -rf "$work"
        echo "the 32-bit Windows modules of Wine $version (libwine:i386) cannot be fetched"
        return 1
    else
        dpkg-deb -x "$work"/libwine_*_i386.deb "$work/libwine-i386"
        i386_modules=$work/libwine-i386/usr/lib/i386-linux-gnu/wine/i386-windows
    fi
    # Hard links where the cache shares the system's file system: the modules are large.
    copy() { cp -al "$1" "$2" 2>/dev/null || { rm -rf "$2" && cp -a "$1" "$2"; }; }
    if ! { mkdir -p "$work/wine/usr/lib/wine" "$work/wine$lib" "$work/wine/usr/share" &&
        copy /usr/lib/wine/wine64 "$work/wine/usr/lib/wine/wine64" &&
        copy /usr/lib/wine/wineserver64 "$work/wine/usr/lib/wine/wineserver64" &&
        copy "$lib/x86_64-unix" "$work/wine$lib/x86_64-unix" &&
        copy "$lib/x86_64-windows" "$work/wine$lib/x86_64-windows" &&
        copy "$i386_modules" "$work/wine$lib/i386-windows" &&
        { [ ! -d "$lib/i386-windows" ] || cp -aln "$lib/i386-windows/." "$work/wine$lib/i386-windows/" 2>/dev/null ||
            cp -an "$lib/i386-windows/." "$work/wine$lib/i386-windows/"; } &&
        copy /usr/share/wine "$work/wine/usr/share/wine" &&
        echo "$recipe" >"$work/wine/.made-by" && rm -rf "$home" && mv "$work/wine" "$home"; }; then
        rm -rf "$work"
        echo "it could not be put together in $home"
        return 1
    fi
    rm -rf "$work"
}

# Prints the WoW64 loader, made once and checked once for each kernel and its
# boot options: a 32-bit program must run under it here (a kernel may refuse
# 32-bit code even there). Fails with the reason on one line.
wow64_loader() {
    local home why output kernel
    home=$(wow64_home) || { echo "session: no WoW64 Wine: the system's Wine (libwine) is not installed" >&2; return 1; }
    # Debian 12's Wine 8 fails there ("could not load kernel32.dll"); Wine 10 runs them.
    local version
    version=$("$wine64_loader" --version 2>/dev/null) || version=unknown
    version=${version%% *}
    version=${version#wine-}
    if ! [ "${version%%.*}" -ge 10 ] 2>/dev/null; then
        echo "session: no WoW64 Wine: Wine $version runs 32-bit programs with its 32-bit loader only (WoW64: Wine 10 on)" >&2
        return 1
    fi
    why=$(make_wow64_wine "$home") || { echo "session: no WoW64 Wine: $why" >&2; return 1; }
    kernel=$(uname -srv | cat - /proc/cmdline 2>/dev/null | sha256sum)
    if [ "$(cat "$home/.runs-32-bit-programs" 2>/dev/null)" != "$kernel" ]; then
        local prefix
        prefix=$(mktemp -d "${TMPDIR:-/tmp}/framelatch-wow64-check.XXXXXX")
        # The 32-bit command prompt of a new 64-bit prefix, as a 32-bit program.
        output=$(WINEPREFIX=$prefix WINEARCH=win64 WINESERVER=$home/usr/lib/wine/wineserver64 WINEDEBUG=-all \
            WINEDLLOVERRIDES="mscoree,mshtml=" DISPLAY= timeout 120 "$home/usr/lib/wine/wine64" \
            'C:\windows\syswow64\cmd.exe' /c echo wow64-runs 2>&1 </dev/null) || true
        WINEPREFIX=$prefix "$home/usr/lib/wine/wineserver64" -k >/dev/null 2>&1 || true
        rm -rf "$prefix"
        if [[ $output != *wow64-runs* ]]; then
            output=$(grep -v '^\s*$' <<<"$output" | tail -n 1)
            echo "session: the WoW64 Wine ($home) does not run 32-bit programs on this host (${output:-no output})" >&2
            return 1
        fi
        echo "$kernel" >"$home/.runs-32-bit-programs"
    fi
    echo "$home/usr/lib/wine/wine64"
}

# The loader for a session of architecture $1; fails with the reason when this
# host cannot run it, so that no one is left with a bare "Exec format error".
loader_for() {
    decide_host_arch
    if [ -n "${FRAMELATCH_WOW64:-}" ] && [[ $1 == win32 || $1 == win64 ]]; then
        wow64_loader
        return
    fi
    case "$1" in
    win64) echo "$wine64_loader" ;;
    win32)
        if [ "$host_arch" != win32 ]; then
            echo "session: cannot start a 32-bit (win32) Wine session: $host_why" >&2
            return 1
        fi
        # An override may ask for more than the host can do: say so now, not
        # with the loader's own error halfway through the start.
        if ! probe_wine32; then
            echo "session: cannot start a 32-bit (win32) Wine session, though $host_why: $wine32_why" >&2
            return 1
        fi
        echo "$wine32_loader"
        ;;
    *)
        echo "session: the architecture must be win32 or win64, not '$1'" >&2
        return 2
        ;;
    esac
}

command=${1:?usage: session.sh host-arch | loader ARCH | start|stop|run|env STATE ... | prefix DIR ARCH}
case "$command" in
host-arch)
    decide_host_arch
    echo "$host_arch $host_why"
    exit 0
    ;;
loader)
    loader_for "${2:?usage: session.sh loader win32|win64}"
    exit 0
    ;;
wow64)
    wow64_loader
    exit 0
    ;;
esac
state=${2:?usage: session.sh $command STATE|DIR ...}
shift 2

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
    if [[ $program == gnome-shell ]] && ! system_bus_answers && [ "$(id -u)" -ne 0 ]; then
        echo "GNOME Shell needs a system D-Bus, and there is none here (only root could start one)"
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
    echo "export DISPLAY=$1${2:+ XAUTHORITY=$2}" >>"$state"
    [ -n "${2:-}" ] || echo "unset XAUTHORITY" >>"$state"
    # shellcheck disable=SC1090
    source "$state"
    "${WINESERVER:-wineserver}" -p >>"$FRAMELATCH_SESSION_ROOT/wineserver.log" 2>&1 </dev/null
}

# Points the session's programs at Wine's own Wayland driver on the Wayland
# display $1 of the compositor's runtime folder $2, with no X display at all,
# as Heroic's "Enable Wine-Wayland" or Proton's PROTON_ENABLE_WAYLAND=1 does;
# with no arguments, back to Wine's X11 driver.
switch_wine_driver() {
    [ -n "${1:-}${FRAMELATCH_WINE_WAYLAND:-}" ] || return 0
    stop_server
    if [ -n "${1:-}" ]; then
        echo "unset DISPLAY XAUTHORITY; export WAYLAND_DISPLAY=$1 XDG_RUNTIME_DIR=$2 FRAMELATCH_WINE_WAYLAND=1" >>"$state"
    else
        echo "unset WAYLAND_DISPLAY XDG_RUNTIME_DIR FRAMELATCH_WINE_WAYLAND" >>"$state"
    fi
    # shellcheck disable=SC1090
    source "$state"
    "${WINESERVER:-wineserver}" -p >>"$FRAMELATCH_SESSION_ROOT/wineserver.log" 2>&1 </dev/null
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

# Whether a system bus answers.
system_bus_answers() {
    gdbus introspect --system --dest org.freedesktop.DBus --object-path / >/dev/null 2>&1
}

# GNOME Shell wants the system bus that every desktop has; a root without one
# (a container's) gets one for the session, stopped with it.
ensure_system_bus() {
    ! system_bus_answers || return 0
    mkdir -p /run/dbus
    rm -f /run/dbus/pid /run/dbus/system_bus_socket
    local pid
    pid=$(dbus-daemon --system --fork --print-pid=1 </dev/null)
    echo "export FRAMELATCH_SYSTEM_DBUS_PID=$pid" >>"$state"
    FRAMELATCH_SYSTEM_DBUS_PID=$pid
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
    command=$(window_manager_command "$1" "$tell") || { echo "session: $command" >&2; return 77; }
    stop_window_manager
    [[ $1 != gnome-shell* ]] || ensure_system_bus
    # GNOME's and KDE's window managers want a session bus, as their desktops give them.
    if [ -z "${FRAMELATCH_DBUS_PID:-}" ] && command -v dbus-daemon >/dev/null; then
        local bus
        bus=$(dbus-daemon --session --fork --print-address=1 --print-pid=1 </dev/null)
        echo "export DBUS_SESSION_BUS_ADDRESS=${bus%%$'\n'*} FRAMELATCH_DBUS_PID=${bus##*$'\n'}" >>"$state"
        # shellcheck disable=SC1090
        source "$state"
    fi
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
    echo "export FRAMELATCH_WM_PID=$! FRAMELATCH_WM=$1" >>"$state"
    FRAMELATCH_WM_PID=$!
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
            echo "session: $1 did not settle on its desktop (starting up, overview shown, overview moving," \
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
            echo "session: $1 did not start its session; its log:" >&2
            cat "$FRAMELATCH_SESSION_ROOT/$1.log" >&2
            return 1
        fi
        local child x_display xauthority wayland_display
        IFS='|' read -r child x_display xauthority wayland_display <"$told"
        echo "export FRAMELATCH_WM_CHILD_PID=$child" >>"$state"
        FRAMELATCH_WM_CHILD_PID=$child
        if [ -n "$wine_wayland" ]; then
            switch_wine_driver "$wayland_display" "$runtime"
            return 0
        fi
        switch_wine_driver
        switch_display "$x_display" "$xauthority"
    fi
    # A window manager is in charge once it names itself on the root window.
    if ! wait_for 30 bash -c 'xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id"'; then
        echo "session: $1 did not start; its log:" >&2
        cat "$FRAMELATCH_SESSION_ROOT/$1.log" >&2
        return 1
    fi
}

# Stops the process $1, if there is one: asked first, killed after 10 s.
stop_process() {
    [ -n "${1:-}" ] || return 0
    if kill "$1" 2>/dev/null; then
        wait_for 10 bash -c '! kill -0 "$0" 2>/dev/null' "$1" || kill -9 "$1" 2>/dev/null || true
    fi
}

# Stops the session's window manager, if it has one, with the program a
# Wayland compositor started in its session.
stop_window_manager() {
    stop_process "${FRAMELATCH_WM_PID:-}"
    stop_process "${FRAMELATCH_WM_CHILD_PID:-}"
    FRAMELATCH_WM_PID= FRAMELATCH_WM_CHILD_PID=
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
    beside)
        [ -s "$other" ] || { echo "session: no session to start beside in '$other'" >&2; exit 2; }
        ;;
    *)
        echo "session: unknown option '$frames'" >&2
        exit 2
        ;;
    esac
    loader=$(loader_for "$arch")
    # Under WoW64 the 32-bit build runs in a 64-bit prefix, served by its Wine's own server.
    local prefix_arch=$arch server=
    if [ -n "${FRAMELATCH_WOW64:-}" ]; then
        prefix_arch=win64 server=$(dirname "$loader")/wineserver64
    fi
    # A session still recorded in STATE would be lost track of: stop it first.
    stop
    root=$(mktemp -d "${TMPDIR:-/tmp}/framelatch-wine.XXXXXX")

    if [ "$frames" = beside ]; then
        # shellcheck disable=SC1090
        display=$(source "$other" && echo "$DISPLAY")
    else
        # Xvfb picks a free display number itself and writes it to fd 3.
        Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp -noreset \
            3>"$root/display" >"$root/xvfb.log" 2>&1 </dev/null &
        xvfb_pid=$!
        if ! wait_for 20 grep -q '[0-9]' "$root/display"; then
            echo "session: Xvfb did not start" >&2
            cat "$root/xvfb.log" >&2
            kill "$xvfb_pid" 2>/dev/null || true
            rm -rf "$root"
            exit 1
        fi
        display=:$(tr -dc '0-9' <"$root/display")
    fi

    cat >"$state" <<STATE
export DISPLAY=$display
export WINEPREFIX=$root/prefix
export WINEARCH=$prefix_arch
export WINELOADER=$loader
${server:+export WINESERVER=$server}
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export FRAMELATCH_SESSION_ROOT=$root
export FRAMELATCH_XVFB_PID=$xvfb_pid
export FRAMELATCH_X_DISPLAY=$display
STATE
    # shellcheck disable=SC1090
    source "$state"
    # Whatever fails from here on, leave nothing running.
    trap 'echo "session: start failed; its logs:" >&2; cat "$FRAMELATCH_SESSION_ROOT"/*.log >&2; stop' ERR
    mkdir -p "$WINEPREFIX"

    [ "$frames" != window-manager ] || start_window_manager openbox

    # A persistent server keeps the booted prefix warm between test programs.
    "${WINESERVER:-wineserver}" -p >"$root/wineserver.log" 2>&1 </dev/null
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
    export WINEPREFIX=$state WINEARCH=$arch WINELOADER=$loader WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
    # Set up anew when the way it is set up has changed (an older one linked
    # fonts that no player's prefix has).
    local made_by
    made_by=$(declare -f prepare_prefix | cat - "$here/prefix.reg" | sha256sum)
    [ "$(cat "$WINEPREFIX/.framelatch-ready" 2>/dev/null)" = "$made_by" ] && return 0
    if [ -f "$WINEPREFIX/.framelatch-ready" ]; then
        echo "session: setting up the Wine prefix $WINEPREFIX again: the way it is set up has changed"
        WINEPREFIX=$WINEPREFIX "${WINESERVER:-wineserver}" -k >/dev/null 2>&1 || true
        rm -rf --one-file-system "$WINEPREFIX"
    else
        echo "session: setting up the Wine prefix $WINEPREFIX (once)"
    fi
    prepare_prefix "$(dirname "$WINEPREFIX")/wineprefix.log"
    echo "$made_by" >"$WINEPREFIX/.framelatch-ready"
}

# Ends every program of the session's prefix, and its server.
stop_server() {
    "${WINESERVER:-wineserver}" -k >/dev/null 2>&1 || true
    wait_for 10 bash -c '! WINEPREFIX="$0" "$1" -k0 2>/dev/null' "$WINEPREFIX" "${WINESERVER:-wineserver}" || true
}

stop() {
    [ -s "$state" ] || { rm -f "$state"; return 0; }
    # shellcheck disable=SC1090
    source "$state"
    stop_server
    # The window manager first, while its display is still there.
    stop_window_manager
    stop_process "${FRAMELATCH_DBUS_PID:-}"
    if [ -n "${FRAMELATCH_SYSTEM_DBUS_PID:-}" ]; then
        stop_process "$FRAMELATCH_SYSTEM_DBUS_PID"
        rm -f /run/dbus/pid /run/dbus/system_bus_socket
    fi
    # A session beside another has no display of its own to stop.
    stop_process "${FRAMELATCH_XVFB_PID:-}"
    case "$FRAMELATCH_SESSION_ROOT" in
    */framelatch-wine.*) rm -rf "$FRAMELATCH_SESSION_ROOT" ;;
    esac
    rm -f "$state"
}

case "$command" in
start) start "$@" ;;
stop) stop ;;
restart-server)
    # As after a sign-in: what the server read at its start (the DPI among
    # it) is read afresh by every program from now on.
    # shellcheck disable=SC1090
    source "$state"
    stop_server
    "${WINESERVER:-wineserver}" -p >>"$FRAMELATCH_SESSION_ROOT/wineserver.log" 2>&1 </dev/null
    ;;
prefix) prefix "$@" ;;
window-manager)
    # shellcheck disable=SC1090
    source "$state"
    [ -n "${FRAMELATCH_WM:-}" ] || { echo "session: $state was not started with a window manager" >&2; exit 2; }
    status=0
    start_window_manager "${1:?usage: session.sh window-manager STATE NAME}" || status=$?
    exit "$status"
    ;;
screenshot)
    # shellcheck disable=SC1090
    source "$state"
    file=$(realpath -m "${1:?usage: session.sh screenshot STATE FILE [WxH+X+Y]}") crop=${2:-}
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
        echo "session: ${FRAMELATCH_WM} draws the screen itself, outside X, and offers no screenshot here" >&2
        exit 77
        ;;
    *) import -window root ${crop:+-crop "$crop"} "$file" ;;
    esac
    ;;
run)
    # shellcheck disable=SC1090
    source "$state"
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
    # shellcheck disable=SC1090
    source "$state"
    exec "$@"
    ;;
*)
    echo "session: unknown command $command" >&2
    exit 2
    ;;
esac
