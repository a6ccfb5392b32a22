#!/usr/bin/env bash
# Builds everything and runs every test: the set-up's own test (scripts/
# setup.sh against stand-ins of the package tools), the static analysis
# (scripts/lint.sh, FIX_SKIP_LINT=1 leaves it out), the native unit tests,
# the same tests under AddressSanitizer + UndefinedBehaviorSanitizer and
# under clang's integer checks, the cross builds of the portable libraries
# and the Win32 updater for x86_64 and i686, the dialog template and the
# version inside the Windows programs, a second x86_64 build from a copy of
# the sources that must give the same programs byte for byte, the release
# archive with its SHA-256 list and the programs signed with a throwaway
# certificate, the end-to-end scenarios of the x86_64 and the i686 program
# under Wine and fixpack.exe of both against the native fixpack
# (FIX_SKIP_WINE=1 leaves those out; without Wine's 32-bit side the i686
# ones are left out, and said so), and a short run of every fuzz target
# (FUZZ_SECONDS each, two at a time; 0 skips). Ends with a table of each
# stage's time.
#
# Compiles go through ccache when it is installed, with its cache outside
# the clone (ccache's own, ~/.cache/ccache unless CCACHE_DIR says), so a
# later run on the same machine, from any clone, compiles only what
# changed; clang-tidy remembers the files it found clean the same way
# (scripts/tidy-cached.sh). FIX_NO_CACHE=1 runs without either.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)

if [ "${FIX_NO_CACHE:-0}" != 1 ] && command -v ccache >/dev/null; then
  export CMAKE_C_COMPILER_LAUNCHER=ccache CMAKE_CXX_COMPILER_LAUNCHER=ccache
  # Paths inside the clone count as relative ones, and the build folder is
  # not part of the key, so that another clone finds the same entries
  # (their debug information then names the first clone's folders).
  export CCACHE_BASEDIR=$PWD CCACHE_NOHASHDIR=1
elif [ "${FIX_NO_CACHE:-0}" = 1 ]; then
  export FIX_TIDY_CACHE=$PWD/out/tidy-cache
  rm -rf "$FIX_TIDY_CACHE"
fi

# Each stage's name, time and result, printed as a table when the run ends,
# whether it passed or not.
stage_names=()
stage_times=()
stage_results=()
current=
current_start=0
stage() {  # name
  stage_end passed
  current=$1
  current_start=$SECONDS
  echo "== $1"
}
stage_end() {  # result
  [ -n "$current" ] || return 0
  stage_names+=("$current")
  stage_times+=($((SECONDS - current_start)))
  stage_results+=("$1")
  current=
}
stage_table() {
  local status=$? i
  stage_end "$([ "$status" = 0 ] && echo passed || echo FAILED)"
  echo "== the stages' times"
  printf '%-72s %7s  %s\n' stage seconds result
  for i in "${!stage_names[@]}"; do
    printf '%-72s %7s  %s\n' "${stage_names[$i]}" "${stage_times[$i]}" "${stage_results[$i]}"
  done
  printf '%-72s %7s  (load average at the end: %s)\n' total "$SECONDS" "$(cut -d' ' -f1-3 /proc/loadavg)"
  [ -z "$left_out" ] || loud "$left_out"
}
trap stage_table EXIT

# A line that must not be missed in a CI log; said again under the table.
left_out=
loud() {  # text
  local bar='!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!'
  printf '%s\n' "" "$bar" "!!! $1" "$bar" ""
}

# Every build is a preset of CMakePresets.json, in out/ (see there).
configure_and_build() {  # preset
  cmake --preset "$1" >"out/$1.configure.log" 2>&1 || { cat "out/$1.configure.log"; return 1; }
  cmake --build --preset "$1" -j "$jobs"
}

mkdir -p out
stage "the scripts' own tests: set-up against stand-ins, clang-tidy's cache"
for script in tests/setup/setup_test.sh tests/lint/tidy_cache_test.sh; do
  log=out/$(basename "$script" .sh).log
  bash "$script" >"$log" 2>&1 || { cat "$log"; exit 1; }
  tail -1 "$log"
done

if [ "${FIX_SKIP_LINT:-0}" = 1 ]; then
  echo "== static analysis left out (FIX_SKIP_LINT=1)"
else
  stage "static analysis (clang-tidy)"
  LINT_JOBS=$jobs bash scripts/lint.sh
fi

stage "native build and unit tests"
configure_and_build native
ctest --preset native -j "$jobs"

stage "unit tests under AddressSanitizer + UndefinedBehaviorSanitizer"
configure_and_build sanitize
ctest --preset sanitize -j "$jobs"

stage "unit tests under clang's integer checks"
# clang cannot make code page 932 texts, so the tests that compare them
# (cmake/cp932_text_tests.txt) are left out here; they ran above. Every other
# unit test runs, and any unsigned wrap-around, lossy or sign-changing
# conversion not marked as meant ends it.
configure_and_build sanitize-integer
ctest --preset sanitize-integer -j "$jobs"

for arch in x86_64 i686; do
  stage "cross build for Windows ($arch)"
  configure_and_build "mingw-$arch"
done

stage "the dialog, version, manifest and imports inside the Windows programs"
FIX_UPDATER_EXES=out/x86_64/bin/fixmodule.exe:out/i686/bin/fixmodule.exe \
FIX_WINDOWS_EXES=out/x86_64/bin/fixmodule.exe:out/i686/bin/fixmodule.exe:out/x86_64/tools/fixpack.exe:out/i686/tools/fixpack.exe \
  out/native/fix_tests --gtest_filter='CompiledFiles/*' --gtest_brief=1

stage "the x86_64 programs built again elsewhere, byte for byte the same"
REPRODUCE_JOBS=$jobs bash scripts/reproduce.sh x86_64

stage "the release archive, signed with a throwaway certificate"
RELEASE_JOBS=$jobs bash tests/release/signing_test.sh

if [ "${FIX_SKIP_WINE:-0}" = 1 ]; then
  echo "== end-to-end scenarios under Wine left out (FIX_SKIP_WINE=1)"
else
  # Wine's 32-bit side may be missing (scripts/setup.sh says so when it
  # cannot install it): the x86_64 runs go on, the i686 ones are left out,
  # and the run says so loudly.
  stage "what the Wine runs stand on (locale, Xvfb, Wine, its 32-bit side)"
  wine_arches=(x86_64)
  ground=0
  bash tests/e2e/ground.sh x86_64 i686 2>&1 | tee out/e2e-ground.log || ground=$?
  case $ground in
    0) wine_arches+=(i686) ;;
    3) left_out="LEFT OUT: the i686 updater's end-to-end scenarios and fixpack.exe (i686), because: $(grep -m1 '^e2e: ' out/e2e-ground.log)"
       loud "$left_out" ;;
    *) exit 1 ;;
  esac
  arch_options=()
  for arch in "${wine_arches[@]}"; do arch_options+=(--arch "$arch"); done
  stage "end-to-end scenarios under Wine (${wine_arches[*]})"
  bash tests/e2e/run.sh "${arch_options[@]}"
  stage "fixpack.exe (${wine_arches[*]}) under Wine against the native fixpack"
  bash tests/e2e/fixpack_exe.sh "${arch_options[@]}"
fi

fuzz_seconds=${FUZZ_SECONDS:-40}
if [ "$fuzz_seconds" -gt 0 ]; then
  stage "fuzz targets, ${fuzz_seconds}s each"
  FUZZ_JOBS=2 bash scripts/fuzz.sh "$fuzz_seconds"
fi
stage_end passed
echo "== all builds and tests passed"
