#!/usr/bin/env bash
# Runs the Win32 updater under Wine on your display, on a ready demo: two
# products with update data files beside the program, one registered in
# App Paths and one to be picked in the Open dialog (its executable lies in
# its install folder). Builds what it needs first.
#
#   bash scripts/wine-demo.sh [x86_64|i686]     the 64-bit program unless told
#
# Without a display (no DISPLAY), run the end-to-end scenarios instead:
# bash tests/e2e/run.sh, whose screenshots land in out/e2e/screenshots.
set -euo pipefail
REPO=$(cd "$(dirname "$0")/.." && pwd)
cd "$REPO"
arch=${1:-x86_64}
case $arch in x86_64|i686) ;; *) echo "usage: $0 [x86_64|i686]" >&2; exit 2 ;; esac
if [ -z "${DISPLAY:-}" ]; then
  echo "no display: run bash tests/e2e/run.sh for the headless scenarios" >&2
  exit 2
fi

build() {  # preset
  cmake --preset "$1" >/dev/null
  cmake --build --preset "$1" -j 2 >/dev/null
}
build native
build "mingw-$arch"

# shellcheck source=tests/e2e/lib.sh
source tests/e2e/lib.sh
# shellcheck source=tests/e2e/products.sh
source tests/e2e/products.sh
use_arch "$arch"
fail() { echo "$*" >&2; return 1; }
mkdir -p "$E2E_OUT"
prefix_setup

demo=$REPO/out/wine-demo
rm -rf "$demo"
mkdir -p "$demo/updater"
make_product "$demo/盤燈 青の巻" "$demo/updater/upda.dat"
make_product "$demo/盤燈 白の巻" "$demo/updater/updc.dat"
echo "the product" >"$demo/盤燈 白の巻/BantokiC.exe"
register BantokiA.exe "$(winpath "$demo/盤燈 青の巻")"
register BantokiC.exe
cp "$UPDATER_EXE" "$demo/updater/fixmodule.exe"

cat <<EOF
The updater will greet you, find 盤燈 青の巻 through App Paths and ask to
update it; for 盤燈 白の巻 it says why it cannot find it and opens the Open
dialog: pick $(winpath "$demo/盤燈 白の巻")\\BantokiC.exe.
Install folders: $demo
EOF
cd "$demo/updater"
set +e
wine fixmodule.exe
echo "exit code: $?"
