#!/usr/bin/env bash
# Runs every test as a newcomer on a stock Debian 12 (Wine 8) or 13 (Wine 10)
# would: in a root made from that release's own suites, beside this machine's
# own system, a clean clone of this repository's HEAD, then `./scripts/test.sh`
# there. Nothing this machine carries (a backport, say) takes part. Commits
# only: uncommitted changes are not in the clone.
#
#     scripts/test-debian.sh 12|13
#
# Needs root (asks sudo otherwise), debootstrap and systemd-nspawn (installed
# if missing), Debian's package mirror, and about 5 GB of disk. The root is
# kept in $FRAMELATCH_DEBIAN_ROOTS/debian<release> (default /var/tmp/framelatch-debian<release>)
# between runs and made anew when what is installed in it would change: the
# way it is made, or scripts/install-deps.sh; a kept root is brought up to date
# with its release (apt-get full-upgrade) at the start of every run, and a
# failed upgrade fails the run.
#
# What the root shares with this machine: the kernel (and whether it runs 32-bit
# code); the network namespace (interfaces, loopback ports, abstract Unix
# sockets such as X's and D-Bus's @-addresses), since the install and the WoW64
# Wine fetch packages; the clock; and this repository, bound read-only for the
# clone. systemd-nspawn gives it its own mount, PID, IPC and UTS namespaces, a
# /dev and /proc of its own and its own /tmp (a tmpfs), so no file of this
# machine is mounted into it, and nothing in it sees or signals this machine's
# processes. The tests' own displays, buses and prefixes live in that /tmp.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
repo=$PWD
release=${1:-}
case "$release" in
    12) codename=bookworm ;;
    13) codename=trixie ;;
    *) echo "usage: scripts/test-debian.sh 12|13" >&2; exit 2 ;;
esac
me="test-debian $release"

if [ "$(id -u)" -ne 0 ]; then
    command -v sudo >/dev/null || { echo "$me: needs root, and there is no sudo" >&2; exit 1; }
    echo "$me: making and entering a Debian $release root needs root: with sudo" >&2
    exec sudo --preserve-env=FRAMELATCH_WINE_ARCH,FRAMELATCH_DEBIAN_ROOTS,FRAMELATCH_DEBIAN_MIRROR \
        "$repo/scripts/test-debian.sh" "$@"
fi

fail() {
    echo "$me: $*" >&2
    exit 1
}

