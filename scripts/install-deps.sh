#!/usr/bin/env bash
# Installs everything the build and the tests need on a Debian 12 machine, as root.
# Safe to run again: it installs only what is missing.
set -euo pipefail

packages=(
  cmake g++ make libgtest-dev
  g++-mingw-w64-i686 binutils-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64
  wine wine64 wine32:i386 xvfb xdotool x11-utils openbox imagemagick
  fonts-wine fonts-noto-cjk locales zip python3
)

missing=()
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  need_i386=1
  missing=("${packages[@]}")
else
  for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
fi

if [ ${#missing[@]} -gt 0 ] && [ "$(id -u)" -ne 0 ]; then
  echo "install-deps: these packages are missing; run as root (or with sudo) to install them: ${missing[*]}" >&2
  exit 1
fi

if [ ${#missing[@]} -gt 0 ]; then
  [ -z "${need_i386:-}" ] || dpkg --add-architecture i386
  export DEBIAN_FRONTEND=noninteractive
  apt-get update
  apt-get install -y --no-install-recommends "${missing[@]}"
fi

# Locales for running the program under a Western and a Japanese code page.
for loc in en_US.UTF-8 ja_JP.UTF-8; do
  if ! locale -a 2>/dev/null | grep -qi "^${loc%%.*}\.utf-\?8$"; then
    sed -i "s/^# *\(${loc} UTF-8\)/\1/" /etc/locale.gen
    need_gen=1
  fi
done
if [ -n "${need_gen:-}" ] && [ "$(id -u)" -eq 0 ]; then
  locale-gen
fi
