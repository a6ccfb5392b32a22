#!/usr/bin/env bash
# Checks what the Wine runs of the named programs stand on (see ground_check
# and prefix_check in lib.sh), making the Wine prefix if needed. Exit status
# 0 when all is there, 3 when only Wine's 32-bit side (or a prefix made with
# it) is missing, 1 for anything else; each missing piece is named in one
# line with the command that installs it.
#
#   tests/e2e/ground.sh [x86_64|i686]...
set -uo pipefail
REPO=$(cd "$(dirname "$0")/../.." && pwd)
# shellcheck source=tests/e2e/lib.sh
source "$REPO/tests/e2e/lib.sh"
ground_check "$@" || exit $?
mkdir -p "$E2E_OUT"
display_start || exit 1
trap 'wine_stop; display_stop' EXIT
prefix_setup || exit 1
prefix_check "$@" || exit $?
log "e2e: the locale, Xvfb and Wine are there${*:+ for $*}"
