#!/usr/bin/env bash
# Makes the release archive: builds the Windows programs for i686 and x86_64
# (the presets mingw-i686 and mingw-x86_64: Release, in out/i686 and
# out/x86_64) and runs the x86_64 build's package target (CPack,
# cmake/release.cmake), which takes the 32-bit updater from out/i686. Prints the archive's listing and its SHA-256 list, checked on
# the unpacked archive, and the archive's place.
#
#   scripts/release.sh        (RELEASE_JOBS=N: parallel jobs, default 2)
set -euo pipefail
cd "$(dirname "$0")/.."
for arch in i686 x86_64; do
  echo "== the $arch programs"
  cmake --preset "mingw-$arch" >"out/mingw-$arch.configure.log" 2>&1 || { cat "out/mingw-$arch.configure.log"; exit 1; }
  cmake --build --preset "mingw-$arch" -j "${RELEASE_JOBS:-2}"
done
echo "== the archive"
cmake --build --preset mingw-x86_64 --target package
version=$(sed -n 's/^#define FIX_VERSION_TEXT "\(.*\)"$/\1/p' out/x86_64/generated/fix_version.h)
archive=out/x86_64/release/bantou_fix-$version-windows.zip
cmake -E tar tvf "$archive"
echo "== SHA256SUMS.txt, checked on the unpacked archive"
unpacked=out/x86_64/release/unpacked
rm -rf "$unpacked" && mkdir -p "$unpacked"
(cd "$unpacked" && cmake -E tar xf "../${archive##*/}" && cd "bantou_fix-$version-windows" &&
  cat SHA256SUMS.txt && sha256sum --quiet -c SHA256SUMS.txt)
echo "$archive: $(sha256sum <"$archive" | cut -d' ' -f1)"
