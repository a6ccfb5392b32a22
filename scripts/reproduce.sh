#!/usr/bin/env bash
# Builds the Windows programs a second time, from a copy of the sources in
# another folder into another build folder, and checks that fixmodule.exe
# and fixpack.exe come out byte for byte as in the first build (out/ARCH),
# so that anyone can rebuild a release and compare. A path of either folder
# that leaked into a program, a link time or a dated archive would show.
#
#   scripts/reproduce.sh [ARCH...]     x86_64, i686 (default: x86_64)
#
# Needs the first build, out/ARCH, made with the preset mingw-ARCH as
# scripts/test.sh makes it; the second build is made with the same preset.
set -euo pipefail
cd "$(dirname "$0")/.."
# Every object compiled afresh: a compiler cache would hand the second build
# the first one's objects, and a folder that leaked into them would not show.
export CCACHE_DISABLE=1
unset CMAKE_C_COMPILER_LAUNCHER CMAKE_CXX_COMPILER_LAUNCHER
arches=("$@")
[ ${#arches[@]} -gt 0 ] || arches=(x86_64)
again=out/reproduce
programs=(bin/fixmodule.exe tools/fixpack.exe)

rm -rf "$again/source"
mkdir -p "$again/source"
tar --exclude=./out --exclude=./.git -cf - . | tar -xf - -C "$again/source"

status=0
for arch in "${arches[@]}"; do
  for program in "${programs[@]}"; do
    [ -f "out/$arch/$program" ] || { echo "build out/$arch first (no $program)" >&2; exit 2; }
  done
  rm -rf "$again/$arch"
  (cd "$again/source" &&
    cmake --preset "mingw-$arch" -B "../$arch" >"../$arch.configure.log" 2>&1 &&
    cmake --build "../$arch" -j "${REPRODUCE_JOBS:-2}" --target fixmodule fixpack >"../$arch.build.log" 2>&1) ||
    { cat "$again/$arch.configure.log" "$again/$arch.build.log" >&2; exit 1; }
  for program in "${programs[@]}"; do
    sha256sum "out/$arch/$program" "$again/$arch/$program"
    if ! cmp -s "out/$arch/$program" "$again/$arch/$program"; then
      echo "$arch/$program differs between the two builds ($(cmp -l "out/$arch/$program" "$again/$arch/$program" | wc -l) bytes)" >&2
      status=1
    fi
  done
done
[ "$status" = 0 ] && echo "the second build gave the same programs"
exit "$status"
