#!/usr/bin/env bash
# Installs every Debian 12 package that building, testing, static analysis,
# fuzzing and the Wine end-to-end runs need. Safe to run again: apt-get skips what is there.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  zlib1g-dev libgtest-dev libgmock-dev googletest libcli11-dev
  clang-14 libclang-rt-14-dev clang-tidy-14
  g++-mingw-w64-x86-64 g++-mingw-w64-i686 libz-mingw-w64-dev
  binutils-mingw-w64-x86-64 binutils-mingw-w64-i686
  wine wine64 fonts-wine xvfb xdotool imagemagick locales fonts-ipafont-gothic tmux
)

sudo_if_needed() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

export DEBIAN_FRONTEND=noninteractive
sudo_if_needed apt-get update -qq
sudo_if_needed apt-get install -y -qq --no-install-recommends "${packages[@]}"

# Wine's 32-bit side, which runs the 32-bit updater in the end-to-end
# scenarios. It comes from the i386 architecture and pulls amd64 Wine
# packages up to its own version.
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  sudo_if_needed dpkg --add-architecture i386
fi
if ! dpkg -s wine32:i386 >/dev/null 2>&1; then
  sudo_if_needed apt-get update -qq
  sudo_if_needed apt-get install -y -qq --no-install-recommends wine32:i386
fi

# The Japanese locale makes Wine use code page 932 for the updater's texts.
if ! locale -a 2>/dev/null | grep -qi '^ja_JP\.utf8$'; then
  sudo_if_needed sed -i 's/^# *ja_JP.UTF-8 UTF-8/ja_JP.UTF-8 UTF-8/' /etc/locale.gen
  grep -q '^ja_JP.UTF-8 UTF-8' /etc/locale.gen || echo 'ja_JP.UTF-8 UTF-8' | sudo_if_needed tee -a /etc/locale.gen >/dev/null
  sudo_if_needed locale-gen >/dev/null
fi
