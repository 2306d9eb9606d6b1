#!/usr/bin/env bash
# Checks how the Wine session decides what this host runs, with stand-in
# loaders: one that starts, one that the kernel cannot execute (as a 32-bit
# loader on a host without 32-bit support), and one that is not there.
set -uo pipefail
session=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/session.sh
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

# host-arch with the given 32-bit loader and override; output and status.
host_arch() {
    FRAMELATCH_WINE32_LOADER=$1 FRAMELATCH_WINE_ARCH=$2 "$session" host-arch 2>&1
    echo "status $?"
}

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
output=$(FRAMELATCH_WINE32_LOADER=$work/cannot-execute FRAMELATCH_WINE_ARCH='' \
    "$session" start "$work/state" win32 2>&1)
status=$?
check "a 32-bit session on such a host fails and says why" \
    "session: cannot start a 32-bit (win32) Wine session: this host cannot execute 32-bit x86 code status 1" \
    "$output status $status"
check "and leaves no session state" "absent" "$([ -e "$work/state" ] && echo present || echo absent)"
output=$(FRAMELATCH_WINE32_LOADER=$work/cannot-execute FRAMELATCH_WINE_ARCH=win32 \
    "$session" start "$work/state" win32 2>&1)
status=$?
check "forced by the override, it still fails with the reason" \
    "session: cannot start a 32-bit (win32) Wine session, though FRAMELATCH_WINE_ARCH=win32 asks for it: this host \
cannot execute 32-bit x86 code status 1" "$output status $status"
check "and no session folder" "" "$(find "${TMPDIR:-/tmp}" -maxdepth 1 -newer "$work/starts" -name 'framelatch-wine.*' \
    2>/dev/null)"

echo "$passes passed, $failures failed"
[ "$failures" -eq 0 ]
