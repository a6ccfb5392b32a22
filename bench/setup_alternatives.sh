#!/usr/bin/env bash
# Installs the tools that bench/alternatives.sh sets against the update data
# file: xdelta3, bsdiff (with bspatch), zstd, and GNU time for the peak
# memory. For that benchmark only; the build and the tests need none of
# them (scripts/setup.sh installs those). Debian 12, as root or with sudo.
set -euo pipefail

sudo_if_needed() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

export DEBIAN_FRONTEND=noninteractive
sudo_if_needed apt-get update -qq
sudo_if_needed apt-get install -y -qq --no-install-recommends xdelta3 bsdiff zstd time