missing=()
command -v debootstrap >/dev/null || missing+=(debootstrap)
command -v systemd-nspawn >/dev/null || missing+=(systemd-container)
if [ ${#missing[@]} -gt 0 ]; then
    # A mirror caught mid-sync fails an index or two; the rest serves.
    apt-get update || echo "$me: apt-get update failed; installing from the lists there are" >&2
    DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}" ||
        fail "could not install ${missing[*]}"
fi

if [ -n "${FRAMELATCH_DEBIAN_ROOTS:-}" ]; then base=$FRAMELATCH_DEBIAN_ROOTS/debian$release
else base=/var/tmp/framelatch-debian$release; fi
root=$base/root
mirror=${FRAMELATCH_DEBIAN_MIRROR:-http://deb.debian.org/debian}
security=http://deb.debian.org/debian-security
# How the root is made; with the install script, it decides what is in the root.
recipe="debootstrap --variant=minbase --include=git,ca-certificates $codename"
# The release's own suites, as a fresh install has them.
sources="deb $mirror $codename main
deb $mirror $codename-updates main
deb $security $codename-security main"
# CI proves the desktops' window managers on Debian 13: GNOME's, KDE Plasma's, Xfce's.
# There every one of them must run: one that cannot start fails the run.
desktops= required=
[ "$release" -lt 13 ] || desktops=FRAMELATCH_DESKTOP_WINDOW_MANAGERS=1 required=FRAMELATCH_REQUIRED_WINDOW_MANAGERS=all
key=$(printf '%s\n' "$recipe" "$sources" "$desktops" | cat - scripts/install-deps.sh | sha256sum | cut -d' ' -f1)

# Deletes a folder, but never one with anything mounted at or below it: a
# deletion would go through the mount into this machine's own files.
remove() {
    local folder=$1
    [ -e "$folder" ] || return 0
    if findmnt -rn -o TARGET | awk -v f="$folder" '$0 == f || index($0, f "/") == 1 { found = 1 } END { exit !found }'; then
        fail "$folder has something mounted below it (findmnt); not deleting it. Unmount it first."
    fi
    rm -rf --one-file-system "$folder"
}

# /tmp is a tmpfs of half the memory (nspawn's own default, a tenth, is too
# small for two Wine prefixes at once).
in_root() {
    systemd-nspawn -q -D "$root" --register=no --keep-unit --as-pid2 --tmpfs=/tmp:mode=1777,size=50% \
        --setenv=DEBIAN_FRONTEND=noninteractive --setenv=LANG=C.UTF-8 "$@"
}

# Reads the package lists of every suite, for both architectures the tests
# install from. A security index the mirror serves broken (caught mid-sync)
# would leave its amd64 and i386 packages at different versions, and the
# 32-bit Wine uninstallable: the root then goes without the security suite,
# says so in $base/without-security, and takes it again once it can be read.
read_suites() {
    in_root dpkg --add-architecture i386
    printf '%s\n' "$sources" >"$root/etc/apt/sources.list"
    local wait
    for wait in 10 30 0; do
        if in_root apt-get update >"$base/update.log" 2>&1 && ! grep -qE '^(Err|E):' "$base/update.log"; then
            rm -f "$base/without-security"
            return 0
        fi
        [ "$wait" -eq 0 ] || sleep "$wait"
    done
    grep -E '^(Err|E):' "$base/update.log" >&2 || true
    # Only a broken security index is gone without; any other fails the run.
    grep -E '^(Err|E):.*://' "$base/update.log" | grep -qv -- "-security" &&
        fail "the package lists of Debian $release cannot be read"
    printf '%s\n' "$sources" | grep -v -- "-security" >"$root/etc/apt/sources.list"
    in_root apt-get update >"$base/update.log" 2>&1 && ! grep -qE '^(Err|E):' "$base/update.log" ||
        { cat "$base/update.log" >&2; fail "the package lists of Debian $release cannot be read"; }
    echo "without $codename-security: its index could not be read" >"$base/without-security"
    echo "$me: going on without $codename-security: its index could not be read from the mirror" >&2
}

if [ "$(cat "$root/.framelatch-key" 2>/dev/null)" != "$key" ]; then
    echo "$me: making the Debian $release root in $root (a few minutes)"
    remove "$root"
    mkdir -p "$base"
    # shellcheck disable=SC2086
    $recipe "$root" "$mirror" >"$base/debootstrap.log" 2>&1 ||
        { tail -n 20 "$base/debootstrap.log" >&2; fail "debootstrap could not make the root (log: $base/debootstrap.log)"; }
    read_suites
    # What a newcomer's first run installs, done once and kept.
    echo "$me: installing what the build and the tests need (log: $base/install.log)"
    in_root --bind-ro="$repo/scripts/install-deps.sh:/usr/local/bin/framelatch-install-deps" \
        ${desktops:+--setenv="$desktops"} /usr/local/bin/framelatch-install-deps >"$base/install.log" 2>&1 </dev/null ||
        { tail -n 20 "$base/install.log" >&2; fail "the install step failed in the Debian $release root"; }
    in_root apt-get clean
    echo "$key" >"$root/.framelatch-key"
else
    # Kept: brought up to date with its release, as a newcomer's machine is
    # (and with the security suite again, once its index can be read).
    read_suites
    echo "$me: bringing the kept root up to date (log: $base/upgrade.log)"
    in_root apt-get -y full-upgrade >"$base/upgrade.log" 2>&1 </dev/null ||
        { tail -n 20 "$base/upgrade.log" >&2; fail "the kept root cannot be brought up to date (apt-get full-upgrade)"; }
    in_root apt-get clean
fi

# The line in which test.sh says which builds ran under Wine (nspawn may say
# more after it), and what the root lacks of a stock install.
summary() {
    local line
    # (ctest's colours may come before it on its line.)
    line=$(sed 's/\x1b\[[0-9;]*m//g' "$log" | grep -E '^Wine .* \(Debian [0-9]+' | tail -n 1) ||
        line="test.sh did not say which builds ran"
    echo "$line$(sed 's/^/ (/; s/$/)/' "$base/without-security" 2>/dev/null)"
}

clone=$root/root/framelatch
remove "$clone"
trap 'remove "$clone"' EXIT
log=$base/test.log
echo "$me: Debian $(cat "$root/etc/debian_version"), testing commit $(git -c safe.directory="$repo" rev-parse --short HEAD)"
# A clean clone inside, then the README's test command, as a newcomer there runs it.
if ! in_root --bind-ro="$repo:/mnt/framelatch-source" \
    ${FRAMELATCH_WINE_ARCH:+--setenv=FRAMELATCH_WINE_ARCH=$FRAMELATCH_WINE_ARCH} ${required:+--setenv="$required"} \
    /bin/bash -c 'git -c safe.directory="*" clone -q /mnt/framelatch-source /root/framelatch &&
                  cd /root/framelatch && ./scripts/test.sh' 2>&1 | tee "$log"; then
    fail "the tests failed in the Debian $release root: $(summary)"
fi
summary
