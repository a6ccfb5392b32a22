#!/usr/bin/env bash
# Installs every Debian 12 package that building, testing, static analysis,
# fuzzing, signing and the Wine end-to-end runs need. Safe to run again:
# when every package is there already, apt is not asked at all.
#
# A package server that fails for a while (an index being re-synced: "File
# has unexpected size ... Mirror sync in progress?") does not stop it:
# apt-get update is tried again after a pause, and when an index still
# fails the set-up goes on with the indexes apt has, letting each install
# decide. The Japanese locale is made first, right after the small package
# that makes it, so the tests get it whatever fails later. When Wine's
# 32-bit side (wine32:i386) cannot be installed, one line says so with
# apt's reason and the set-up still ends with 0: everything but the 32-bit
# end-to-end runs works without it. Any other package that cannot be
# installed ends it with apt's status.
#
# Environment: SETUP_APT_TRIES (default 3) and SETUP_APT_PAUSE (seconds,
# default 20) for apt-get update; SETUP_LOCALE_GEN, the locale list
# (default /etc/locale.gen).
set -uo pipefail

packages=(
  build-essential cmake ninja-build pkg-config ccache
  zlib1g-dev libgtest-dev libgmock-dev googletest libcli11-dev
  clang-14 libclang-rt-14-dev clang-tidy-14
  g++-mingw-w64-x86-64 g++-mingw-w64-i686 libz-mingw-w64-dev
  binutils-mingw-w64-x86-64 binutils-mingw-w64-i686
  wine wine64 fonts-wine xvfb xdotool imagemagick fonts-ipafont-gothic tmux
  osslsigncode openssl
)
tries=${SETUP_APT_TRIES:-3}
pause=${SETUP_APT_PAUSE:-20}
locale_gen=${SETUP_LOCALE_GEN:-/etc/locale.gen}

say() { printf 'setup: %s\n' "$*"; }

sudo_if_needed() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

# Why apt failed, in one line: its first error and the first dependency it
# could not meet, with the count of the others.
apt_reason() {  # log
  local error depends others
  error=$(grep -m1 '^E: ' "$1")
  depends=$(grep -m1 -E '^ .* : Depends: ' "$1" | sed 's/^ *//')
  others=$(($(grep -c -E ' Depends: ' "$1") - 1))
  error=${error%.}
  printf '%s' "${error:-apt-get gave no reason}"
  [ -z "$depends" ] || printf '; %s' "$depends"
  [ "$others" -le 0 ] || printf ' (and %d more unmet dependencies)' "$others"
}

# apt-get update, tried again after a pause while an index fails; then on
# with what apt has (it keeps the old index or none for a failing one).
apt_update() {
  local try log
  log=$(mktemp)
  for try in $(seq "$tries"); do
    if sudo_if_needed apt-get update -qq >"$log" 2>&1; then rm -f "$log"; return 0; fi
    if [ "$try" -lt "$tries" ]; then
      say "apt-get update failed (try $try of $tries); again in ${pause}s"
      sleep "$pause"
    fi
  done
  cat "$log"
  say "apt-get update still fails after $tries tries ($(apt_reason "$log")); going on with the package indexes apt has"
  rm -f "$log"
}

apt_install() {  # log package...
  local log=$1
  shift
  # -q, not -qq: with -qq apt leaves out the dependencies it cannot meet.
  sudo_if_needed apt-get install -y -q --no-install-recommends "$@" >"$log" 2>&1
}

# Every package of the list installed already: no index is needed for them.
all_installed() {
  [ "$(dpkg-query -W -f='${db:Status-Abbrev}\n' "${packages[@]}" 2>/dev/null | grep -c '^ii')" = "${#packages[@]}" ]
}

export DEBIAN_FRONTEND=noninteractive
log=$(mktemp)
trap 'rm -f "$log"' EXIT
installed=0
all_installed && installed=1
wine32=0
dpkg -s wine32:i386 >/dev/null 2>&1 && wine32=1
# Wine's 32-bit side comes from the i386 architecture: added before the one
# apt-get update, so that its index is fetched with the others.
if [ "$wine32" = 0 ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  sudo_if_needed dpkg --add-architecture i386
fi
[ "$installed" = 1 ] && [ "$wine32" = 1 ] || apt_update

# The Japanese locale makes Wine use code page 932 for the updater's texts.
if ! locale -a 2>/dev/null | grep -qi '^ja_JP\.utf8$'; then
  if ! command -v locale-gen >/dev/null; then
    apt_install "$log" locales || { cat "$log"; say "the locales package cannot be installed: $(apt_reason "$log")"; exit 1; }
  fi
  if [ -f "$locale_gen" ]; then
    sudo_if_needed sed -i 's/^# *ja_JP.UTF-8 UTF-8/ja_JP.UTF-8 UTF-8/' "$locale_gen"
  fi
  grep -qs '^ja_JP.UTF-8 UTF-8' "$locale_gen" || echo 'ja_JP.UTF-8 UTF-8' | sudo_if_needed tee -a "$locale_gen" >/dev/null
  sudo_if_needed locale-gen >/dev/null || { say "locale-gen failed"; exit 1; }
fi

if [ "$installed" = 0 ]; then
  apt_install "$log" "${packages[@]}" || {
    status=$?
    cat "$log"
    say "the packages cannot be installed: $(apt_reason "$log")"
    exit "$status"
  }
  cat "$log"
fi

# Wine's 32-bit side, which runs the 32-bit updater in the end-to-end
# scenarios. It comes from the i386 architecture and pulls amd64 Wine
# packages up to its own version.
if [ "$wine32" = 0 ]; then
  if apt_install "$log" wine32:i386; then
    cat "$log"
  else
    say "Wine's 32-bit side (wine32:i386) cannot be installed now: $(apt_reason "$log")." \
      "The tests leave the 32-bit updater's scenarios and fixpack.exe (i686) out; run this set-up again later."
  fi
fi
exit 0
