#!/usr/bin/env bash
# Checks how the Wine host check and the session decide what this host runs, with stand-in
# loaders: one that starts, one that the kernel cannot execute (as a 32-bit
# loader on a host without 32-bit support), and one that is not there.
set -uo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
session=$here/session.sh host=$here/wine-host.sh
work=$(mktemp -d "${TMPDIR:-/tmp}/framelatch-host-arch.XXXXXX")
trap 'rm -rf "$work"' EXIT

printf '#!/bin/sh\necho wine-8.0\n' >"$work/starts"
# An ELF header of a class this kernel refuses: execve fails with ENOEXEC.
printf '\177ELF\001\001\001\000\000\000\000\000\000\000\000\000' >"$work/cannot-execute"
chmod +x "$work/starts" "$work/cannot-execute"

passes=0 failures=0
check() {
    local what=$1 expected=$2 actual=$3
    if [ "$actual" = "$expected" ]; then
        echo "ok: $what"
        passes=$((passes + 1))
    else
        echo "FAILED: $what"$'\n'"  expected: $expected"$'\n'"  actual:   $actual"
        failures=$((failures + 1))
    fi
}

# What a command printed, then its exit status.
outcome() {
    "$@" 2>&1
    echo "status $?"
}
# host-arch with the given 32-bit loader and override.
host_arch() { FRAMELATCH_WINE32_LOADER=$1 FRAMELATCH_WINE_ARCH=$2 outcome "$host" host-arch; }
start_win32() { outcome "$session" start "$work/state" win32; }
no_state() { check "and leaves no session state" "absent" "$([ -e "$work/state" ] && echo present || echo absent)"; }

check "a 32-bit loader that starts: win32" \
    "win32 this host runs 32-bit x86 code under Wine"$'\n'"status 0" "$(host_arch "$work/starts" "")"
check "a 32-bit loader the kernel cannot execute: win64, and why" \
    "win64 this host cannot execute 32-bit x86 code"$'\n'"status 0" "$(host_arch "$work/cannot-execute" "")"
check "no 32-bit loader: win64, and why" \
    "win64 the 32-bit Wine loader ($work/missing) is not installed"$'\n'"status 0" "$(host_arch "$work/missing" "")"
check "the override chooses the 64-bit path on a host that runs both" \
    "win64 FRAMELATCH_WINE_ARCH=win64 asks for it"$'\n'"status 0" "$(host_arch "$work/starts" win64)"
check "the override chooses the 32-bit path whatever the check would say" \
    "win32 FRAMELATCH_WINE_ARCH=win32 asks for it"$'\n'"status 0" "$(host_arch "$work/cannot-execute" win32)"
check "an override that is no architecture is refused" \
    "session: FRAMELATCH_WINE_ARCH must be win32 or win64, not 'win16'"$'\n'"status 2" \
    "$(host_arch "$work/starts" win16)"

# A 32-bit session on a host that cannot run one says why, before it starts
# anything, and leaves no session behind.
check "a 32-bit session on such a host fails and says why" \
    "session: cannot start a 32-bit (win32) Wine session: this host cannot execute 32-bit x86 code"$'\n'"status 1" \
    "$(FRAMELATCH_WINE32_LOADER=$work/cannot-execute FRAMELATCH_WINE_ARCH='' start_win32)"
no_state
check "forced by the override, it still fails with the reason" \
    "session: cannot start a 32-bit (win32) Wine session, though FRAMELATCH_WINE_ARCH=win32 asks for it: this host \
cannot execute 32-bit x86 code"$'\n'"status 1" \
    "$(FRAMELATCH_WINE32_LOADER=$work/cannot-execute FRAMELATCH_WINE_ARCH=win32 start_win32)"
check "and no session folder" "" "$(find "${TMPDIR:-/tmp}" -maxdepth 1 -newer "$work/starts" -name 'framelatch-wine.*' \
    2>/dev/null)"

# WoW64: an older Wine, or one whose WoW64 mode does not run 32-bit programs on
# this host, is refused in one line, and no session is left.
printf '#!/bin/sh\necho wine-10.0\n' >"$work/starts-10"
chmod +x "$work/starts-10"
check "a 32-bit session under WoW64 with Wine 8 says Wine 10 is needed" \
    "session: no WoW64 Wine: Wine 8.0 runs 32-bit programs with its 32-bit loader only (WoW64: Wine 10 on)
status 1" "$(FRAMELATCH_WINE64_LOADER=$work/starts FRAMELATCH_WOW64=1 start_win32)"
no_state
if version=$(dpkg-query -W -f='${Version}' libwine:amd64 2>/dev/null); then
    # A made WoW64 Wine whose 32-bit programs fail, as where the kernel refuses 32-bit code.
    home=$work/cache/framelatch/wine-${version//[^0-9A-Za-z.+-]/_}-wow64/usr/lib/wine
    mkdir -p "$home"
    printf '#!/bin/sh\necho "wine: could not load kernel32.dll, status c0000135"; exit 1\n' >"$home/wine64"
    printf '#!/bin/sh\nexit 0\n' >"$home/wineserver64"
    chmod +x "$home/wine64" "$home/wineserver64"
    # Made as the script makes it now, so that it is taken as it is.
    sed -n 's/^wow64_recipe=//p' "$host" >"${home%/usr/lib/wine}/.made-by"
    check "a WoW64 Wine that runs no 32-bit program here says so in one line, with Wine's own words" \
        "session: the WoW64 Wine (${home%/usr/lib/wine}) does not run 32-bit programs on this host \
(wine: could not load kernel32.dll, status c0000135)"$'\n'"status 1" \
        "$(XDG_CACHE_HOME=$work/cache FRAMELATCH_WINE64_LOADER=$work/starts-10 outcome "$host" wow64)"
fi

echo "$passes passed, $failures failed"
[ "$failures" -eq 0 ]
