#!/usr/bin/env bash
# Installs everything the build and the tests need on a Debian 12 or 13 machine.
# Safe to run again: it installs only what is missing. As root it installs
# directly; as another user it asks sudo, and says so first.
set -euo pipefail

packages=(
  cmake g++ make libgtest-dev
  g++-mingw-w64-i686 binutils-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64
  wine wine64 wine32:i386 xvfb xdotool x11-utils openbox imagemagick
  fonts-wine fonts-noto-cjk locales zip python3 python3-markdown
  cmark-gfm  # the guides as the repository's web view renders them (CommonMark)
  osslsigncode openssl softhsm2 libengine-pkcs11-openssl  # release signing, and its tests
)
# The window managers of GNOME, KDE Plasma (with the decoration it draws its
# frames with) and Xfce, for the window-manager tests under each, and Xwayland
# with GNOME Shell and KWin's Wayland compositor for GNOME's and KDE Plasma's
# Wayland sessions (gdbus talks to GNOME Shell): CI's Debian 13 run asks for
# them. openbox is enough for the README's command.
if [ -n "${FRAMELATCH_DESKTOP_WINDOW_MANAGERS:-}" ]; then
  packages+=(mutter kwin-x11 kwin-style-breeze xfwm4 dbus-daemon xwayland kwin-wayland gnome-shell libglib2.0-bin)
fi

# Runs a command as root: directly when this is root, otherwise through sudo,
# saying so first.
as_root() {
  if [ "$(id -u)" -eq 0 ]; then
    "$@"
  elif command -v sudo >/dev/null; then
    echo "install-deps: with sudo: $*" >&2
    sudo "$@"
  else
    echo "install-deps: '$*' needs root, and there is no sudo: run this script as root" >&2
    exit 1
  fi
}

missing=()
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  need_i386=1
  missing=("${packages[@]}")
else
  for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
fi

apt_install() {
  as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "$@"
}

if [ ${#missing[@]} -gt 0 ]; then
  [ -z "${need_i386:-}" ] || as_root dpkg --add-architecture i386
  # A mirror caught mid-sync fails an index or two for a while; what did come
  # is used all the same, and the install says whether it was enough.
  for wait in 10 30 0; do
    as_root apt-get update && break
    [ "$wait" -eq 0 ] || { echo "install-deps: apt-get update failed; again in $wait s" >&2; sleep "$wait"; }
  done
  if ! apt_install "${missing[@]}"; then
    # Without the 32-bit Wine the scripts run the 64-bit build only, and say so.
    rest=()
    for p in "${missing[@]}"; do [ "$p" = wine32:i386 ] || rest+=("$p"); done
    [ ${#rest[@]} -lt ${#missing[@]} ] || exit 1
    echo "install-deps: wine32:i386 cannot be installed from the package lists this machine has;" \
         "installing the rest, so only the 64-bit build runs under Wine" >&2
    [ ${#rest[@]} -eq 0 ] || apt_install "${rest[@]}"
  fi
fi

# Locales for running the program under a Western and a Japanese code page.
for loc in en_US.UTF-8 ja_JP.UTF-8; do
  if ! locale -a 2>/dev/null | grep -qi "^${loc%%.*}\.utf-\?8$"; then
    as_root sed -i "s/^# *\(${loc} UTF-8\)/\1/" /etc/locale.gen
    need_gen=1
  fi
done
if [ -n "${need_gen:-}" ]; then
  as_root locale-gen
fi
