#!/usr/bin/env bash
# Which Wine this host runs, and with which loader.
#
#   wine-host.sh host-arch      print the Wine architecture this host runs
#                               (win32 or win64), then why, on one line
#   wine-host.sh loader ARCH    print the Wine loader for ARCH; fails, saying
#                               why, when this host cannot run ARCH
#   wine-host.sh wow64          make (once) a WoW64 Wine from the system's own
#                               Wine and check that it runs 32-bit programs here;
#                               print its loader, or fail saying why in one line
#
# A host runs 32-bit programs under Wine only if the 32-bit loader starts:
# some x86-64 kernels cannot execute 32-bit code at all. Such a host runs the
# 64-bit build in a 64-bit prefix, with the 64-bit loader called directly (the
# `wine` wrapper would pick the 32-bit one whenever it is installed).
# FRAMELATCH_WINE_ARCH=win32|win64 overrides the check.
#
# With FRAMELATCH_WOW64=1 the loader is that of Wine's WoW64 mode (Arch
# Linux's Wine, Wine 11): 32-bit programs inside 64-bit Wine processes, with no
# 32-bit Linux code at all. That Wine is a private copy of the system's 64-bit
# Wine with the same version's 32-bit Windows modules beside its own, kept
# under ~/.cache/framelatch; the system's Wine is left as it is.
#
# Sourced by session.sh for loader_for.
set -euo pipefail

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
        host_arch=$FRAMELATCH_WINE_ARCH host_why="FRAMELATCH_WINE_ARCH=$FRAMELATCH_WINE_ARCH asks for it"
        return 0
        ;;
    "") ;;
    *) echo "session: FRAMELATCH_WINE_ARCH must be win32 or win64, not '$FRAMELATCH_WINE_ARCH'" >&2; exit 2 ;;
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

# The way make_wow64_wine puts its Wine together: a number raised with each
# change to it, so that a Wine made the old way is made anew.
wow64_recipe=3

# Makes the private WoW64 Wine, once for each way of making it: the system's
# 64-bit loader, server, Unix and Windows modules, and data, at the same places
# relative to each other (Wine finds them from its loader's real path, so not
# through links), and the same version's 32-bit Windows modules (from
# libwine:i386, fetched as a package file where it is not installed) beside the
# 64-bit ones, with what the 64-bit Wine keeps for 32-bit programs itself (the
# zlib1.dll Debian puts there). Prints why not, and fails, where it cannot be made.
make_wow64_wine() {
    local home=$1 work lib=/usr/lib/x86_64-linux-gnu/wine version i386_modules
    [ "$(cat "$home/.made-by" 2>/dev/null)" != "$wow64_recipe" ] || return 0
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
        echo "$wow64_recipe" >"$work/wine/.made-by" && rm -rf "$home" && mv "$work/wine" "$home"; }; then
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

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
    case "${1:-}" in
    host-arch)
        decide_host_arch
        echo "$host_arch $host_why"
        ;;
    loader) loader_for "${2:?usage: wine-host.sh loader win32|win64}" ;;
    wow64) wow64_loader ;;
    *)
        echo "usage: wine-host.sh host-arch | loader win32|win64 | wow64" >&2
        exit 2
        ;;
    esac
fi
