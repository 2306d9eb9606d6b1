#!/usr/bin/env bash
# Runs every test as a newcomer on Debian 13 (Wine 10) would: in a Debian 13
# root beside this machine's own system, a clean clone of this repository's
# HEAD, then `./scripts/test.sh` there. Commits only: uncommitted changes are
# not in the clone.
#
# Needs root (asks sudo otherwise), debootstrap and systemd-nspawn (installed
# if missing), Debian's package mirror, and about 5 GB of disk. The root is
# kept in $FRAMELATCH_DEBIAN13_ROOT (default /var/tmp/framelatch-debian13)
# between runs and made anew when what is installed in it would change: the
# way it is made, or scripts/install-deps.sh. systemd-nspawn gives it a /dev
# and /proc of its own, so nothing of this machine is mounted into it.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
repo=$PWD

if [ "$(id -u)" -ne 0 ]; then
    command -v sudo >/dev/null || { echo "test-debian13: needs root, and there is no sudo" >&2; exit 1; }
    echo "test-debian13: making and entering a Debian 13 root needs root: with sudo" >&2
    exec sudo --preserve-env=FRAMELATCH_WINE_ARCH,FRAMELATCH_DEBIAN13_ROOT "$repo/scripts/test-debian13.sh" "$@"
fi

fail() {
    echo "test-debian13: $*" >&2
    exit 1
}

missing=()
command -v debootstrap >/dev/null || missing+=(debootstrap)
command -v systemd-nspawn >/dev/null || missing+=(systemd-container)
if [ ${#missing[@]} -gt 0 ]; then
    # A mirror caught mid-sync fails an index or two; the rest serves.
    apt-get update || echo "test-debian13: apt-get update failed; installing from the lists there are" >&2
    DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}" ||
        fail "could not install ${missing[*]}"
fi

base=${FRAMELATCH_DEBIAN13_ROOT:-/var/tmp/framelatch-debian13}
root=$base/root
# How the root is made; with the install script, it decides what is in the root.
recipe="debootstrap --variant=minbase --include=git,ca-certificates trixie"
# CI proves the desktops' window managers here too: GNOME's, KDE Plasma's, Xfce's.
desktops=FRAMELATCH_DESKTOP_WINDOW_MANAGERS=1
key=$(printf '%s\n' "$recipe" "$desktops" | cat - scripts/install-deps.sh | sha256sum | cut -d' ' -f1)

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

# /tmp is a tmpfs of half the memory, as Debian 13 mounts it (nspawn's own
# default, a tenth, is too small for two Wine prefixes at once).
in_root() {
    systemd-nspawn -q -D "$root" --register=no --keep-unit --as-pid2 --tmpfs=/tmp:mode=1777,size=50% \
        --setenv=DEBIAN_FRONTEND=noninteractive --setenv=LANG=C.UTF-8 "$@"
}

if [ "$(cat "$root/.framelatch-key" 2>/dev/null)" != "$key" ]; then
    echo "test-debian13: making the Debian 13 root in $root (a few minutes)"
    remove "$root"
    mkdir -p "$base"
    # debootstrap's own default mirror, unless one is named.
    # shellcheck disable=SC2086
    $recipe "$root" ${FRAMELATCH_DEBIAN_MIRROR:-} >"$base/debootstrap.log" 2>&1 ||
        { tail -n 20 "$base/debootstrap.log" >&2; fail "debootstrap could not make the root (log: $base/debootstrap.log)"; }
    # What a newcomer's first run installs, done once and kept.
    echo "test-debian13: installing what the build and the tests need (log: $base/install.log)"
    in_root --bind-ro="$repo/scripts/install-deps.sh:/usr/local/bin/framelatch-install-deps" --setenv="$desktops" \
        /usr/local/bin/framelatch-install-deps >"$base/install.log" 2>&1 </dev/null ||
        { tail -n 20 "$base/install.log" >&2; fail "the install step failed in the Debian 13 root"; }
    in_root apt-get clean
    echo "$key" >"$root/.framelatch-key"
fi

# The line in which test.sh says which builds ran under Wine (nspawn may say
# more after it).
summary() {
    grep -E '^Wine .* \(Debian [0-9]+\): ' "$log" | tail -n 1 || echo "test.sh did not say which builds ran"
}

clone=$root/root/framelatch
remove "$clone"
trap 'remove "$clone"' EXIT
log=$base/test.log
echo "test-debian13: Debian $(cat "$root/etc/debian_version"), testing commit $(git -c safe.directory="$repo" rev-parse --short HEAD)"
# A clean clone inside, then the README's test command, as a newcomer there runs it.
if ! in_root --bind-ro="$repo:/mnt/framelatch-source" \
    ${FRAMELATCH_WINE_ARCH:+--setenv=FRAMELATCH_WINE_ARCH=$FRAMELATCH_WINE_ARCH} \
    /bin/bash -c 'git -c safe.directory="*" clone -q /mnt/framelatch-source /root/framelatch &&
                  cd /root/framelatch && ./scripts/test.sh' 2>&1 | tee "$log"; then
    fail "the tests failed in the Debian 13 root: $(summary)"
fi
summary
